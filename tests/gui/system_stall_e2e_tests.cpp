// The system pages and the logon with a server that does not answer: the work waits on the
// remote worker while the UI thread keeps its beat, ends within the call limit with the cause
// recorded, and leaves no instance handed out.
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "app/commands.h"
#include "app/logon_page.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "lib/vx_err.h"
#include "pages/system/log_page.h"
#include "pages/system/network_page.h"
#include "pages/system/setup_page.h"
#include "remote/vx_remote.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/stall_probe.h"
#include "tests/support/demo_root.h"
#include "tests/support/hostile_server.h"
#include "widgets/buttons.h"
#include "widgets/gridctrl.h"
#include "widgets/ticker.h"

namespace {

constexpr int kLimitMs = 1000;                // the call and command limits the tests set
constexpr int kBoundMs = 3 * kLimitMs + 1000; // an operation of a few calls, and its hand-back
constexpr int kBeatBoundMs = StallProbe::kTickMs + 100;

QStringList listed(const LogPage& page) {
    QStringList out;
    for (int i = 0; i < page.lineCount(); i++)
        out << page.grid()->QuickGetText(0, i);
    return out;
}

// Waits for one emission of the spied signal; false when it did not come within the bound.
bool waitDone(QSignalSpy& spy) {
    return spy.count() > 0 || spy.wait(kBoundMs + 5000);
}

class StalledServerTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(buildDemoRoot(server));
        ASSERT_TRUE(connectConsole(server));
        params("ProxyServerName 127.0.0.1\nInternetServerForPing 127.0.0.1\n");
        ASSERT_TRUE(server.writeFile("/var/log/tty12", "elso\nmasodik\n"));
    }
    void TearDown() override {
        server.resume();
        vxSetCallTimeout(0);
        vxSetCommandTimeout(0);
        AppTest::TearDown();
    }
    // Stops the server with a short call limit; the clock of the operation starts.
    void stall() {
        vxSetCallTimeout(kLimitMs);
        vxSetCommandTimeout(kLimitMs);
        server.pause();
        vxClearError();
        took.start();
    }
    // The server goes on; every instance it handed out (its daemon log's asks) is released.
    // A call it takes late from a client that gave up is not run, so no ask is left over.
    void expectNoInstanceLeft() {
        server.resume();
        const InstanceLedger ledger = waitForReleases(server);
        const std::set<std::string>& asked = ledger.asked;
        const std::set<std::string>& released = ledger.released;
        EXPECT_EQ(asked, released);
        for (const std::string& number : asked)
            EXPECT_EQ(testRegisteredPort(std::stoul(number, nullptr, 16)), 0) << number;
    }
    // The operation ended within the bound as a timed-out call.
    void expectTimedOut() {
        EXPECT_LT(took.elapsed(), kBoundMs);
        EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    }

    CommandRecorder owner;
    TestServer server;
    QElapsedTimer took;
};

TEST_F(StalledServerTest, ALogFetchFailsInTimeAndCancelKeepsTheListedLines) {
    SystemLogPage page(entryAt(0, 2), &owner);
    QSignalSpy reloaded(&page, &LogPage::reloaded);
    page.reload();
    ASSERT_TRUE(waitDone(reloaded));
    const QStringList before = listed(page);
    ASSERT_EQ(before, QStringList({"elso ", "masodik "}));
    const std::string file = get("vxtail.tmp");

    // Stalled: the grid keeps its lines while the fetch waits, then lists the failure.
    stall();
    StallProbe probe;
    reloaded.clear();
    page.reload();
    EXPECT_TRUE(page.fetching());
    EXPECT_FALSE(page.cancelButton()->isHidden());
    EXPECT_FALSE(page.refreshButton()->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    page.reload(); // a second reload while one runs does nothing
    EXPECT_EQ(listed(page), before);
    ASSERT_TRUE(waitDone(reloaded));
    EXPECT_EQ(reloaded.count(), 1);
    expectTimedOut();
    EXPECT_LT(probe.longest(), kBeatBoundMs);
    EXPECT_EQ(listed(page), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));
    EXPECT_TRUE(page.cancelButton()->isHidden());
    EXPECT_TRUE(page.refreshButton()->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Listed again once the server is back, then cancelled while it waits: at once, the lines
    // and the whole file of the last fetch stay.
    server.resume();
    reloaded.clear();
    page.reload();
    ASSERT_TRUE(waitDone(reloaded));
    ASSERT_EQ(listed(page), before);
    server.pause();
    reloaded.clear();
    page.reload();
    QTest::qWait(300); // the worker waits for the server by now
    EXPECT_TRUE(reloaded.isEmpty());
    QElapsedTimer cancelled;
    cancelled.start();
    page.cancelButton()->click();
    ASSERT_TRUE(waitDone(reloaded));
    EXPECT_LT(cancelled.elapsed(), 200);
    EXPECT_EQ(vxLastError().code, VX_CANCELLED) << vxLastError().text;
    EXPECT_EQ(listed(page), before);
    EXPECT_EQ(get("vxtail.tmp"), file);
    EXPECT_TRUE(page.cancelButton()->isHidden());
    expectNoInstanceLeft();
}

// The sampling is background work: a stalled sample never turns the runner busy (the tree is not
// locked a second at a time), the ticks meanwhile are skipped, and a ping (an operation) takes
// its place at once.
TEST_F(StalledServerTest, ANetworkTickAndAPingFailInTimeAndThePingGoesFirst) {
    NetworkPage page(entryAt(0, 1), &owner);
    page.command(CMD_PAGE_SHOWN);
    QSignalSpy sampled(&page, &NetworkPage::sampled);
    QSignalSpy pinged(&page, &NetworkPage::pinged);
    QSignalSpy busy(RemoteRunner::instance(), &RemoteRunner::busyChanged);
    stall();
    StallProbe probe;
    page.sample();
    for (int i = 0; i < 3; i++) {
        QTest::qWait(100);
        page.timer()->advance(); // skipped: the sample is out
    }
    ASSERT_TRUE(waitDone(sampled));
    QTest::qWait(50);
    EXPECT_EQ(sampled.count(), 1);
    expectTimedOut();
    EXPECT_TRUE(busy.isEmpty());
    EXPECT_EQ(page.cellText(0)->text(), "0 Kbyte/sec");

    // A ping while a sample waits: the sample gives way at once, the ping waits its own limit.
    sampled.clear();
    page.sample();
    QTest::qWait(300);
    ASSERT_TRUE(sampled.isEmpty());
    vxClearError();
    QElapsedTimer preempted;
    preempted.start();
    took.start();
    page.pingTest(0);
    EXPECT_TRUE(page.pinging());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    for (int c = 0; c < 3; c++)
        EXPECT_FALSE(page.pingButton(c)->isEnabled()) << c;
    EXPECT_EQ(busy.count(), 1);
    ASSERT_TRUE(waitDone(sampled));
    EXPECT_LT(preempted.elapsed(), 200);
    ASSERT_TRUE(waitDone(pinged));
    expectTimedOut();
    EXPECT_LT(probe.longest(), kBeatBoundMs);
    EXPECT_EQ(page.statusLabel()->text(), "\nCannot open temporary file !");
    EXPECT_FALSE(exists("ping.txt"));
    for (int c = 0; c < 3; c++)
        EXPECT_TRUE(page.pingButton(c)->isEnabled()) << c;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(busy.count(), 2);
    expectNoInstanceLeft();
}

// The logon's check and the Setup page's password change: the same messages as ever, in time.
TEST_F(StalledServerTest, ALogonCheckAndAPasswordChangeFailInTimeWithTheirMessages) {
    LogOnPage page(&owner);
    QSignalSpy checked(&page, &LogOnPage::logOnChecked);
    stall();
    StallProbe probe;
    DialogAnswers::password("titok");
    page.logOn();
    EXPECT_TRUE(page.checking());
    EXPECT_FALSE(page.levelSwitch()->isEnabled());
    EXPECT_FALSE(page.logOnButton()->isEnabled());
    page.logOn(); // a second logon while one is checked does nothing (no dialog is asked for)
    ASSERT_TRUE(waitDone(checked));
    expectTimedOut();
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !");
    EXPECT_FALSE(page.loggedOn());
    EXPECT_TRUE(page.levelSwitch()->isEnabled());
    EXPECT_TRUE(page.logOnButton()->isEnabled());
    EXPECT_TRUE(owner.commands.isEmpty());

    SetupPage setup(entryAt(0, 4), &owner);
    QList<RoundButton*> buttons;
    for (int id : {SetupPage::ID_LOAD, SetupPage::ID_SAVE, SetupPage::ID_ADMIN_PASSWORD,
                   SetupPage::ID_USER_PASSWORD})
        buttons << setup.findChild<RoundButton*>(QStringLiteral("button%1").arg(id));
    buttons[0]->setEnabled(false); // as the level rule may leave it: kept so
    QSignalSpy changed(&setup, &SetupPage::passwordChanged);
    vxClearError();
    took.start();
    DialogAnswers::passwords({}, "uj", "uj");
    setup.changePassword(0);
    EXPECT_TRUE(setup.changingPassword());
    for (RoundButton* b : buttons)
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    setup.changePassword(1); // nothing while one runs (no dialog is asked for)
    ASSERT_TRUE(waitDone(changed));
    expectTimedOut();
    EXPECT_LT(probe.longest(), kBeatBoundMs);
    EXPECT_EQ(setup.statusLabel()->text(), "Távoli hiba !");
    EXPECT_FALSE(setup.changingPassword());
    EXPECT_FALSE(buttons[0]->isEnabled());
    for (int i = 1; i < 4; i++)
        EXPECT_TRUE(buttons[i]->isEnabled()) << i;
    expectNoInstanceLeft();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(server.root()))
        EXPECT_EQ(entry.path().string().find("_vx_lck_"), std::string::npos) << entry.path();
}

// A server that takes the calls and never answers them (it closes the connection later than
// the client gives up): the same bounded ends, and every instance it handed out is released.
class NoReplyServerTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(hostile.running()) << hostile.error();
        std::strcpy(serverData.session.host, HostileServer::host());
        params("ProxyServerName 127.0.0.1\n");
        vxSetCallTimeout(kLimitMs);
        vxSetCommandTimeout(kLimitMs); // the tail program's run is a command
    }
    void TearDown() override {
        vxSetCallTimeout(0);
        vxSetCommandTimeout(0);
        AppTest::TearDown();
    }
    CommandRecorder owner;
    HostileServer hostile{HostileMode::NoReply, 3 * kLimitMs};
};

TEST_F(NoReplyServerTest, ALogFetchAndALogonEndInTime) {
    SystemLogPage log(entryAt(0, 2), &owner);
    LogOnPage logOn(&owner);
    QSignalSpy reloaded(&log, &LogPage::reloaded);
    QSignalSpy checked(&logOn, &LogOnPage::logOnChecked);
    StallProbe probe;
    QElapsedTimer took;
    took.start();
    vxClearError();
    log.reload();
    ASSERT_TRUE(waitDone(reloaded));
    EXPECT_LT(took.elapsed(), kBoundMs);
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    EXPECT_EQ(listed(log), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));

    took.start();
    vxClearError();
    DialogAnswers::password("titok");
    logOn.logOn();
    ASSERT_TRUE(waitDone(checked));
    EXPECT_LT(took.elapsed(), kBoundMs);
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !");
    EXPECT_LT(probe.longest(), kBeatBoundMs);
    EXPECT_TRUE(hostile.outstanding().empty());
}

} // namespace
