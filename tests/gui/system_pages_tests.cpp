// The system pages without a server: Setup, the network page's sampling, the log pages.
#include <atomic>

#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "app/commands.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "pages/page_table.h"
#include "pages/system/log_page.h"
#include "pages/system/network_page.h"
#include "pages/system/setup_page.h"
#include "serverdata/line_speeds.h"
#include "serverdata/sd_host.h"
#include "tests/gui/app_fixture.h"
#include "widgets/buttons.h"
#include "widgets/gridctrl.h"
#include "widgets/history_graph.h"
#include "widgets/ticker.h"
#include "winlib/vx_reg.h"

namespace {

class SystemPagesTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        lineSpeeds = LineSpeeds{};
    }
    void TearDown() override {
        lineSpeeds = LineSpeeds{};
        AppTest::TearDown();
    }
    static QStringList serverTexts(const SetupPage& page) {
        QStringList out;
        for (int i = 0; i < 4; i++)
            out << page.serverField(i)->text();
        return out;
    }
    static QStringList speedTexts(const SetupPage& page) {
        QStringList out;
        for (int i = 0; i < 6; i++)
            out << page.speedField(i)->text();
        return out;
    }
    static QList<int> hours(const SetupPage& page) {
        QList<int> out;
        for (int i = 0; i < 4; i++)
            out << page.hourField(i)->value();
        return out;
    }
    static QList<bool> buttonsEnabled(const SetupPage& page) {
        QList<bool> out;
        for (int id : {SetupPage::ID_LOAD, SetupPage::ID_SAVE, SetupPage::ID_ADMIN_PASSWORD,
                       SetupPage::ID_USER_PASSWORD})
            out << page.findChild<RoundButton*>(QStringLiteral("button%1").arg(id))->isEnabled();
        return out;
    }
    QWidget owner;
};

TEST_F(SystemPagesTest, SetupInTheNoServerStateIsWhereANewConsoleIsPointedAtItsServer) {
    noServer = 1;
    SetupPage page(entryAt(0, 4), &owner);
    page.command(CMD_PAGE_SHOWN);
    // No message box in this state; the defaults at "%5.0f"; the hours 8:00 to 16:30.
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(speedTexts(page),
              QStringList({"  128", "10000", "  128", "  128", "10000", "  128"}));
    EXPECT_EQ(hours(page), QList<int>({8, 0, 16, 30}));
    EXPECT_EQ(page.statusLabel()->text(), "Konfigurációs hiba !");
    // The buttons keep their state (enabled), whatever the levels say.
    EXPECT_EQ(buttonsEnabled(page), QList<bool>({true, true, true, true}));

    // A name Windows-1250 cannot hold is refused before anything is written.
    page.serverField(0)->setText(QString::fromUtf8("szerver-中"));
    page.save();
    EXPECT_EQ(shownTexts(), "A szerver nevében olyan karakter van, amely a Windows-1250 "
                            "kódlapon nem írható le !");
    EXPECT_FALSE(exists("setup.bin"));
    EXPECT_FALSE(exists("registry.reg"));

    page.serverField(0)->setText(QString::fromUtf8("főszerver"));
    page.speedField(0)->setText("256");
    page.speedField(4)->setText("sok"); // not a number: saved as 0
    QTest::mouseClick(page.findChild<RoundButton*>("button1021"), Qt::LeftButton);
    EXPECT_EQ(page.statusLabel()->text(), "");
    LineSpeeds saved{};
    ASSERT_EQ(ReadLineSpeeds(saved), 0);
    EXPECT_EQ(saved.internetIn, 256);
    EXPECT_EQ(saved.lanOut, 0);
    EXPECT_STREQ(serverData.session.host, "f\xF5szerver");
    EXPECT_NE(get("registry.reg").find("\"ProxyServerName\"=\"f\xF5szerver\"\r\n"),
              std::string::npos);
    // Nothing went to any server: no working hours file was written.
    EXPECT_FALSE(exists("attandance.txt"));

    // An unwritable registry store fails after "setup.bin" and the host name were written.
    std::filesystem::remove("setup.bin");
    put("blocked", "");
    setenv("ORVELAN_REGISTRY", (dir / "blocked" / "registry.reg").c_str(), 1);
    page.serverField(0)->setText("uj.example");
    page.save();
    EXPECT_EQ(page.statusLabel()->text(), "Regisztri írási hiba '");
    EXPECT_TRUE(exists("setup.bin"));
    EXPECT_STREQ(serverData.session.host, "uj.example");

    // A password change has no confirmed server in this state.
    DialogAnswers::passwords({}, "uj", "uj");
    page.changePassword(1);
    EXPECT_EQ(page.statusLabel()->text(), "Konfigurációs hiba !");
}

TEST_F(SystemPagesTest, SetupLevelRuleMessagesOfTheLoadAndTheStatusLine) {
    SetupPage page(entryAt(0, 4), &owner);
    serverData.session.SelectedLevel = 1;
    serverData.session.GrantedLevel = 0;
    params("ProxyServerName 127.0.0.1\nLanServerForPing lan.example\n");
    // No server is connected (no host name): the hours come back as their defaults.
    page.serverField(1)->setText("typed");
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(buttonsEnabled(page), QList<bool>({false, false, false, false}));
    EXPECT_TRUE(page.helpButton()->isEnabled());
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(shownTexts(), "Setup file behívási hiba!, Default setup!!");
    EXPECT_EQ(serverTexts(page), QStringList({"127.0.0.1", "typed", "lan.example", ""}));
    EXPECT_EQ(hours(page), QList<int>({8, 0, 16, 30}));
    EXPECT_EQ(page.statusLabel()->text(), "");

    serverData.session.GrantedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(buttonsEnabled(page), QList<bool>({true, true, true, true}));
    serverData.session.SelectedLevel = 0;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(buttonsEnabled(page), QList<bool>({false, false, false, false}));

    // A cancelled password change keeps the status line; help clears it.
    page.statusLabel()->setStatusText("Password OK !");
    DialogAnswers::passwordCancel();
    page.changePassword(1);
    EXPECT_EQ(page.statusLabel()->text(), "Password OK !");
    QTest::mouseClick(page.helpButton(), Qt::LeftButton);
    EXPECT_EQ(page.statusLabel()->text(), "");
    EXPECT_NE(HelpWindow::instance(), nullptr);
}

// The network page over counters texts given by the test.
class NetworkPageTest : public SystemPagesTest {
  protected:
    void SetUp() override {
        SystemPagesTest::SetUp();
        SdSetHost("127.0.0.1");
        lineSpeeds.internetOut = 128;
        lineSpeeds.lanOut = 10000;
        lineSpeeds.intranetOut = 0;
        page = new NetworkPage(entryAt(0, 1), &owner);
        page->setCountersFetch([this](const char* host, std::string& text) {
            // On the remote worker, while the test waits in sample().
            hosts << host;
            text = counters;
            return answers;
        });
    }
    // One tick's sample, taken on the remote worker, and its outcome shown.
    void sample() {
        page->sample();
        EXPECT_TRUE(RemoteRunner::instance()->waitForIdle(10000));
    }
    QStringList cellTexts() const {
        QStringList out;
        for (int i = 0; i < NET_CELLS; i++)
            out << page->cellText(i)->text();
        return out;
    }
    NetworkPage* page = nullptr;
    std::string counters;
    bool answers = true;
    QStringList hosts;
};

TEST_F(NetworkPageTest, SamplesOnlyWhileShownWithAServerAndFillsTheNineCells) {
    EXPECT_EQ(page->timer()->interval(), 1000);
    EXPECT_TRUE(page->timer()->isActive());
    EXPECT_EQ(cellTexts(), QStringList(9, "0 Kbyte/sec"));
    counters = "lo 1 1 ppp0 1000 2000 eth0 0 0";
    sample(); // not shown yet
    EXPECT_TRUE(hosts.isEmpty());

    page->command(CMD_PAGE_SHOWN);
    page->timer()->advance(); // the clock's tick samples
    EXPECT_TRUE(RemoteRunner::instance()->waitForIdle(10000));
    EXPECT_EQ(hosts, QStringList({"127.0.0.1"}));
    EXPECT_EQ(cellTexts(), QStringList(9, "0.0 Kbyte/sec"));
    EXPECT_EQ(page->cellGraph(0)->count(), 1);

    counters = "lo 1 1 ppp0 17000 2512 eth0 625000 0 eth1 4096 0";
    sample();
    EXPECT_EQ(cellTexts(), QStringList({"15.6 Kbyte/sec", "0.5 Kbyte/sec", "16.1 Kbyte/sec",
                                        "610.4 Kbyte/sec", "0.0 Kbyte/sec", "610.4 Kbyte/sec",
                                        "4.0 Kbyte/sec", "0.0 Kbyte/sec", "4.0 Kbyte/sec"}));
    EXPECT_EQ(page->cellGraph(0)->value(0), 100); // the load against the speed, capped
    EXPECT_EQ(page->cellGraph(6)->value(0), 0);   // intranet speed 0: no load

    // A server that does not answer leaves the cells as they are.
    answers = false;
    sample();
    EXPECT_EQ(page->cellText(0)->text(), "15.6 Kbyte/sec");
    EXPECT_EQ(page->cellGraph(0)->count(), 2);

    // Hidden: no sampling; the cells keep their last values.
    answers = true;
    page->command(CMD_PAGE_HIDDEN);
    hosts.clear();
    sample();
    EXPECT_TRUE(hosts.isEmpty());
    EXPECT_EQ(page->cellText(0)->text(), "15.6 Kbyte/sec");

    // Shown again, nothing in the no-server state or without a server name.
    page->command(CMD_PAGE_SHOWN);
    noServer = 1;
    sample();
    EXPECT_TRUE(hosts.isEmpty());
    noServer = 0;
    SdSetHost("");
    sample();
    EXPECT_TRUE(hosts.isEmpty());
    EXPECT_EQ(page->cellGraph(0)->count(), 2);
}

// The ticks that come while a sample is out are skipped; the sampling never locks the page tree
// (it is no operation a person started, so the runner does not turn busy).
TEST_F(NetworkPageTest, TicksWhileASampleIsOutAreSkipped) {
    page->command(CMD_PAGE_SHOWN);
    std::atomic<int> fetches{0};
    std::atomic<bool> go{false};
    page->setCountersFetch([&](const char*, std::string& text) {
        fetches++;
        while (!go)
            QThread::msleep(1);
        text = "eth0 1 1";
        return true;
    });
    QSignalSpy busy(RemoteRunner::instance(), &RemoteRunner::busyChanged);
    QSignalSpy sampled(page, &NetworkPage::sampled);
    page->sample();
    EXPECT_TRUE(page->sampling());
    EXPECT_FALSE(RemoteRunner::instance()->busy());
    for (int i = 0; i < 3; i++) {
        page->timer()->advance();
        QTest::qWait(20);
    }
    EXPECT_TRUE(sampled.isEmpty());
    go = true;
    ASSERT_TRUE(RemoteRunner::instance()->waitForIdle(10000));
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(sampled.count(), 1);
    EXPECT_FALSE(page->sampling());
    EXPECT_EQ(page->cellGraph(3)->count(), 1);
    EXPECT_TRUE(busy.isEmpty());
    page->timer()->advance(); // the next tick samples again
    ASSERT_TRUE(RemoteRunner::instance()->waitForIdle(10000));
    EXPECT_EQ(fetches, 2);
}

TEST_F(NetworkPageTest, MissingPingParametersFlash) {
    const char* names[3] = {"InternetServerForPing", "LanServerForPing", "FrameServerForPing"};
    for (int c = 0; c < 3; c++) {
        page->statusLabel()->setFlashing(false);
        QTest::mouseClick(page->pingButton(c), Qt::LeftButton);
        EXPECT_EQ(page->statusLabel()->text(),
                  QStringLiteral("\nParameter '%1' is missing !").arg(names[c]));
        EXPECT_TRUE(page->statusLabel()->flashing());
    }
}

TEST_F(SystemPagesTest, LogPagesWithoutProxyServerName) {
    SystemLogPage page(entryAt(0, 2), &owner);
    page.command(CMD_PAGE_SHOWN);
    ASSERT_TRUE(RemoteRunner::instance()->waitForIdle(10000));
    EXPECT_EQ(page.lineCount(), 1);
    EXPECT_EQ(page.grid()->QuickGetText(0, 0), "  ProxyServerName !");
    // A failure stops the reload before the rows are fitted to the lines.
    EXPECT_EQ(page.grid()->GetNumberRows(), 10000);
    EXPECT_EQ(page.grid()->QuickGetText(0, 1), "");
}

} // namespace
