// The page factory.
#include "pages.h"

#include "editors/url_control_page.h"
#include "editors/user_groups_page.h"
#include "editors/users_page.h"
#include "stats/stats_pages.h"
#include "system/log_page.h"
#include "system/network_page.h"
#include "system/setup_page.h"

Page* createPage(int group, int page, QWidget* parent) {
    if (group < 0 || group > 2 || page < 0 || page > 15) return nullptr;
    switch (group * 16 + page) {
    case 0 * 16 + 1:
        return new NetworkPage(parent);
    case 0 * 16 + 2:
        return new SystemLogPage(parent);
    case 0 * 16 + 3:
        return new DaemonLogPage(parent);
    case 0 * 16 + 4:
        return new SetupPage(parent);
    case 1 * 16 + 0:
        return new UserGroupsPage(parent);
    case 1 * 16 + 1:
        return new UsersPage(parent);
    case 1 * 16 + 2:
        return new UrlControlPage(parent);
    case 2 * 16 + 0:
        return new SelectionPage(parent);
    case 2 * 16 + 1:
        return new TablePage(parent);
    case 2 * 16 + 2:
        return new ChartPage(parent);
    default:
        return nullptr;
    }
}
