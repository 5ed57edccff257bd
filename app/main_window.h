// The console's only top-level window: the page tree, the group pictures and the page area.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

#include "app/page.h"
#include "app/page_registry.h"

class LogOnPage;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

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

    // The pages of the registry fill the tree and the page area (the page of the LogOn role is a
    // LogOnPage); startDelayMs: the delay of the one-shot start-up load (1000 ms; tests may
    // shorten it).
    explicit MainWindow(PageRegistry pages, int startDelayMs = 1000);
    ~MainWindow() override;

    // The command entry: CMD_SHOW_PAGE (a role without a page changes nothing), CMD_LOCK_TREE,
    // CMD_UNLOCK_TREE; others are ignored.
    void command(int id, quintptr param = 0) override;

    // Shows the page at (group, page) and hides every other page; page -1 hides all pages and
    // leaves the title alone; an address outside the tree changes nothing.
    void ShowPage(int group, int page);

    // The start-up load (run once by the timer; public so tests can run it at once).
    void startupLoad();
    bool loaded() const { return m_loaded; }

    // Page titles of the window caption and the level words.
    QString pageTitle(int group, int page) const { return m_registry.title(group, page); }
    static QString levelName(int level);
    const PageRegistry& registry() const { return m_registry; }

    QTreeWidget* tree() const { return m_tree; }
    QTreeWidgetItem* groupNode(int group) const;
    QTreeWidgetItem* pageNode(int group, int page) const;
    GroupPicture* picture(int controlId) const;
    QRect pageArea() const;
    Page* page(int group, int page) const;
    Page* page(PageRole role) const;
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
    // The page the console starts on (and falls back to before a logon).
    const PageEntry* startEntry() const;
    void buildTree();
    void createPages();
    bool loadServerLists();
    void releaseLists();

    PageRegistry m_registry;
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
    // The tree is locked while a page edits a server list or while remote work runs.
    bool m_editLock = false;
    bool m_remoteBusy = false;
};
