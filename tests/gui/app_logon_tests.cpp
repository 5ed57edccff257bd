// The main window and the LogOn page against the reference server.
#include <filesystem>
#include <sys/stat.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "app/logon_page.h"
#include "app/remote_runner.h"
#include "pages/system/log_page.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/app_recording_page.h"
#include "tests/support/demo_root.h"
#include "widgets/gridctrl.h"
#include "winlib/vx_reg.h"

namespace {

class LogOnTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(buildDemoRoot(server));
        ASSERT_TRUE(connectConsole(server));
        std::string mark = std::string(ORVELAN_REGISTRY_ROOT) + "\\Setup\\Set";
        ASSERT_GE(vxWriteRegistryKey(nullptr, 0, mark.c_str(), "X", REG_SZ), 0);
        // The console passwords, set the way the Setup page sets them.
        ASSERT_EQ(serverData.passwords.ChangeConsole("", "titok", 0), 1);
        ASSERT_EQ(serverData.passwords.ChangeConsole("", "F\xF5n\xF6k", 1),
                  1); // "Főnök" in Windows-1250
        ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", "diak d\r\ntanar a\r\n"));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/users", ""));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/userdata", ""));
    }
    // A loaded main window showing the LogOn page.
    void open(MainWindow& w) {
        w.show();
        w.startupLoad();
        ASSERT_TRUE(w.loaded()) << shownTexts().toStdString() << ": " << vxLastError().text;
        logOn = w.logOnPage();
    }
    void clickSwitch() { logOn->levelSwitch()->click(); }
    static QStringList lines(const LogPage& page) {
        QStringList out;
        for (int i = 0; i < page.lineCount(); i++)
            out << page.grid()->QuickGetText(0, i);
        return out;
    }
    // A logon with its check on the remote worker, until its outcome is shown.
    void logOnNow() {
        logOn->logOn();
        EXPECT_TRUE(RemoteRunner::instance()->waitForIdle(30000));
    }

    TestServer server;
    LogOnPage* logOn = nullptr;
};

TEST_F(LogOnTest, StartupLoadReadsTheListsAndOpensLogOn) {
    MainWindow w(recordingPages(), -1);
    open(w);
    EXPECT_EQ(noServer, 0);
    EXPECT_EQ(shownTexts(), "Setup file behívási hiba!, Default setup!!");
    EXPECT_EQ(serverData.groups.Count(), 2);
    EXPECT_STREQ(serverData.groups[0].name, "diak");
    EXPECT_EQ(w.windowTitle(), "Rendszer / LogOn -- User jogosultság");
    EXPECT_TRUE(w.picture(1114)->isHidden());
}

TEST_F(LogOnTest, UnreadableGroupListStopsTheLoadWithAnEmptyTree) {
    // A line longer than the line reader takes.
    ASSERT_TRUE(
        server.writeFile("/l/apache/etc/groups", "diak d\r\n" + std::string(5000, 'g') + "\r\n"));
    MainWindow w(recordingPages(), -1);
    w.show();
    w.startupLoad();
    EXPECT_EQ(shownTexts(), "Lokális file olvasási hiba (csoportok) !");
    EXPECT_FALSE(w.loaded());
    EXPECT_FALSE(w.tree()->isHidden());
    EXPECT_EQ(w.tree()->topLevelItemCount(), 0);
    EXPECT_EQ(w.page(0, 0), nullptr);
    EXPECT_FALSE(w.picture(1114)->isHidden());
    EXPECT_EQ(w.windowTitle(), "Orvelan --- Logon");
}

TEST_F(LogOnTest, UserLogonWrongPasswordAndCancel) {
    MainWindow w(recordingPages(), -1);
    open(w);
    shownTexts();

    DialogAnswers::password("rossz");
    logOnNow();
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(shownTexts(), "Hibás jelszó !");
    EXPECT_FALSE(logOn->loggedOn());
    EXPECT_EQ(w.currentPage(), 0);

    clearLogs(w);
    DialogAnswers::password("titok");
    logOnNow();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_TRUE(logOn->loggedOn());
    EXPECT_EQ(serverData.session.GrantedLevel, 0);
    EXPECT_EQ(w.tree()->currentItem(), w.pageNode(0, 1));
    EXPECT_EQ(w.windowTitle(), "Rendszer / Hálózat -- User jogosultság");
    EXPECT_EQ(recorder(w, 0, 1)->log.last(), "view");

    // Logged on, the tree works: a group node shows its picture, a page node hides it again.
    w.tree()->setCurrentItem(w.groupNode(1));
    EXPECT_FALSE(w.picture(1116)->isHidden());
    EXPECT_TRUE(w.page(0, 1)->isHidden());
    EXPECT_EQ(w.windowTitle(), "Rendszer / Hálózat -- User jogosultság");
    w.tree()->setCurrentItem(w.groupNode(2));
    EXPECT_FALSE(w.picture(1117)->isHidden());
    EXPECT_TRUE(w.picture(1116)->isHidden());
    QTest::mouseClick(w.picture(1117), Qt::LeftButton);
    EXPECT_FALSE(w.picture(1119)->isHidden());
    w.tree()->setCurrentItem(w.pageNode(1, 1));
    EXPECT_TRUE(w.picture(1119)->isHidden());
    EXPECT_FALSE(w.page(1, 1)->isHidden());
    EXPECT_EQ(w.windowTitle(), "Szerkesztök / Felhasználók -- User jogosultság");

    // A wrong attempt while logged on keeps the logon; a cancelled prompt logs off.
    DialogAnswers::password("titok2");
    logOnNow();
    EXPECT_EQ(shownTexts(), "Hibás jelszó !");
    EXPECT_TRUE(logOn->loggedOn());
    DialogAnswers::passwordCancel();
    logOnNow();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_FALSE(logOn->loggedOn());
    w.tree()->setCurrentItem(w.groupNode(2)); // logged off, every choice leads back to LogOn
    EXPECT_EQ(w.currentPage(), 0);
    EXPECT_EQ(w.currentGroup(), 0);
    EXPECT_TRUE(w.picture(1117)->isHidden());
}

TEST_F(LogOnTest, AdministratorLevelEnablesEditingUntilTheSwitchGoesOff) {
    MainWindow w(recordingPages(), -1);
    open(w);
    DialogAnswers::password("titok");
    logOnNow();
    ASSERT_TRUE(logOn->loggedOn());

    // Switch on: the administrator password is needed; the user password no longer passes.
    w.ShowPage(0, 0);
    clickSwitch();
    EXPECT_EQ(serverData.session.SelectedLevel, 1);
    EXPECT_EQ(serverData.session.GrantedLevel, 0);
    EXPECT_EQ(w.windowTitle(), "Rendszer / LogOn -- User jogosultság");
    DialogAnswers::password("titok");
    logOnNow();
    EXPECT_EQ(shownTexts(), "Setup file behívási hiba!, Default setup!!|Hibás jelszó !");
    EXPECT_EQ(serverData.session.GrantedLevel, 0);
    EXPECT_TRUE(logOn->loggedOn()); // still logged on at user level

    clearLogs(w);
    DialogAnswers::password(QString::fromUtf8("Főnök"));
    logOnNow();
    EXPECT_EQ(serverData.session.GrantedLevel, 1);
    EXPECT_EQ(w.windowTitle(), "Rendszer / Hálózat -- Adminisztrátor jogosultság");
    EXPECT_EQ(recorder(w, 0, 1)->log, QStringList({"1125", "edit"}));

    // Switch off: editing ends at the next page change, without a new logon.
    w.ShowPage(0, 0);
    clickSwitch();
    EXPECT_EQ(serverData.session.SelectedLevel, 0);
    EXPECT_EQ(serverData.session.GrantedLevel, 0);
    EXPECT_EQ(w.windowTitle(), "Rendszer / LogOn -- Adminisztrátor jogosultság");
    clearLogs(w);
    w.tree()->setCurrentItem(w.pageNode(1, 0));
    EXPECT_EQ(recorder(w, 1, 0)->log, QStringList({"1125", "view"}));
    EXPECT_EQ(w.windowTitle(), "Szerkesztök / Felhasználói csoportok -- User jogosultság");
}

TEST_F(LogOnTest, ClosingReleasesThisConsolesLocks) {
    MainWindow w(recordingPages(), -1);
    open(w);
    ASSERT_EQ(serverData.groups.Load(true), 1); // checked out, as an editor page would
    EXPECT_TRUE(server.exists("/l/apache/etc/groups._vx_lck_"));
    w.close();
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
}

// The window closes while a log fetch waits for a slow command on the server and a list is
// checked out: the fetch is cancelled at once, the lock released, and no copy of the lock left.
TEST_F(LogOnTest, ClosingWhileAFetchRunsReleasesTheLocks) {
    ASSERT_TRUE(server.writeFile("vxtail", "#!/bin/sh\nsleep 20\n"));
    ASSERT_EQ(chmod(server.local("vxtail").c_str(), 0755), 0);
    params("ProxyServerName 127.0.0.1\n");
    MainWindow w(recordingPages(), -1);
    open(w);
    ASSERT_EQ(serverData.groups.Load(true), 1);
    ASSERT_TRUE(server.exists("/l/apache/etc/groups._vx_lck_"));
    CommandRecorder owner;
    SystemLogPage log(entryAt(0, 2), &owner);
    QSignalSpy reloaded(&log, &LogPage::reloaded);
    log.reload();
    QTest::qWait(300); // the command runs on the server by now
    EXPECT_TRUE(reloaded.isEmpty());
    EXPECT_FALSE(w.tree()->isEnabled());
    QElapsedTimer took;
    took.start();
    w.close();
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(server.root()))
        EXPECT_EQ(entry.path().string().find("_vx_lck_"), std::string::npos) << entry.path();
    ASSERT_TRUE(reloaded.count() == 1 || reloaded.wait(5000));
    EXPECT_EQ(lines(log), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));
}

} // namespace
