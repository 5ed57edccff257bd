// The console's page table: the one place that lists the pages of the tree. The main window builds
// its tree and creates its pages from it, the screenshots visit it, the tests check every page
// against its row.
//
// To give a page its real content (each row's class is today the frame of its page):
// 1. write the page class in its own files under pages/editors/, pages/stats/ or pages/system/
//    and add them to pages/CMakeLists.txt;
// 2. derive it from FramePage (or from the frame class it grows out of, e.g. EditorPage) with the
//    constructor `XPage(const PageEntry& entry, QWidget* parent)`, passing entry on, and call
//    addFrameButtons() where the frame's buttons belong: help and the row's frame button follow
//    from the row, the class does not repeat them;
// 3. change the factory of its row below to pageOf<XPage> (one line), and drop the frame class
//    it replaces once nothing uses it.
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
    static const PageRegistry registry{
        {{"Rendszer    ", 1114}, {"Szerkesztök   ", 1116}, {"Statisztikák ", 1117}},
        {
            // group, page, tree label, selected image, title, help context, frame button, factory
            {0, 0, "LogOn", 1, "Rendszer / LogOn", HELP_NONE, None, pageOf<LogOnPage>},
            {0, 1, "Hálózat", 2, "Rendszer / Hálózat", HELP_NETWORK, HiddenRefresh,
             pageOf<NetworkPage>},
            {0, 2, "Rendszer log", 3, "Rendszer / Rendszer log", HELP_SYSTEM_LOG, Refresh,
             pageOf<SystemLogPage>},
            {0, 3, "Deamon log", 4, "Rendszer / Deamon log", HELP_DAEMON_LOG, Refresh,
             pageOf<DaemonLogPage>},
            {0, 4, "Setup", 5, "Rendszer / Setup", HELP_SETUP, None, pageOf<SetupPage>},
            {1, 2, "URL kontroll", 3, "Szerkesztök / URL kontroll", HELP_URL_CONTROL, Print,
             pageOf<UrlControlPage>},
            {1, 1, "Felhasználók", 2, "Szerkesztök / Felhasználók", HELP_USERS, Print,
             pageOf<UsersPage>},
            {1, 0, "Felh.-i csoport", 1, "Szerkesztök / Felhasználói csoportok", HELP_USER_GROUPS,
             Print, pageOf<UserGroupsPage>},
            {2, 0, "Szelekció", 1, "Statisztikák / Szelekció", HELP_STAT_SELECTION, None,
             pageOf<SelectionPage>},
            {2, 1, "Táblázat", 2, "Statisztikák / Táblázat", HELP_STAT_TABLE, Print,
             pageOf<TablePage>},
            {2, 2, "Grafikon", 3, "Statisztikák / Grafikon", HELP_STAT_CHART, HiddenPrint,
             pageOf<ChartPage>},
        }};
    return registry;
}
