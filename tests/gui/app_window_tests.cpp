// The main window without a server: start picture, no-server state, page tree and key filter.
#include <memory>

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include "app/logon_page.h"
#include "app/startup_window.h"
#include "serverdata/line_speeds.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/app_recording_page.h"
#include "widgets/buttons.h"
#include "winlib/vx_reg.h"

namespace {

class WindowTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        lineSpeeds = {};
    }
    void TearDown() override {
        window.reset();
        AppTest::TearDown();
    }
    // A main window of recording pages, shown and loaded in the no-server state (on Setup).
    MainWindow& noServerWindow() {
        noServer = 1;
        window = std::make_unique<MainWindow>(recordingPages(), -1);
        window->show();
        window->startupLoad();
        return *window;
    }
    // Current page and the visible pages, as "group,page".
    static QString visiblePages(const MainWindow& w) {
        QStringList shown;
        for (int g = 0; g < 3; ++g)
            for (int p = 0; p < w.pageCount(g); ++p)
                if (w.page(g, p)->isVisibleTo(&w)) shown << QStringLiteral("%1,%2").arg(g).arg(p);
        return shown.join(QLatin1Char(' '));
    }
    static QString visiblePictures(const MainWindow& w) {
        QStringList shown;
        for (int id = 1114; id <= 1119; ++id)
            if (w.picture(id)->isVisibleTo(&w)) shown << QString::number(id);
        return shown.join(QLatin1Char(' '));
    }
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, FirstSecondShowsOnlyTheStartPicture) {
    MainWindow w(recordingPages(), -1);
    EXPECT_EQ(w.windowTitle(), "Orvelan --- Logon");
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_TRUE(w.tree()->isHidden());
    EXPECT_EQ(visiblePictures(w), "1114");
    EXPECT_EQ(w.page(0, 0), nullptr);
    // Nothing to show yet: ShowPage changes nothing.
    w.ShowPage(0, 0);
    EXPECT_EQ(w.windowTitle(), "Orvelan --- Logon");

    // 1114 and 1115 swap on a click.
    QTest::mouseClick(w.picture(1114), Qt::LeftButton);
    EXPECT_EQ(visiblePictures(w), "1115");
    QTest::mouseClick(w.picture(1115), Qt::LeftButton);
    EXPECT_EQ(visiblePictures(w), "1114");
}

TEST_F(WindowTest, TheStartTimerRunsTheLoadOnce) {
    noServer = 1;
    MainWindow w(recordingPages(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(w.loaded(), 10000);
    EXPECT_EQ(w.currentPage(), 4);
    w.startupLoad(); // a second run does nothing
    EXPECT_EQ(w.tree()->topLevelItemCount(), 3);
}

TEST_F(WindowTest, NoServerStateOpensSetupAndEveryTreeClickReturnsThere) {
    MainWindow& w = noServerWindow();
    ASSERT_TRUE(w.loaded());
    // No settings file: the defaults, without a message in this state.
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(lineSpeeds.internetIn, 128.0);
    EXPECT_EQ(lineSpeeds.lanIn, 10000.0);
    EXPECT_EQ(serverData.urls.currentGroup, -1);

    EXPECT_FALSE(w.tree()->isHidden());
    EXPECT_EQ(w.currentGroup(), 0);
    EXPECT_EQ(w.currentPage(), 4);
    EXPECT_EQ(visiblePages(w), "0,4");
    EXPECT_EQ(visiblePictures(w), "");
    EXPECT_EQ(w.windowTitle(), "Rendszer / Setup -- User jogosultság");
    EXPECT_EQ(w.tree()->currentItem(), w.pageNode(0, 4));
    for (const PageEntry& entry : w.registry().pages)
        EXPECT_EQ(w.page(entry.group, entry.page)->geometry(), w.pageArea());

    for (QTreeWidgetItem* node : {w.pageNode(1, 1), w.groupNode(2), w.pageNode(0, 0)}) {
        w.tree()->setCurrentItem(node);
        EXPECT_EQ(visiblePages(w), "0,4") << node->text(0).toStdString();
        EXPECT_EQ(visiblePictures(w), "") << node->text(0).toStdString();
        EXPECT_EQ(w.tree()->currentItem(), node); // the clicked node stays highlighted
    }

    // LogOn starts logged off, and its logon never reaches a server in this state.
    LogOnPage* logOn = w.logOnPage();
    ASSERT_NE(logOn, nullptr);
    EXPECT_FALSE(logOn->levelSwitch()->isChecked());
    EXPECT_FALSE(logOn->pictureButton()->isEnabled());
    EXPECT_FALSE(logOn->loggedOn());
    EXPECT_EQ(serverData.session.SelectedLevel, 0);
    DialogAnswers::password("");
    logOn->logOn();
    EXPECT_FALSE(logOn->loggedOn());
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !");
}

TEST_F(WindowTest, ASetMarkThatIsMissingOrNotExactlyXAtTheLoadMeansNoServer) {
    for (const char* mark : {"", "x"}) {
        SCOPED_TRACE(mark);
        noServer = 0;
        if (*mark) {
            std::string key = std::string(ORVELAN_REGISTRY_ROOT) + "\\Setup\\Set";
            ASSERT_EQ(vxWriteRegistryKey(nullptr, 0, key.c_str(), mark, REG_SZ), 1);
        }
        MainWindow w(recordingPages(), -1);
        w.startupLoad();
        EXPECT_EQ(noServer, 1);
        EXPECT_EQ(w.currentPage(), 4);
        EXPECT_EQ(shownTexts(), "");
    }
}

TEST_F(WindowTest, ShowPageSendsHiddenAndShownAndIgnoresAddressesOutsideTheTree) {
    MainWindow& w = noServerWindow();
    clearLogs(w);
    w.ShowPage(2, 1);
    EXPECT_EQ(recorder(w, 0, 4)->log, QStringList({"1124"}));
    EXPECT_EQ(recorder(w, 2, 1)->log, QStringList({"1125", "view"}));
    EXPECT_EQ(w.windowTitle(), "Statisztikák / Táblázat -- User jogosultság");
    clearLogs(w);
    w.ShowPage(2, 1);
    EXPECT_EQ(recorder(w, 2, 1)->log, QStringList({"1125", "view"}));
    EXPECT_EQ(recorder(w, 0, 4)->log, QStringList());

    // The title's level word follows the switch when a page is shown, not before.
    serverData.session.SelectedLevel = 1;
    EXPECT_EQ(w.windowTitle(), "Statisztikák / Táblázat -- User jogosultság");
    w.ShowPage(1, 2);
    EXPECT_EQ(w.windowTitle(), "Szerkesztök / URL kontroll -- Adminisztrátor jogosultság");

    // Addresses outside the tree are ignored.
    w.ShowPage(1, 0);
    clearLogs(w);
    const QString title = w.windowTitle();
    for (auto [g, p] : {std::pair{4, 0}, {-1, 0}, {0, 5}, {1, 3}, {2, 3}, {3, 0}, {0, 6}}) {
        w.ShowPage(g, p);
        EXPECT_EQ(visiblePages(w), "1,0") << g << "," << p;
    }
    EXPECT_EQ(w.windowTitle(), title);
    EXPECT_EQ(recorder(w, 1, 0)->log, QStringList());

    // Page -1 hides every page and leaves the title alone.
    w.ShowPage(2, -1);
    EXPECT_EQ(visiblePages(w), "");
    EXPECT_EQ(w.windowTitle(), title);
    EXPECT_EQ(w.currentPage(), 0);
}

TEST_F(WindowTest, PagesLockAndUnlockTheTree) {
    MainWindow& w = noServerWindow();
    recorder(w, 0, 4)->send(CMD_LOCK_TREE);
    EXPECT_FALSE(w.tree()->isEnabled());
    QTreeWidgetItem* node = w.pageNode(2, 0);
    QTest::mouseClick(w.tree()->viewport(), Qt::LeftButton, {},
                      w.tree()->visualItemRect(node).center());
    EXPECT_EQ(w.tree()->currentItem(), w.pageNode(0, 4));
    recorder(w, 0, 4)->send(CMD_UNLOCK_TREE);
    EXPECT_TRUE(w.tree()->isEnabled());
    QTest::mouseClick(w.tree()->viewport(), Qt::LeftButton, {},
                      w.tree()->visualItemRect(node).center());
    EXPECT_EQ(w.tree()->currentItem(), node);
}

TEST_F(WindowTest, EnterAndEscapeAreSwallowedOutsideSetupAndClosingClosesHelp) {
    MainWindow& w = noServerWindow();
    QLineEdit setupField(w.page(0, 4));
    setupField.show();
    QSignalSpy setupEnter(&setupField, &QLineEdit::returnPressed);
    QTest::keyClick(&setupField, Qt::Key_Return);
    EXPECT_EQ(setupEnter.count(), 1);
    w.ShowPage(2, 0);
    QLineEdit field(w.page(2, 0));
    field.show();
    QSignalSpy enter(&field, &QLineEdit::returnPressed);
    QTest::keyClick(&field, Qt::Key_Return);
    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_EQ(enter.count(), 0);
    QTest::keyClick(w.tree(), Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible());

    // Closing the window closes the help window too.
    HelpWindow::showContext(HELP_SETUP);
    ASSERT_NE(HelpWindow::instance(), nullptr);
    w.close();
    EXPECT_EQ(HelpWindow::instance(), nullptr);
}

TEST_F(WindowTest, StartupOutcomeIsShownBeforeTheWindow) {
    // Without a set mark the start-up is silent and the main window runs.
    EXPECT_EQ(ShowStartupOutcome(RunStartup("")), -1);
    EXPECT_EQ(noServer, 1);
    EXPECT_EQ(shownTexts(), "");

    EXPECT_EQ(ShowStartupOutcome({"Hiba a proxy szerveren !!", "ERROR !", -1, 1}), -1);
    EXPECT_EQ(MessageBox::lastShown().title, "ERROR !");
    EXPECT_EQ(MessageBox::lastShown().buttons, MessageBox::OkOnly);
    EXPECT_EQ(MessageBox::lastShown().kind, MessageBox::Plain); // no icon
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !!");
    EXPECT_EQ(ShowStartupOutcome({"RPC inicializációs hiba !", "ERROR !", 3, 0}), 3);
    EXPECT_EQ(shownTexts(), "RPC inicializációs hiba !");
}

} // namespace
