// The page table and the pages' frames: help contexts, the frame buttons, status lines, group
// frames and content widgets, the Enter/Escape rule, the pages inside the main window, the artwork
// and the help document.
#include <QFile>
#include <QSignalSpy>
#include <QTextBrowser>

#include "app_fixture.h"
#include "buttons.h"
#include "chartfx.h"
#include "commands.h"
#include "editors/url_control_page.h"
#include "editors/user_groups_page.h"
#include "editors/users_page.h"
#include "gridctrl.h"
#include "line_speeds.h"
#include "logon_page.h"
#include "main_window.h"
#include "page_table.h"
#include "panels.h"
#include "resources.h"
#include "stats/stats_pages.h"
#include "status_label.h"
#include "system/log_page.h"
#include "system/network_page.h"
#include "system/setup_page.h"
#include "vcf1.h"

namespace {

// The row of the page table at (group, page).
const PageEntry& entryAt(int group, int page) {
    const PageEntry* entry = consolePages().find(group, page);
    EXPECT_NE(entry, nullptr) << group << "," << page;
    return *entry;
}

// The rows of the pages built on the frame (all but LogOn).
std::vector<PageEntry> framePages() {
    std::vector<PageEntry> rows;
    for (const PageEntry& entry : consolePages().pages)
        if (entry.group != 0 || entry.page != 0) rows.push_back(entry);
    return rows;
}

std::string buttonName(FrameButton button) {
    switch (button) {
    case FrameButton::None:
        return "-";
    case FrameButton::Print:
        return "print";
    case FrameButton::HiddenPrint:
        return "hidden print";
    case FrameButton::Refresh:
        return "refresh";
    case FrameButton::HiddenRefresh:
        return "hidden refresh";
    }
    return "?";
}

QList<RoundButton*> buttonsWithText(QWidget* page, const QString& text) {
    QList<RoundButton*> found;
    for (RoundButton* b : page->findChildren<RoundButton*>())
        if (b->text() == text) found << b;
    return found;
}

// The right-hand frame button of a page as the table describes it.
std::string rightButton(QWidget* page) {
    QList<RoundButton*> print = buttonsWithText(page, QStringLiteral("&Nyomtat"));
    QList<RoundButton*> refresh = buttonsWithText(page, QStringLiteral("&Frissít"));
    if (print.size() + refresh.size() > 1) return "several";
    if (print.size() == 1) return print[0]->isHidden() ? "hidden print" : "print";
    if (refresh.size() == 1) return refresh[0]->isHidden() ? "hidden refresh" : "refresh";
    return "-";
}

QStringList groupCaptions(QWidget* page) {
    QStringList captions;
    for (CzCExtGroup* g : page->findChildren<CzCExtGroup*>())
        captions << g->GetCaption();
    captions.sort();
    return captions;
}

class PagesTest : public AppTest {
  protected:
    QWidget owner;
};

TEST_F(PagesTest, TheTableDescribesTheTreeInCreationOrder) {
    const PageRegistry& pages = consolePages();
    QStringList order, groups;
    for (const PageEntry& entry : pages.pages)
        order << QStringLiteral("%1,%2").arg(entry.group).arg(entry.page);
    EXPECT_EQ(order.join(' '), "0,0 0,1 0,2 0,3 0,4 1,2 1,1 1,0 2,0 2,1 2,2");
    for (const PageGroup& group : pages.groups)
        groups
            << QStringLiteral("%1 %2").arg(QString::fromUtf8(group.treeLabel)).arg(group.pictureId);
    EXPECT_EQ(groups.join('|'), "Rendszer     1114|Szerkesztök    1116|Statisztikák  1117");
    EXPECT_EQ(pages.pageCount(0), 5);
    EXPECT_EQ(pages.pageCount(1), 3);
    EXPECT_EQ(pages.pageCount(2), 3);
    EXPECT_EQ(pages.pageCount(3), 0);
    EXPECT_EQ(pages.title(1, 0), "Szerkesztök / Felhasználói csoportok");
    EXPECT_EQ(pages.title(0, 5), "");
    for (auto [g, p] : {std::pair{0, 5}, {1, 3}, {2, 3}, {3, 0}, {-1, 0}, {0, -1}, {1, 16}})
        EXPECT_EQ(pages.find(g, p), nullptr) << g << "," << p;
    // Each group's pages are numbered from 0 without a gap and fit the main window.
    for (int g = 0; g < static_cast<int>(pages.groups.size()); ++g) {
        EXPECT_LE(pages.pageCount(g), MainWindow::MAX_PAGES);
        for (int p = 0; p < pages.pageCount(g); ++p)
            EXPECT_NE(pages.find(g, p), nullptr) << g << "," << p;
    }
    EXPECT_LE(static_cast<int>(pages.groups.size()), MainWindow::GROUP_COUNT);
}

TEST_F(PagesTest, EveryRowCreatesItsPageWithItsHelpContext) {
    for (const PageEntry& entry : consolePages().pages) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        ASSERT_NE(entry.create, nullptr);
        Page* page = entry.create(entry, &owner);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->parentWidget(), &owner);
        EXPECT_TRUE(page->isHidden());
        EXPECT_EQ(page->helpContext(), entry.helpContext);
    }
    EXPECT_NE(dynamic_cast<LogOnPage*>(entryAt(0, 0).create(entryAt(0, 0), &owner)), nullptr);
}

TEST_F(PagesTest, FrameButtonsFollowThePageTable) {
    for (const PageEntry& entry : framePages()) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        Page* page = entry.create(entry, &owner);
        QList<RoundButton*> help = buttonsWithText(page, QStringLiteral("&Súgó"));
        ASSERT_EQ(help.size(), 1);
        EXPECT_FALSE(help[0]->isHidden());
        EXPECT_EQ(help[0]->objectName(), QStringLiteral("button1012"));
        EXPECT_EQ(rightButton(page), buttonName(entry.rightButton));
        // The frame's buttons, beside whatever action buttons the page's content has.
        int frameButtons = 0;
        for (RoundButton* b : page->findChildren<RoundButton*>())
            frameButtons += b->objectName() == QStringLiteral("button1012") ||
                            b->objectName() == QStringLiteral("button1003") ||
                            b->objectName() == QStringLiteral("button1023");
        EXPECT_EQ(frameButtons, entry.rightButton == FrameButton::None ? 1 : 2);
    }
    // The table as the pages' frames show it.
    QStringList buttons;
    for (const PageEntry& entry : framePages())
        buttons << QString::fromStdString(buttonName(entry.rightButton));
    EXPECT_EQ(buttons.join('|'),
              "hidden refresh|refresh|refresh|-|print|print|print|-|print|hidden print");
}

// The bare frame of a row: its buttons without a page's content behind them.
class BareFrame : public FramePage {
  public:
    BareFrame(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
        addFrameButtons();
    }
};

TEST_F(PagesTest, FrameButtonsAnswerThroughTheirPage) {
    for (const PageEntry& entry : framePages()) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        BareFrame page(entry, &owner);
        QSignalSpy printed(&page, &FramePage::printRequested);
        QSignalSpy refreshed(&page, &FramePage::refreshRequested);
        if (page.printButton()) page.printButton()->click();
        if (page.refreshButton()) page.refreshButton()->click();
        EXPECT_EQ(printed.count(), entry.rightButton == FrameButton::Print ||
                                           entry.rightButton == FrameButton::HiddenPrint
                                       ? 1
                                       : 0);
        EXPECT_EQ(refreshed.count(), entry.rightButton == FrameButton::Refresh ||
                                             entry.rightButton == FrameButton::HiddenRefresh
                                         ? 1
                                         : 0);
        const bool hiddenRefresh = entry.rightButton == FrameButton::HiddenRefresh;
        EXPECT_EQ(page.refreshButton() && page.refreshButton()->isHidden(), hiddenRefresh);
        page.helpButton()->click();
        ASSERT_NE(HelpWindow::instance(), nullptr);
        EXPECT_EQ(HelpWindow::instance()->anchor(), QStringLiteral("ctx%1").arg(entry.helpContext));
        HelpWindow::closeHelp();
    }
    // LogOn's row has no help context: its frame has no buttons at all.
    BareFrame logOn(entryAt(0, 0), &owner);
    EXPECT_EQ(logOn.helpButton(), nullptr);
    EXPECT_EQ(logOn.findChildren<RoundButton*>().size(), 0);
}

TEST_F(PagesTest, VisiblePartsOfAPageLieInThePageAreaClearOfTheFrameButtons) {
    const QRect area(QPoint(0, 0), QSize(634, 476)); // the main window's page area
    for (const PageEntry& entry : framePages()) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        auto* page = static_cast<FramePage*>(entry.create(entry, &owner));
        QList<QWidget*> buttons = {page->helpButton(), page->printButton(), page->refreshButton()};
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // A part kept wholly outside the visible area (a page's hidden helper) is left alone.
            if (child->isWindow() || !child->geometry().intersects(area)) continue;
            EXPECT_TRUE(area.contains(child->geometry())) << child->metaObject()->className();
            if (buttons.contains(child)) continue;
            for (QWidget* button : buttons) {
                if (!button) continue;
                EXPECT_FALSE(child->geometry().intersects(button->geometry()))
                    << child->metaObject()->className() << " " << child->objectName().toStdString();
            }
        }
    }
}

TEST_F(PagesTest, OnlySetupLetsEnterAndEscapeThrough) {
    for (const PageEntry& entry : consolePages().pages) {
        Page* page = entry.create(entry, &owner);
        EXPECT_EQ(page->swallowsEnterEscape(), entry.helpContext != HELP_SETUP)
            << entry.group << "," << entry.page;
    }
}

TEST_F(PagesTest, StatusLinesAndGroupFrames) {
    NetworkPage network(entryAt(0, 1), &owner);
    EXPECT_EQ(groupCaptions(&network),
              QStringList({QStringLiteral("Hálózati kommunikáció ellenörzése"),
                           QStringLiteral("Hálózati kommunikáció állapota")}));
    EXPECT_EQ(network.stateGroup()->GetCaptionFont().face, QStringLiteral("System"));
    EXPECT_EQ(network.stateGroup()->GetCaptionFont().size, 18);
    EXPECT_EQ(network.checkGroup()->GetCaptionFont().color, QColor(0, 0, 128));
    ASSERT_NE(network.statusLabel(), nullptr);
    EXPECT_EQ(network.statusLabel()->text(), QStringLiteral("OK!"));
    EXPECT_EQ(network.statusLabel()->font().family(), QStringLiteral("System"));
    EXPECT_EQ(network.statusLabel()->font().pointSize(), 10);
    EXPECT_EQ(network.statusLabel()->font().weight(), QFont::Normal);
    EXPECT_TRUE(network.statusLabel()->flashing());

    SetupPage setup(entryAt(0, 4), &owner);
    EXPECT_EQ(groupCaptions(&setup),
              QStringList({QString(), QStringLiteral("Szerverek"), QStringLiteral("Üzenetek"),
                           QStringLiteral("Ĺtviteli sebesség [ Kbit / sec ]")}));
    EXPECT_EQ(setup.serverGroup()->GetCaptionFont().color, QColor(0, 0, 128));
    EXPECT_EQ(setup.statusLabel()->text(),
              QStringLiteral("Elöször a hívja be a szerver beállításait!"));
    EXPECT_EQ(setup.statusLabel()->font().weight(), QFont::Normal);

    SelectionPage selection(entryAt(2, 0), &owner);
    EXPECT_EQ(groupCaptions(&selection),
              QStringList({QStringLiteral("Dátumig:"), QStringLiteral("Dátumtól:"),
                           QStringLiteral("Felbontás:"), QStringLiteral("Feldolgozás módja:"),
                           QStringLiteral("Szűkítés:")}));
    EXPECT_EQ(selection.statusLabel()->text(), QStringLiteral("..."));

    // Editor pages: the status line (normal weight) fills the "Üzenetek" panel.
    UsersPage users(entryAt(1, 1), &owner);
    UserGroupsPage groups(entryAt(1, 0), &owner);
    UrlControlPage urls(entryAt(1, 2), &owner);
    for (EditorPage* editor : {static_cast<EditorPage*>(&users), static_cast<EditorPage*>(&groups),
                               static_cast<EditorPage*>(&urls)}) {
        ASSERT_NE(editor->messagePanel(), nullptr);
        EXPECT_EQ(editor->messagePanel()->GetTitle(), QStringLiteral("Üzenetek"));
        EXPECT_EQ(editor->messagePanel()->GetWidget(), editor->statusLabel());
        EXPECT_EQ(editor->statusLabel()->font().weight(), QFont::Normal);
        EXPECT_EQ(editor->statusLabel()->text(), QString());
    }
    EXPECT_EQ(users.sheetPanel()->GetWidget(), users.sheet());
    EXPECT_EQ(urls.sheetPanel()->GetWidget(), urls.sheet());
    EXPECT_EQ(users.sheetPanel()->GetTitle(),
              QStringLiteral("        Név                       Csoport       P  M  S "));
    EXPECT_EQ(users.sheet()->GetMaxCol(), 5);
    EXPECT_EQ(users.dataPanel()->GetTitle(), QStringLiteral("A felhasználó adatok"));
    EXPECT_EQ(groups.sheetPanel()->GetTitle(), QStringLiteral("Felhasználói csoportok"));
    EXPECT_EQ(groups.sheet()->GetMaxCol(), 2);
    EXPECT_EQ(urls.sheetPanel()->GetTitle(), QStringLiteral("URL nevek"));
    EXPECT_EQ(urls.groupPanel()->GetTitle(), QStringLiteral("Csoport kiválasztás"));
}

TEST_F(PagesTest, ContentWidgetsAndTheirGroups) {
    SystemLogPage systemLog(entryAt(0, 2), &owner);
    DaemonLogPage daemonLog(entryAt(0, 3), &owner);
    EXPECT_EQ(systemLog.group()->GetCaption(), QStringLiteral("Rendszerlog adatok"));
    EXPECT_EQ(daemonLog.group()->GetCaption(), QStringLiteral("Daemon log file"));
    for (LogPage* log : {static_cast<LogPage*>(&systemLog), static_cast<LogPage*>(&daemonLog)}) {
        EXPECT_TRUE(log->group()->geometry().contains(log->grid()->geometry()));
        EXPECT_EQ(log->grid()->GetNumberCols(), 1);
        EXPECT_EQ(log->grid()->GetColWidth(0), 473);
        EXPECT_EQ(log->grid()->GetTH_Height(), 0);
        EXPECT_EQ(log->grid()->GetNumberRows(), 10000);
    }
    TablePage table(entryAt(2, 1), &owner);
    EXPECT_EQ(table.group()->GetCaption(), QStringLiteral("Táblázat:"));
    EXPECT_TRUE(table.group()->geometry().contains(table.grid()->geometry()));
    EXPECT_EQ(table.grid()->GetNumberCols(), 20);
    EXPECT_EQ(table.grid()->GetNumberRows(), 15);
    ChartPage chart(entryAt(2, 2), &owner);
    EXPECT_EQ(chart.group()->GetCaption(), QStringLiteral("Adatforgalom:"));
    EXPECT_TRUE(chart.group()->geometry().contains(chart.chart()->geometry()));
    EXPECT_EQ(chart.chart()->GetAxisTitle(), QStringLiteral("Byte"));
}

TEST_F(PagesTest, MainWindowTakesEveryPageFromTheTable) {
    noServer = 1; // no server: the start-up load goes straight to Setup
    lineSpeeds = {};
    MainWindow window(consolePages(), -1);
    window.startupLoad();
    ASSERT_TRUE(window.loaded());
    EXPECT_NE(window.logOnPage(), nullptr);
    EXPECT_NE(dynamic_cast<NetworkPage*>(window.page(0, 1)), nullptr);
    EXPECT_NE(dynamic_cast<SystemLogPage*>(window.page(0, 2)), nullptr);
    EXPECT_NE(dynamic_cast<DaemonLogPage*>(window.page(0, 3)), nullptr);
    EXPECT_NE(dynamic_cast<SetupPage*>(window.page(0, 4)), nullptr);
    EXPECT_NE(dynamic_cast<UserGroupsPage*>(window.page(1, 0)), nullptr);
    EXPECT_NE(dynamic_cast<UsersPage*>(window.page(1, 1)), nullptr);
    EXPECT_NE(dynamic_cast<UrlControlPage*>(window.page(1, 2)), nullptr);
    EXPECT_NE(dynamic_cast<SelectionPage*>(window.page(2, 0)), nullptr);
    EXPECT_NE(dynamic_cast<TablePage*>(window.page(2, 1)), nullptr);
    EXPECT_NE(dynamic_cast<ChartPage*>(window.page(2, 2)), nullptr);
    for (const PageEntry& entry : consolePages().pages)
        EXPECT_EQ(window.page(entry.group, entry.page)->geometry(), QRect(164, 2, 634, 476));
    EXPECT_EQ(window.currentPage(), 4);
    EXPECT_TRUE(window.page(0, 4)->isVisibleTo(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Rendszer / Setup -- User jogosultság"));
}

TEST_F(PagesTest, ArtworkIsBuiltInAtItsSizes) {
    const std::pair<int, QSize> sizes[] = {{128, {32, 32}},   {147, {24, 24}},   {150, {24, 24}},
                                           {180, {24, 24}},   {178, {96, 16}},   {169, {392, 163}},
                                           {185, {640, 470}}, {186, {640, 470}}, {187, {640, 470}},
                                           {188, {640, 470}}, {189, {640, 480}}, {190, {640, 470}}};
    for (const auto& [id, size] : sizes) {
        EXPECT_TRUE(orvelanResourceExists(id)) << id;
        QImage image(QStringLiteral(":/res/%1.png").arg(id));
        EXPECT_EQ(image.size(), size) << id;
    }
    // The tree strip: light grey around six different figures.
    QImage strip(QStringLiteral(":/res/178.png"));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(strip.pixelColor(i * 16, 15), QColor(192, 192, 192));
    EXPECT_NE(strip.copy(0, 0, 16, 16), strip.copy(16, 0, 16, 16));
    // Icons draw on a transparent ground.
    for (int id : {147, 150, 180})
        EXPECT_EQ(QImage(QStringLiteral(":/res/%1.png").arg(id)).pixelColor(0, 0).alpha(), 0);
}

TEST_F(PagesTest, HelpDocumentHasEveryContext) {
    EXPECT_EQ(HelpWindow::documentUrl(), QUrl(QStringLiteral("qrc:/res/help/orvelan.html")));
    QFile file(QStringLiteral(":/res/help/orvelan.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString html = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"general\">")));
    for (int context = HELP_NETWORK; context <= HELP_STAT_CHART; ++context)
        EXPECT_EQ(html.count(QStringLiteral("<a name=\"ctx%1\">").arg(context)), 1) << context;
    // The help button of a page opens the window at its section.
    UsersPage users(entryAt(1, 1), &owner);
    users.helpButton()->click();
    HelpWindow* help = HelpWindow::instance();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->anchor(), QStringLiteral("ctx262"));
    EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("Felhasználók")));
}

} // namespace
