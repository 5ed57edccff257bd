// The pages' frames: the factory, help contexts, the frame buttons, status lines, group frames
// and content widgets, the Enter/Escape rule, the pages inside the main window, the artwork and
// the help document.
#include <QFile>
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
#include "main_window.h"
#include "pages.h"
#include "panels.h"
#include "resources.h"
#include "stats/stats_pages.h"
#include "system/log_page.h"
#include "system/network_page.h"
#include "system/setup_page.h"
#include "vcf1.h"

namespace {

// The ten pages of the factory: address, help context, and the frame's print and refresh
// buttons ("-" none, "print", "refresh", "hidden refresh").
struct PageEntry {
    int group, page, help;
    const char* right;
};
const PageEntry PAGES[10] = {
    {0, 1, HELP_NETWORK, "hidden refresh"}, {0, 2, HELP_SYSTEM_LOG, "refresh"},
    {0, 3, HELP_DAEMON_LOG, "refresh"},     {0, 4, HELP_SETUP, "-"},
    {1, 0, HELP_USER_GROUPS, "print"},      {1, 1, HELP_USERS, "print"},
    {1, 2, HELP_URL_CONTROL, "print"},      {2, 0, HELP_STAT_SELECTION, "-"},
    {2, 1, HELP_STAT_TABLE, "print"},       {2, 2, HELP_STAT_CHART, "print"}};

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

TEST_F(PagesTest, FactoryGivesEveryPageButLogOnWithItsHelpContext) {
    for (const PageEntry& entry : PAGES) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        Page* page = createPage(entry.group, entry.page, &owner);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->parentWidget(), &owner);
        EXPECT_TRUE(page->isHidden());
        EXPECT_EQ(page->helpContext(), entry.help);
    }
    // LogOn is the main window's own; addresses outside the tree give nothing.
    for (auto [g, p] :
         {std::pair{0, 0}, {0, 5}, {1, 3}, {2, 3}, {3, 0}, {-1, 0}, {0, -1}, {0, 17}, {1, 16}})
        EXPECT_EQ(createPage(g, p, &owner), nullptr) << g << "," << p;
}

TEST_F(PagesTest, FrameButtonsFollowThePageTable) {
    for (const PageEntry& entry : PAGES) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        Page* page = createPage(entry.group, entry.page, &owner);
        QList<RoundButton*> help = buttonsWithText(page, QStringLiteral("&Súgó"));
        ASSERT_EQ(help.size(), 1);
        EXPECT_FALSE(help[0]->isHidden());
        EXPECT_EQ(help[0]->geometry(), QRect(5, 385, 100, 40));
        EXPECT_EQ(help[0]->objectName(), QStringLiteral("button1012"));
        EXPECT_EQ(rightButton(page), entry.right);
        for (RoundButton* b : buttonsWithText(page, QStringLiteral("&Nyomtat")))
            EXPECT_EQ(b->geometry(), QRect(490, 385, 120, 40));
        for (RoundButton* b : buttonsWithText(page, QStringLiteral("&Frissít")))
            EXPECT_EQ(b->geometry(), QRect(490, 385, 120, 40));
        // The frame's only buttons: no page has its content yet.
        EXPECT_EQ(page->findChildren<RoundButton*>().size(),
                  std::string(entry.right) == "-" ? 1 : 2);
    }
}

TEST_F(PagesTest, OnlySetupLetsEnterAndEscapeThrough) {
    for (const PageEntry& entry : PAGES) {
        Page* page = createPage(entry.group, entry.page, &owner);
        EXPECT_EQ(page->swallowsEnterEscape(), entry.help != HELP_SETUP)
            << entry.group << "," << entry.page;
    }
}

TEST_F(PagesTest, StatusLinesAndGroupFrames) {
    NetworkPage network(&owner);
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
    EXPECT_EQ(network.statusLabel()->geometry(), QRect(10, 327, 590, 52));
    EXPECT_TRUE(network.statusLabel()->flashing());

    SetupPage setup(&owner);
    EXPECT_EQ(groupCaptions(&setup),
              QStringList({QString(), QStringLiteral("Szerverek"), QStringLiteral("Üzenetek"),
                           QStringLiteral("Ĺtviteli sebesség [ Kbit / sec ]")}));
    EXPECT_EQ(setup.serverGroup()->GetCaptionFont().color, QColor(0, 0, 128));
    EXPECT_EQ(setup.statusLabel()->text(),
              QStringLiteral("Elöször a hívja be a szerver beállításait!"));
    EXPECT_EQ(setup.statusLabel()->font().weight(), QFont::Normal);

    SelectionPage selection(&owner);
    EXPECT_EQ(groupCaptions(&selection),
              QStringList({QStringLiteral("Dátumig:"), QStringLiteral("Dátumtól:"),
                           QStringLiteral("Felbontás:"), QStringLiteral("Feldolgozás módja:"),
                           QStringLiteral("Szűkítés:")}));
    EXPECT_EQ(selection.statusLabel()->text(), QStringLiteral("..."));
    EXPECT_EQ(selection.statusLabel()->geometry(), QRect(9, 325, 589, 35));

    // Editor pages: the status line (normal weight) fills the "Üzenetek" panel.
    UsersPage users(&owner);
    UserGroupsPage groups(&owner);
    UrlControlPage urls(&owner);
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
    EXPECT_EQ(groups.sheet()->geometry(), QRect(10, 50, 435, 250));
    EXPECT_EQ(users.sheetPanel()->GetTitle(),
              QStringLiteral("        Név                       Csoport       P  M  S "));
    EXPECT_EQ(users.sheet()->GetMaxCol(), 5);
    EXPECT_EQ(users.dataPanel()->GetTitle(), QStringLiteral("A felhasználó adatok"));
    EXPECT_EQ(groups.sheetPanel()->GetTitle(), QStringLiteral("Felhasználói csoportok"));
    EXPECT_EQ(groups.sheet()->GetMaxCol(), 2);
    EXPECT_EQ(urls.sheetPanel()->GetTitle(), QStringLiteral("URL nevek"));
    EXPECT_EQ(urls.groupPanel()->GetTitle(), QStringLiteral("Csoport kiválasztás"));
}

TEST_F(PagesTest, ContentWidgetsSitInTheirGroups) {
    SystemLogPage systemLog(&owner);
    DaemonLogPage daemonLog(&owner);
    EXPECT_EQ(systemLog.group()->GetCaption(), QStringLiteral("Rendszerlog adatok"));
    EXPECT_EQ(daemonLog.group()->GetCaption(), QStringLiteral("Daemon log file"));
    for (LogPage* log : {static_cast<LogPage*>(&systemLog), static_cast<LogPage*>(&daemonLog)}) {
        EXPECT_EQ(log->group()->geometry(), QRect(5, 10, 600, 355));
        EXPECT_EQ(log->grid()->geometry(), QRect(10, 40, 590, 318));
        EXPECT_EQ(log->grid()->GetNumberCols(), 1);
        EXPECT_EQ(log->grid()->GetColWidth(0), 473);
        EXPECT_EQ(log->grid()->GetTH_Height(), 0);
        EXPECT_EQ(log->grid()->GetNumberRows(), 10000);
    }
    TablePage table(&owner);
    EXPECT_EQ(table.group()->GetCaption(), QStringLiteral("Táblázat:"));
    EXPECT_EQ(table.grid()->geometry(), QRect(10, 40, 588, 318));
    EXPECT_EQ(table.grid()->GetNumberCols(), 20);
    EXPECT_EQ(table.grid()->GetNumberRows(), 15);
    ChartPage chart(&owner);
    EXPECT_EQ(chart.group()->GetCaption(), QStringLiteral("Adatforgalom:"));
    EXPECT_EQ(chart.chart()->geometry(), QRect(10, 40, 588, 318));
    EXPECT_EQ(chart.chart()->GetAxisTitle(), QStringLiteral("Byte"));
}

TEST_F(PagesTest, MainWindowTakesEveryPageFromTheFactory) {
    noServer = 1; // no server: the start-up load goes straight to Setup
    lineSpeeds = {};
    MainWindow window(createPage, -1);
    window.startupLoad();
    ASSERT_TRUE(window.loaded());
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
    for (const PageEntry& entry : PAGES)
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
    UsersPage users(&owner);
    users.helpButton()->click();
    HelpWindow* help = HelpWindow::instance();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->anchor(), QStringLiteral("ctx262"));
    EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("Felhasználók")));
}

} // namespace
