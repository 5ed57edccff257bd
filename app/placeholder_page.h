// A frame-only page for an address whose page has not been built: its title, help button and
// the print or refresh button of its place in the console.
#pragma once

#include "page.h"

// The help context of the page at (group, page) (HELP_NONE for LogOn and unknown addresses).
int pageHelpContext(int group, int page);

// Creates the frame-only page for (group, page) as a hidden child of parent.
Page* createPlaceholderPage(int group, int page, QWidget* parent);
