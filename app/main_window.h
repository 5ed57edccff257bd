// The console's only top-level window: the page tree, the group pictures and the page area.
#pragma once

#include <functional>

#include <QLabel>
#include <QString>
#include <QWidget>

#include "page.h"

class LogOnPage;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Creates the page at (group, page) as a hidden child of parent; nullptr gives a frame-only
// placeholder page. The LogOn page (0, 0) is the main window's own and is never asked for.
using PageFactory = std::function<Page*(int group, int page, QWidget* parent)>;

// A group picture: shows one bitmap from the top-left corner and reports clicks.
class GroupPicture : public QLabel {
    Q_OBJECT
  public:
    GroupPicture(int controlId, int bitmapId, QWidget* parent);
    int controlId() const { return m_controlId; }
  signals:
    void clicked(int controlId);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int m_controlId;
};

class MainWindow : public QWidget, public CommandTarget {
    Q_OBJECT
  public:
    static constexpr int GROUP_COUNT = 4; // room for 4 groups of up to 6 pages; 3 are used
    static constexpr int MAX_PAGES = 6;
    static constexpr int TREE_ID = 1096;
    static constexpr int PICTURE_FIRST_ID = 1114; // pictures 1114 to 1119

    // startDelayMs: the delay of the one-shot start-up load (1000 ms; tests may shorten it).
    explicit MainWindow(PageFactory factory, int startDelayMs = 1000);
    ~MainWindow() override;

    // The command entry: CMD_SHOW_PAGE, CMD_LOCK_TREE, CMD_UNLOCK_TREE; others are ignored.
    void command(int id, quintptr param = 0) override;

    // Shows the page at (group, page) and hides every other page; page -1 hides all pages and
    // leaves the title alone; an address outside the tree changes nothing.
    void ShowPage(int group, int page);

    // The start-up load (run once by the timer; public so tests can run it at once).
    void startupLoad();
    bool loaded() const { return m_loaded; }

    // Page titles of the window caption and the level words.
    static QString pageTitle(int group, int page);
    static QString levelName(int level);

    QTreeWidget* tree() const { return m_tree; }
    QTreeWidgetItem* groupNode(int group) const;
    QTreeWidgetItem* pageNode(int group, int page) const;
    GroupPicture* picture(int controlId) const;
    QRect pageArea() const;
    Page* page(int group, int page) const;
    LogOnPage* logOnPage() const;
    int pageCount(int group) const;
    int currentGroup() const { return m_currentGroup; }
    int currentPage() const { return m_currentPage; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void treeSelectionChanged();
    void pictureClicked(int controlId);
    void showOnlyPicture(int controlId);
    void buildTree();
    void createPages();
    bool loadServerLists();
    void releaseLists();

    PageFactory m_factory;
    QTimer* m_startTimer;
    QTreeWidget* m_tree;
    GroupPicture* m_pictures[6];
    Page* m_pages[GROUP_COUNT][MAX_PAGES] = {};
    QTreeWidgetItem* m_pageNodes[GROUP_COUNT][MAX_PAGES] = {};
    QTreeWidgetItem* m_groupNodes[GROUP_COUNT] = {};
    int m_pageCounts[GROUP_COUNT] = {};
    int m_currentGroup = 0, m_currentPage = 0;
    bool m_startRan = false;
    bool m_loaded = false;
    bool m_released = false;
};
