// The system pages against the reference server, and a first run that is pointed at it.
#include <memory>
#include <sys/stat.h>

#include <QFontMetrics>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "app/commands.h"
#include "app/logon_page.h"
#include "app/main_window.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "pages/editors/editor_page.h"
#include "pages/editors/user_groups_page.h"
#include "pages/page_table.h"
#include "pages/system/log_page.h"
#include "pages/system/network_page.h"
#include "pages/system/setup_page.h"
#include "remote/vx_remote.h"
#include "serverdata/line_speeds.h"
#include "tests/gui/app_fixture.h"
#include "tests/support/demo_root.h"
#include "widgets/buttons.h"
#include "widgets/gridctrl.h"
#include "widgets/history_graph.h"
#include "winlib/vx_reg.h"

namespace {

class SystemE2ETest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        lineSpeeds = LineSpeeds{};
        beforeStart();
        server = std::make_unique<TestServer>(serverOptions());
        ASSERT_TRUE(server->running()) << server->error();
        ASSERT_TRUE(buildDemoRoot(*server));
        ASSERT_TRUE(connectConsole(*server));
        params("ProxyServerName 127.0.0.1\n");
    }
    void TearDown() override {
        lineSpeeds = LineSpeeds{};
        AppTest::TearDown();
    }
    virtual void beforeStart() {}
    virtual TestServerOptions serverOptions() { return {}; }
    // The listed lines of a log page.
    static QStringList lines(const LogPage& page) {
        QStringList out;
        for (int i = 0; i < page.lineCount(); i++)
            out << page.grid()->QuickGetText(0, i);
        return out;
    }
    // Commands the server ran since the last call.
    std::string newCommands() {
        std::string all = serverCommands(*server);
        std::string fresh = all.substr(seen);
        seen = all.size();
        return fresh;
    }
    static QList<int> hours(const SetupPage& page) {
        QList<int> out;
        for (int i = 0; i < 4; i++)
            out << page.hourField(i)->value();
        return out;
    }
    static bool makeExecutable(const std::string& path) { return chmod(path.c_str(), 0755) == 0; }
    // Until the work queued on the remote worker is done and its outcome shown.
    static void settle() { EXPECT_TRUE(RemoteRunner::instance()->waitForIdle(30000)); }

    QWidget owner;
    std::unique_ptr<TestServer> server;
    size_t seen = 0;
};

TEST_F(SystemE2ETest, SystemLogListsTheTailOfAtMostFiftyLinesAtEveryShowing) {
    // "első sor", "második" in Windows-1250.
    ASSERT_TRUE(server->writeFile("/var/log/tty12", "els\xF5 sor\nm\xE1sodik\r\nharmadik\n"));
    SystemLogPage page(entryAt(0, 2), &owner);
    newCommands();
    page.command(CMD_PAGE_SHOWN);
    settle();
    // Each line's end becomes a blank; Windows-1250 bytes show as their letters.
    EXPECT_EQ(lines(page), QStringList({"első sor ", "második ", "harmadik "}));
    EXPECT_EQ(page.grid()->GetNumberRows(), 3);
    EXPECT_EQ(page.grid()->GetTopRow(), 0);
    page.command(CMD_PAGE_SHOWN);
    settle();
    QTest::mouseClick(page.refreshButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(newCommands(), "./vxtail /var/log/tty12 50\n"
                             "./vxtail /var/log/tty12 50\n"
                             "./vxtail /var/log/tty12 50\n");
    EXPECT_EQ(page.grid()->GetNumberRows(), 3);
    EXPECT_TRUE(exists("vxtail.tmp"));

    // Of a long log the last fifty lines, scrolled to the last.
    std::string log;
    for (int i = 1; i <= 70; i++)
        log += "sor " + std::to_string(i) + "\n";
    ASSERT_TRUE(server->writeFile("/var/log/tty12", log));
    page.resize(634, 476);
    page.show();
    page.command(CMD_PAGE_SHOWN);
    settle();
    ASSERT_EQ(page.lineCount(), 50);
    EXPECT_EQ(page.grid()->QuickGetText(0, 0), "sor 21 ");
    EXPECT_EQ(page.grid()->QuickGetText(0, 49), "sor 70 ");
    EXPECT_EQ(page.grid()->GetNumberRows(), 50);
    EXPECT_EQ(page.grid()->GetTopRow(), 50 - 15);
    QRect last = page.grid()->visualRect(page.grid()->model()->index(49, 0));
    EXPECT_TRUE(page.grid()->viewport()->rect().contains(last)) << last.y();
}

TEST_F(SystemE2ETest, EmptyLogLongLinesAndFailures) {
    ASSERT_TRUE(server->writeFile("/var/log/tty12", ""));
    SystemLogPage page(entryAt(0, 2), &owner);
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(page.lineCount(), 0);
    EXPECT_EQ(page.grid()->GetNumberRows(), 10000);
    EXPECT_EQ(page.grid()->QuickGetText(0, 0), "");

    // A line of 600 characters is listed in pieces of 511.
    ASSERT_TRUE(server->writeFile("/var/log/tty12", std::string(600, 'x') + "\nvege\n"));
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(page), QStringList({QString(511, 'x'), QString(89, 'x') + " ", "vege "}));
    // Whole lines in the fixed-pitch 14-pixel font: the column is as wide as the longest line,
    // and the grid scrolls sideways to it.
    EXPECT_EQ(page.grid()->font().pixelSize(), 14);
    const int widest = QFontMetrics(page.grid()->font()).horizontalAdvance(QString(511, 'x'));
    EXPECT_GT(page.grid()->GetColWidth(0), widest);
    page.resize(634, 476);
    page.show();
    QCoreApplication::processEvents();
    EXPECT_GT(page.grid()->horizontalScrollBar()->maximum(), 0);

    // A log the tail program cannot read and a missing tail program read alike.
    ASSERT_TRUE(std::filesystem::remove(server->local("/var/log/tty12")));
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(page), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));
    EXPECT_EQ(page.grid()->GetColWidth(0), LogPage::MIN_LINE_WIDTH); // narrow again
    EXPECT_EQ(page.grid()->GetNumberRows(), 10000);
    EXPECT_EQ(page.grid()->QuickGetText(0, 1), "");
    ASSERT_TRUE(server->writeFile("/var/log/tty12", "a\n"));
    ASSERT_TRUE(std::filesystem::remove(server->local("vxtail")));
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(page), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));

    // A tail program that succeeds without leaving its output: the fetch fails.
    ASSERT_TRUE(server->writeFile("vxtail", "#!/bin/sh\nrm -f vxtail.tmp\nexit 0\n"));
    ASSERT_TRUE(makeExecutable(server->local("vxtail")));
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(page), QStringList({"  Távoli file olvasási hiba !"}));
}

TEST_F(SystemE2ETest, SetupLoadsAndSavesTheServersWorkingHours) {
    ASSERT_TRUE(server->writeFile("attandance.txt", "06:30 - 14:00\r\n"));
    serverData.session.SelectedLevel = serverData.session.GrantedLevel = 1;
    SetupPage page(entryAt(0, 4), &owner);
    // Without "setup.bin" the server's hours all the same, and a save keeps them as they were.
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(shownTexts(), "Setup file behívási hiba!, Default setup!!");
    EXPECT_EQ(hours(page), QList<int>({6, 30, 14, 0}));
    page.save();
    EXPECT_EQ(server->readFile("attandance.txt"), "06:30 - 14:00\r\n");

    ASSERT_TRUE(server->writeFile("attandance.txt", "07:45 - 17:15\r\n"));
    LineSpeeds stored{64, 2000, 32, 128, 4000, 16, 1, 1, 1};
    ASSERT_EQ(WriteLineSpeeds(stored), 0);
    page.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(page.statusLabel()->text(), "");
    EXPECT_EQ(hours(page), QList<int>({7, 45, 17, 15}));
    EXPECT_EQ(page.speedField(1)->text(), " 2000");
    EXPECT_EQ(page.speedField(5)->text(), "   16");
    EXPECT_EQ(page.serverField(0)->text(), "127.0.0.1");
    // The load computed the totals.
    EXPECT_EQ(lineSpeeds.lanTotal, 6000);

    page.hourField(1)->stepBy(-45);
    page.hourField(3)->stepBy(15);
    page.serverField(2)->setText("lan.example");
    QTest::mouseClick(page.findChild<RoundButton*>("button1021"), Qt::LeftButton);
    EXPECT_EQ(page.statusLabel()->text(), "");
    EXPECT_EQ(server->readFile("attandance.txt"), "07:00 - 17:30\r\n");
    EXPECT_NE(get("registry.reg").find("\"LanServerForPing\"=\"lan.example\"\r\n"),
              std::string::npos);
    LineSpeeds saved{};
    ASSERT_EQ(ReadLineSpeeds(saved), 0);
    EXPECT_EQ(saved.lanTotal, 6000);
    EXPECT_EQ(saved.intranetOut, 16);

    // The server gone: the working hours fail, the rest was saved.
    server->stop();
    page.save();
    EXPECT_EQ(page.statusLabel()->text(), "Hiba a proxy szerveren !");
}

TEST_F(SystemE2ETest, SetupSaveMovesEveryPageToTheNewServerWithoutARestart) {
    serverData.session.SelectedLevel = serverData.session.GrantedLevel = 1;
    ASSERT_TRUE(server->writeFile("/var/log/tty12", "sor\n"));
    SetupPage setup(entryAt(0, 4), &owner);
    SystemLogPage log(entryAt(0, 2), &owner);
    NetworkPage network(entryAt(0, 1), &owner);
    UserGroupsPage groups(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    std::vector<std::string> asked;
    network.setCountersFetch([&asked](const char* host, std::string& text) {
        asked.push_back(host);
        text.clear();
        return false;
    });
    auto saveServer = [&](const char* name) {
        setup.command(CMD_PAGE_SHOWN);
        settle();
        setup.serverField(0)->setText(name);
        setup.save();
    };

    // 127.0.0.2 reaches rpcbind but no service: vxd listens on 127.0.0.1 only.
    saveServer("127.0.0.2");
    log.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(log), QStringList({"  'tail' nem futtatható a proxy szerveren !"}));
    network.command(CMD_PAGE_SHOWN);
    settle();
    network.sample();
    settle();
    EXPECT_EQ(asked, std::vector<std::string>({"127.0.0.2"}));
    newCommands();
    groups.command(CMD_PAGE_SHOWN);
    settle();
    groups.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(groups.editing());
    EXPECT_EQ(newCommands(), ""); // the checkout went to the new server, not to this one

    // And back: every page reaches the server again.
    saveServer("127.0.0.1");
    log.command(CMD_PAGE_SHOWN);
    settle();
    EXPECT_EQ(lines(log), QStringList({"sor "}));
    network.sample();
    settle();
    EXPECT_EQ(asked.back(), "127.0.0.1");
    groups.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_TRUE(groups.editing()) << groups.statusText().toStdString();
    groups.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(groups.editing());
}

TEST_F(SystemE2ETest, SetupChangesBothConsolePasswords) {
    SetupPage page(entryAt(0, 4), &owner);
    DialogAnswers::passwords({}, "admin1", "admin1");
    QTest::mouseClick(page.findChild<RoundButton*>("button141"), Qt::LeftButton);
    settle();
    EXPECT_EQ(page.statusLabel()->text(), "Password OK !");
    std::string admin = server->readFile("/l/apache/etc/ampasswd");
    EXPECT_EQ(admin.substr(0, 2), "wj");
    DialogAnswers::passwords({}, "user1", "user1");
    QTest::mouseClick(page.findChild<RoundButton*>("button140"), Qt::LeftButton);
    settle();
    EXPECT_EQ(page.statusLabel()->text(), "Password OK !");
    EXPECT_NE(server->readFile("/l/apache/etc/empasswd"), admin);
    EXPECT_EQ(serverData.passwords.Check("user1"), 1); // the user level's, as logged on

    // A confirmation one character off changes nothing.
    DialogAnswers::passwords({}, "user2", "user3");
    page.changePassword(0);
    settle();
    EXPECT_EQ(page.statusLabel()->text(), "Hibás jelszó !");
    EXPECT_EQ(serverData.passwords.Check("user1"), 1);

    server->stop();
    DialogAnswers::passwords({}, "user2", "user2");
    page.changePassword(0);
    settle();
    EXPECT_EQ(page.statusLabel()->text(), "Távoli hiba !");
}

TEST_F(SystemE2ETest, PingTestsShowTheServersPingOutput) {
    params("InternetServerForPing 127.0.0.1\nLanServerForPing bad;target\n");
    NetworkPage page(entryAt(0, 1), &owner);
    page.resize(634, 476);
    page.show();
    owner.show(); // the page is really on screen, its box laid out
    QTest::mouseClick(page.pingButton(0), Qt::LeftButton);
    settle();
    QString text = page.statusLabel()->text();
    EXPECT_TRUE(text.startsWith("PING 127.0.0.1")) << text.toStdString();
    // The output is longer than its box: the box scrolls with the end (the loss summary) in
    // view, also for a second output after the reader scrolled up.
    EXPECT_TRUE(text.contains("packet loss")) << text.toStdString();
    ASSERT_EQ(page.statusLabel()->parentWidget(), page.statusBox()->viewport());
    QScrollBar* bar = page.statusBox()->verticalScrollBar();
    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE(run);
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum());
        const QWidget* label = page.statusLabel();
        EXPECT_EQ(label->y() + label->height(), page.statusBox()->viewport()->height());
        bar->setValue(0);
        page.pingTest(0);
        settle();
    }
    EXPECT_FALSE(page.statusLabel()->flashing());
    EXPECT_EQ(page.statusLabel()->currentTextColour(), QColor(Qt::black));
    EXPECT_TRUE(exists("ping.txt"));
    // The server refuses the target: the old output was deleted, so nothing can be shown.
    QTest::mouseClick(page.pingButton(1), Qt::LeftButton);
    settle();
    EXPECT_EQ(page.statusLabel()->text(), "\nCannot open temporary file !");
    EXPECT_EQ(bar->value(), bar->maximum()); // a shorter text, its end in view too
    EXPECT_TRUE(page.statusLabel()->flashing());
    EXPECT_FALSE(exists("ping.txt"));
}

// A server whose ping writes more than the page shows.
class LongPingTest : public SystemE2ETest {
  protected:
    void beforeStart() override {
        bin = dir / "bin";
        std::filesystem::create_directories(bin);
        std::string script = "#!/bin/sh\nprintf 'PING'\ni=0\nwhile [ $i -lt 300 ]; do "
                             "printf '0123456789'; i=$((i+1)); done\necho\n";
        put((bin / "ping").string(), script);
        ASSERT_TRUE(makeExecutable((bin / "ping").string()));
        oldPath = getenv("PATH");
        setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", oldPath.c_str(), 1);
        SystemE2ETest::TearDown();
    }
    std::filesystem::path bin;
    std::string oldPath;
};

TEST_F(LongPingTest, OutputIsCutAt2047Bytes) {
    params("FrameServerForPing 127.0.0.1\n");
    NetworkPage page(entryAt(0, 1), &owner);
    page.pingTest(2);
    settle();
    QString text = page.statusLabel()->text();
    ASSERT_EQ(text.size(), 2047);
    EXPECT_TRUE(text.startsWith("PING0123456789"));
    EXPECT_EQ(get("ping.txt").size(), 4 + 3000 + 1u);
}

// The network page over a server whose loopback interface reports itself as "eth1" (intranet).
class LiveCountersTest : public SystemE2ETest {
  protected:
    TestServerOptions serverOptions() override {
        TestServerOptions o;
        o.extraArgs = {"--netdev-alias", "eth1=lo"};
        return o;
    }
};

TEST_F(LiveCountersTest, CellsAfterTwoTicksShowTheTrafficBetweenThem) {
    lineSpeeds.intranetOut = 8; // 1000 bytes a second are the 100 % mark
    NetworkPage page(entryAt(0, 1), &owner);
    page.command(CMD_PAGE_SHOWN);
    settle();
    page.sample();
    settle();
    for (int i = 6; i < 9; i++)
        EXPECT_EQ(page.cellText(i)->text(), "0.0 Kbyte/sec") << i;
    ASSERT_GT(page.sampler().current[6], 0) << "no eth1 in the server's counters";

    // 100 kB over loopback between the ticks.
    ASSERT_TRUE(server->writeFile("big.txt", std::string(100000, 'x')));
    ASSERT_EQ(vxGetRemoteFile(serverData.session.host, "big.txt", "big.txt"), 0);
    page.sample();
    settle();
    const NetSampler& s = page.sampler();
    for (int i = 6; i < 9; i++) {
        double bytes = s.current[i] - s.previous[i]; // the tick has made them equal
        EXPECT_EQ(bytes, 0) << i;
        QString text = page.cellText(i)->text();
        ASSERT_TRUE(text.endsWith(" Kbyte/sec")) << text.toStdString();
        // Loopback counts every byte both ways.
        double kbytes = text.section(' ', 0, 0).toDouble();
        EXPECT_GE(kbytes, i == 8 ? 195.3 : 97.6) << i;
        EXPECT_EQ(page.cellGraph(i)->value(0), 100) << i;
        EXPECT_EQ(page.cellGraph(i)->count(), 2) << i;
    }
    EXPECT_EQ(s.current[8], s.current[6] + s.current[7]);
}

TEST_F(SystemE2ETest, FirstRunLandsOnSetupAndFindsTheServerAfterARestart) {
    vxResetParams();
    serverData.Reset();
    ASSERT_FALSE(exists("registry.reg"));
    // The console passwords exist on the server already.
    ASSERT_TRUE(connectConsole(*server));
    ASSERT_EQ(serverData.passwords.ChangeConsole(nullptr, "titok", 0), 1);
    ASSERT_TRUE(server->writeFile("/l/apache/etc/groups", "diak d\r\n"));
    ASSERT_TRUE(server->writeFile("/l/apache/etc/users", ""));
    ASSERT_TRUE(server->writeFile("/l/apache/etc/userdata", ""));
    vxResetParams();
    serverData.Reset();

    StartupResult first = RunStartup("");
    ASSERT_EQ(first.messageText, nullptr);
    ASSERT_EQ(first.noServer, 1);
    {
        MainWindow window(consolePages(), -1);
        window.show();
        window.startupLoad();
        ASSERT_TRUE(window.loaded());
        EXPECT_EQ(shownTexts(), "");
        auto* setup = dynamic_cast<SetupPage*>(window.page(0, 4));
        ASSERT_NE(setup, nullptr);
        EXPECT_TRUE(setup->isVisibleTo(&window));
        EXPECT_EQ(setup->statusLabel()->text(), "Konfigurációs hiba !");
        QTest::keyClicks(setup->serverField(0), "127.0.0.1");
        QTest::mouseClick(setup->findChild<RoundButton*>("button1021"), Qt::LeftButton);
        EXPECT_EQ(setup->statusLabel()->text(), "");
        window.close();
    }
    EXPECT_TRUE(exists("setup.bin"));

    // Restart: the process starts afresh.
    noServer = 0;
    vxResetParams();
    serverData.Reset();
    lineSpeeds = LineSpeeds{};
    StartupResult second = RunStartup("");
    EXPECT_EQ(second.messageText, nullptr);
    ASSERT_EQ(second.noServer, 0) << vxLastError().text;
    EXPECT_STREQ(serverData.session.host, "127.0.0.1");
    MainWindow window(consolePages(), -1);
    window.show();
    window.startupLoad();
    ASSERT_TRUE(window.loaded());
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(window.currentPage(), 0);
    EXPECT_EQ(window.windowTitle(), "Rendszer / LogOn -- User jogosultság");
    DialogAnswers::password("titok");
    window.logOnPage()->logOn();
    settle();
    ASSERT_TRUE(window.logOnPage()->loggedOn());
    window.tree()->setCurrentItem(window.pageNode(0, 3));
    settle();
    // The daemon log page lists the server's own log: its newest line is the request that ran
    // the tail program itself.
    auto* daemonLog = dynamic_cast<DaemonLogPage*>(window.page(0, 3));
    ASSERT_NE(daemonLog, nullptr);
    ASSERT_GT(daemonLog->lineCount(), 1);
    EXPECT_LE(daemonLog->lineCount(), 50);
    const QString last = daemonLog->grid()->QuickGetText(0, daemonLog->lineCount() - 1);
    EXPECT_TRUE(last.contains("EXEC ./vxtail ./tcp_srvr.log 50")) << last.toStdString();
}

} // namespace
