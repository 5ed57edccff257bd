// Command numbers of the page contract between MainWindow and the pages, and the help contexts.
#pragma once

#include "app/page_registry.h"

// MainWindow to a page: the page is being replaced by another page.
constexpr int CMD_PAGE_HIDDEN = 1124;
// MainWindow to a page: the page is being shown (on every show, also when already current).
constexpr int CMD_PAGE_SHOWN = 1125;
// A page to MainWindow: select and show a page; parameter: the page's role (showPageParam).
constexpr int CMD_SHOW_PAGE = 1224;
// A page to MainWindow: disable the page tree while a server file is being edited.
constexpr int CMD_LOCK_TREE = 1225;
// A page to MainWindow: enable the page tree again.
constexpr int CMD_UNLOCK_TREE = 1226;

// The parameter of CMD_SHOW_PAGE for the page of a role.
constexpr unsigned showPageParam(PageRole role) {
    return static_cast<unsigned>(role);
}

// Help contexts: each page's help button opens the help document at its context.
constexpr int HELP_NONE = 0; // the LogOn page has no help button
constexpr int HELP_NETWORK = 257;
constexpr int HELP_SYSTEM_LOG = 258;
constexpr int HELP_DAEMON_LOG = 259;
constexpr int HELP_SETUP = 260;
constexpr int HELP_URL_CONTROL = 261;
constexpr int HELP_USERS = 262;
constexpr int HELP_USER_GROUPS = 263;
constexpr int HELP_STAT_SELECTION = 264;
constexpr int HELP_STAT_TABLE = 265;
constexpr int HELP_STAT_CHART = 266;
