// The console's pages: the factory the main window asks for every page but LogOn.
#pragma once

#include <QWidget>

class Page;

// Creates the page at (group, page) of the page tree as a hidden child of parent: the ten pages
// of the "Rendszer", "Szerkesztök" and "Statisztikák" groups. nullptr for (0, 0) (the main
// window's own LogOn page) and for any address outside the tree.
Page* createPage(int group, int page, QWidget* parent);
