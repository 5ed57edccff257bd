// The main window: start picture, start-up load, page tree, group pictures and page switching.
#include "app/main_window.h"

#include <algorithm>

#include <QBitmap>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidget>

#include "app/commands.h"
#include "app/help_window.h"
#include "app/logon_page.h"
#include "app/remote_runner.h"
#include "app/resources.h"
#include "serverdata/edit_session.h"
#include "serverdata/line_speeds.h"
#include "serverdata/server_data.h"
#include "serverdata/startup.h"
#include "widgets/messagebox.h"
#include "widgets/waitcursor.h"

namespace {

const QString APP_NAME = QStringLiteral("Orvelan");

// Picture controls 1114 to 1119 and their bitmaps.
constexpr int PICTURE_BITMAPS[6] = {185, 188, 186, 187, 189, 190};

// Image `index` of the tree's strip, light grey transparent.
QPixmap stripImage(const QPixmap& strip, int index) {
    QPixmap image = strip.copy(index * 16, 0, 16, 16);
    image.setMask(image.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    return image;
}

} // namespace

// ---------------------------------------------------------------------------------------------

GroupPicture::GroupPicture(int controlId, int bitmapId, QWidget* parent)
    : QLabel(parent), m_controlId(controlId) {
    setObjectName(QStringLiteral("picture%1").arg(controlId));
    setPixmap(orvelanBitmap(bitmapId));
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void GroupPicture::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked(m_controlId);
    QLabel::mousePressEvent(event);
}

// ---------------------------------------------------------------------------------------------

QString MainWindow::levelName(int level) {
    return level == 1 ? QStringLiteral("Adminisztrátor") : QStringLiteral("User");
}

MainWindow::MainWindow(PageRegistry pages, int startDelayMs)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_registry(std::move(pages)), m_startTimer(new QTimer(this)), m_tree(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("Orvelan --- Logon"));
    setWindowIcon(orvelanIcon(RES_APP_ICON));
    setFont(QFont(QStringLiteral("System"), 8));
    setFixedSize(800, 480);
    move(10, 10);
    markSwallowsEnterEscape(this);

    m_tree->setObjectName(QStringLiteral("tree%1").arg(TREE_ID));
    m_tree->setGeometry(2, 10, 160, height() - 40);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_tree->hide();
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &MainWindow::treeSelectionChanged);

    for (int i = 0; i < 6; ++i) {
        m_pictures[i] = new GroupPicture(PICTURE_FIRST_ID + i, PICTURE_BITMAPS[i], this);
        m_pictures[i]->setGeometry(pageArea());
        m_pictures[i]->setVisible(i == 0);
        connect(m_pictures[i], &GroupPicture::clicked, this, &MainWindow::pictureClicked);
    }

    m_startTimer->setSingleShot(true);
    m_startTimer->setInterval(startDelayMs);
    connect(m_startTimer, &QTimer::timeout, this, &MainWindow::startupLoad);
    if (startDelayMs >= 0) m_startTimer->start();

    // While remote work runs, no other page can be reached to start more on the same lists.
    // An editor page holds its own lock while a list is checked out, over several operations.
    connect(RemoteRunner::instance(), &RemoteRunner::busyChanged, m_tree, [this](bool busy) {
        m_remoteBusy = busy;
        m_tree->setEnabled(!m_editLock && !m_remoteBusy);
    });
}

MainWindow::~MainWindow() = default;

QRect MainWindow::pageArea() const {
    return QRect(164, 2, width() - 166, height() - 4);
}

GroupPicture* MainWindow::picture(int controlId) const {
    int i = controlId - PICTURE_FIRST_ID;
    return i >= 0 && i < 6 ? m_pictures[i] : nullptr;
}

Page* MainWindow::page(int group, int page) const {
    if (group < 0 || group >= GROUP_COUNT || page < 0 || page >= MAX_PAGES) return nullptr;
    return m_pages[group][page];
}

Page* MainWindow::page(PageRole role) const {
    const PageEntry* entry = m_registry.find(role);
    return entry ? page(entry->group, entry->page) : nullptr;
}

LogOnPage* MainWindow::logOnPage() const {
    return qobject_cast<LogOnPage*>(page(PageRole::LogOn));
}

const PageEntry* MainWindow::startEntry() const {
    return m_registry.find(noServer ? NO_SERVER_START_PAGE : START_PAGE);
}

QTreeWidgetItem* MainWindow::groupNode(int group) const {
    return group >= 0 && group < GROUP_COUNT ? m_groupNodes[group] : nullptr;
}

QTreeWidgetItem* MainWindow::pageNode(int group, int page) const {
    if (group < 0 || group >= GROUP_COUNT || page < 0 || page >= MAX_PAGES) return nullptr;
    return m_pageNodes[group][page];
}

int MainWindow::pageCount(int group) const {
    return group >= 0 && group < GROUP_COUNT ? m_pageCounts[group] : 0;
}

// ---------------------------------------------------------------------------------------------
// Start-up load

bool MainWindow::loadServerLists() {
    WaitCursor wait;
    serverData.ReleaseAll(); // what an earlier run of this console left checked out
    const char* text = SdStartupLoadText(serverData.groups.Load(false), false);
    if (!text) text = SdStartupLoadText(serverData.users.Load(false), true);
    if (text) {
        MessageBox::warning(this, APP_NAME, QString::fromUtf8(text));
        return false;
    }
    return true;
}

void MainWindow::startupLoad() {
    m_startTimer->stop();
    if (m_startRan) return;
    m_startRan = true;
    serverData.urls.currentGroup = -1;
    if (!noServer) {
        if (!SetMarkDone()) {
            noServer = 1;
        } else if (!loadServerLists()) {
            m_tree->show(); // stays empty: the console can only be closed
            return;
        }
    }
    if (ReadLineSpeeds(lineSpeeds) != 0) {
        if (!noServer)
            MessageBox::warning(this, APP_NAME,
                                QStringLiteral("Setup file behívási hiba!, Default setup!!"));
        DefaultLineSpeeds(lineSpeeds);
    }
    buildTree();
    createPages();
    // The editor pages' first loads run on the remote worker. The start page talks to the server
    // from the UI thread, and the link is used by one thread at a time: they end first, as the
    // start-up's own loads above do.
    RemoteRunner::instance()->runBlocking([] {});
    if (noServer) command(CMD_SHOW_PAGE, showPageParam(NO_SERVER_START_PAGE));
    const PageEntry* start = startEntry();
    m_currentGroup = start ? start->group : 0;
    m_currentPage = start ? start->page : 0;
    picture(PICTURE_FIRST_ID)->hide();
    m_tree->show();
    if (start) ShowPage(start->group, start->page);
    m_loaded = true;
}

void MainWindow::buildTree() {
    m_tree->setGeometry(2, 10, 160, height() - 40);
    QPixmap strip = orvelanBitmap(RES_TREE_STRIP);
    QPixmap normal = stripImage(strip, 0);
    QSignalBlocker block(m_tree); // building the tree is no choice of the user's
    int groupCount = std::min(static_cast<int>(m_registry.groups.size()), GROUP_COUNT);
    for (int g = 0; g < groupCount; ++g) {
        const PageGroup& group = m_registry.groups[static_cast<size_t>(g)];
        auto* groupItem = new QTreeWidgetItem(m_tree, {QString::fromUtf8(group.treeLabel)});
        QIcon groupIcon(normal);
        groupIcon.addPixmap(stripImage(strip, 1), QIcon::Selected);
        groupItem->setIcon(0, groupIcon);
        m_groupNodes[g] = groupItem;
        for (int p = 0; p < MAX_PAGES; ++p) {
            const PageEntry* entry = m_registry.find(g, p);
            if (!entry) break;
            auto* item = new QTreeWidgetItem(groupItem, {QString::fromUtf8(entry->treeLabel)});
            QIcon icon(normal);
            icon.addPixmap(stripImage(strip, entry->selectedImage), QIcon::Selected);
            item->setIcon(0, icon);
            m_pageNodes[g][p] = item;
            m_pageCounts[g] = p + 1;
        }
    }
    m_tree->expandAll();
}

void MainWindow::createPages() {
    for (const PageEntry& entry : m_registry.pages) {
        int g = entry.group, p = entry.page;
        // Only pages that have a node in the tree are created.
        if (g < 0 || g >= GROUP_COUNT || p < 0 || p >= m_pageCounts[g]) continue;
        Page* created = entry.create(entry, this);
        created->hide();
        created->setGeometry(pageArea());
        m_pages[g][p] = created;
    }
}

// ---------------------------------------------------------------------------------------------
// Pages and the tree

void MainWindow::ShowPage(int group, int page) {
    if (group < 0 || group >= GROUP_COUNT || page >= m_pageCounts[group]) return;
    for (int g = 0; g < GROUP_COUNT; ++g) {
        for (int p = 0; p < MAX_PAGES; ++p) {
            Page* slot = m_pages[g][p];
            if (!slot) continue;
            if (page < 0 || g != group || p != page) {
                slot->hide();
                continue;
            }
            if (g != m_currentGroup || p != m_currentPage) {
                if (Page* current = this->page(m_currentGroup, m_currentPage))
                    current->command(CMD_PAGE_HIDDEN);
            }
            slot->command(CMD_PAGE_SHOWN);
            m_currentGroup = g;
            m_currentPage = p;
            slot->show();
            slot->repaint();
            setWindowTitle(QStringLiteral("%1 -- %2 jogosultság")
                               .arg(pageTitle(g, p), levelName(serverData.session.SelectedLevel)));
        }
    }
}

void MainWindow::showOnlyPicture(int controlId) {
    for (GroupPicture* p : m_pictures)
        p->setVisible(p->controlId() == controlId);
}

void MainWindow::treeSelectionChanged() {
    WaitCursor wait;
    LogOnPage* logOn = logOnPage();
    if (!logOn || !logOn->loggedOn()) {
        if (const PageEntry* start = startEntry()) ShowPage(start->group, start->page);
        return;
    }
    QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    if (selected.isEmpty()) return;
    QTreeWidgetItem* item = selected.first();
    for (int g = 0; g < GROUP_COUNT; ++g) {
        if (item == m_groupNodes[g]) {
            ShowPage(g, -1);
            for (GroupPicture* p : m_pictures)
                p->hide();
            if (GroupPicture* shown = picture(m_registry.groups[static_cast<size_t>(g)].pictureId))
                shown->show();
            return;
        }
        for (int p = 0; p < m_pageCounts[g]; ++p) {
            if (item != m_pageNodes[g][p]) continue;
            for (GroupPicture* pic : m_pictures)
                pic->hide();
            ShowPage(g, p);
            m_tree->setCurrentItem(item);
            return;
        }
    }
}

void MainWindow::pictureClicked(int controlId) {
    // A group picture and its partner swap with each other; the others stay.
    int partner = 0;
    for (const PageGroup& group : m_registry.groups) {
        if (group.partnerPictureId == 0) continue;
        if (controlId == group.pictureId) partner = group.partnerPictureId;
        if (controlId == group.partnerPictureId) partner = group.pictureId;
    }
    GroupPicture* shown = picture(partner);
    if (!shown) return;
    picture(controlId)->hide();
    shown->show();
}

void MainWindow::command(int id, quintptr param) {
    switch (id) {
    case CMD_SHOW_PAGE: {
        const PageEntry* entry = m_registry.find(static_cast<PageRole>(param));
        if (!entry) break;
        if (QTreeWidgetItem* node = pageNode(entry->group, entry->page))
            m_tree->setCurrentItem(node);
        ShowPage(entry->group, entry->page);
        break;
    }
    case CMD_LOCK_TREE:
    case CMD_UNLOCK_TREE:
        m_editLock = id == CMD_LOCK_TREE;
        m_tree->setEnabled(!m_editLock && !m_remoteBusy);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Closing

void MainWindow::releaseLists() {
    if (m_released) return;
    m_released = true;
    // In the no-server state nothing may reach the server, releases included.
    if (noServer) return;
    WaitCursor wait;
    serverData.ReleaseAll();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The running operation ends (its instance released) before the releases use the link.
    RemoteRunner::instance()->cancelAndWait();
    releaseLists();
    HelpWindow::closeHelp();
    event->accept();
}
