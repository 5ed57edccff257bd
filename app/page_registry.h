// The page registry: what the console knows of each page of its tree (address, role, tree label,
// window title, help context, frame buttons, and how it is created) and of each group (picture
// and its partner). The console's own table is consolePages() in pages/page_table.cpp; the main
// window, the screenshots and the tests read it.
#pragma once

#include <type_traits>
#include <vector>

#include <QString>

class Page;
class QWidget;
struct PageEntry;

// What a page is to the console's code: pages ask for each other, and the main window for its
// start pages, by role; only the page table knows where a role sits in the tree.
enum class PageRole {
    LogOn,
    Network,
    SystemLog,
    DaemonLog,
    Setup,
    UserGroups,
    Users,
    UrlControl,
    StatSelection,
    StatTable,
    StatChart,
};

// The console starts on the LogOn page, or in the no-server state on the Setup page; a logon
// leads on to the network page.
constexpr PageRole START_PAGE = PageRole::LogOn;
constexpr PageRole NO_SERVER_START_PAGE = PageRole::Setup;
constexpr PageRole AFTER_LOGON_PAGE = PageRole::Network;

// The button at the bottom right of a page's frame (the help button is at the bottom left of
// every page whose help context is not HELP_NONE).
enum class FrameButton { None, Print, HiddenPrint, Refresh, HiddenRefresh };

// Creates the page of an entry as a hidden child of parent.
using PageFactory = Page* (*)(const PageEntry& entry, QWidget* parent);

// One page of the tree.
struct PageEntry {
    int group, page; // zero-based address in the tree
    PageRole role;
    const char* treeLabel; // the node's text, trailing blanks included (UTF-8)
    int selectedImage;     // image of the tree strip shown while the node is selected
    const char* title;     // window title part, "Group / Page" (UTF-8)
    int helpContext;       // commands.h; HELP_NONE: no help button
    FrameButton rightButton;
    PageFactory create;
};

// One group node of the tree.
struct PageGroup {
    const char* treeLabel; // trailing blanks included (UTF-8)
    int pictureId;         // the group picture shown while the group node is chosen
    int partnerPictureId;  // a click on the group picture swaps it with this one and back; 0 none
};

struct PageRegistry {
    std::vector<PageGroup> groups; // in tree order: index = group
    std::vector<PageEntry> pages;  // in creation order; the tree orders them by address

    // The entry at (group, page), or nullptr outside the tree.
    const PageEntry* find(int group, int page) const;
    // The entry of a role, or nullptr when no page has it.
    const PageEntry* find(PageRole role) const;
    // The number of pages of a group (0 outside the tree).
    int pageCount(int group) const;
    // The window title part of (group, page); empty outside the tree.
    QString title(int group, int page) const;
};

// The factory of a page class: `new P(entry, parent)`, or `new P(parent)` for a class that does
// not take its entry.
template <class P> Page* pageOf(const PageEntry& entry, QWidget* parent) {
    if constexpr (std::is_constructible_v<P, const PageEntry&, QWidget*>)
        return new P(entry, parent);
    else
        return new P(parent);
}
