// The console's page table: the one place that lists the pages of the tree, where each role
// sits, and the groups with their pictures. The main window builds its tree and creates its pages
// from it, the screenshots visit it, the tests check every page against its row.
//
// To add a page:
// 1. write the page class in its own files under pages/editors/, pages/stats/ or pages/system/
//    and add them to pages/CMakeLists.txt;
// 2. derive it from FramePage (or from a frame class that grows out of it, e.g. EditorPage) with
//    the constructor `XPage(const PageEntry& entry, QWidget* parent)`, passing entry on, and
//    call addFrameButtons() where the frame's buttons belong: help and the row's frame button
//    follow from the row, the class does not repeat them;
// 3. give it a role (app/page_registry.h) and a row below with the factory pageOf<XPage>.
#include "pages/page_table.h"

#include "app/commands.h"
#include "app/logon_page.h"
#include "pages/editors/url_control_page.h"
#include "pages/editors/user_groups_page.h"
#include "pages/editors/users_page.h"
#include "pages/stats/stats_pages.h"
#include "pages/system/log_page.h"
#include "pages/system/network_page.h"
#include "pages/system/setup_page.h"

const PageRegistry& consolePages() {
    using enum FrameButton;
    using enum PageRole;
    static const PageRegistry registry{
        {
            // tree label, picture, its partner
            {"Rendszer    ", 1114, 1115},
            {"Szerkesztök   ", 1116, 0},
            {"Statisztikák ", 1117, 1119},
        },
        {
            // group, page, role, tree label, selected image, title, help context, frame button,
            // factory
            {0, 0, LogOn, "LogOn", 1, "Rendszer / LogOn", HELP_NONE, None, pageOf<LogOnPage>},
            {0, 1, Network, "Hálózat", 2, "Rendszer / Hálózat", HELP_NETWORK, HiddenRefresh,
             pageOf<NetworkPage>},
            {0, 2, SystemLog, "Rendszer log", 3, "Rendszer / Rendszer log", HELP_SYSTEM_LOG,
             Refresh, pageOf<SystemLogPage>},
            {0, 3, DaemonLog, "Deamon log", 4, "Rendszer / Deamon log", HELP_DAEMON_LOG, Refresh,
             pageOf<DaemonLogPage>},
            {0, 4, Setup, "Setup", 5, "Rendszer / Setup", HELP_SETUP, None, pageOf<SetupPage>},
            {1, 2, UrlControl, "URL kontroll", 3, "Szerkesztök / URL kontroll", HELP_URL_CONTROL,
             Print, pageOf<UrlControlPage>},
            {1, 1, Users, "Felhasználók", 2, "Szerkesztök / Felhasználók", HELP_USERS, Print,
             pageOf<UsersPage>},
            {1, 0, UserGroups, "Felh.-i csoport", 1, "Szerkesztök / Felhasználói csoportok",
             HELP_USER_GROUPS, Print, pageOf<UserGroupsPage>},
            {2, 0, StatSelection, "Szelekció", 1, "Statisztikák / Szelekció", HELP_STAT_SELECTION,
             None, pageOf<SelectionPage>},
            {2, 1, StatTable, "Táblázat", 2, "Statisztikák / Táblázat", HELP_STAT_TABLE, Print,
             pageOf<TablePage>},
            {2, 2, StatChart, "Grafikon", 3, "Statisztikák / Grafikon", HELP_STAT_CHART,
             HiddenPrint, pageOf<ChartPage>},
        }};
    return registry;
}
