// The statistics pages against the reference server and its statistics tool.

#include <QCalendarWidget>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include "app/commands.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "lib/vx_err.h"
#include "pages/stats/stats_pages.h"
#include "remote/vx_remote.h"
#include "stats/stat_query.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/stall_probe.h"
#include "tests/stats/access_log_lines.h"
#include "tests/support/demo_root.h"
#include "widgets/buttons.h"
#include "widgets/chartfx.h"
#include "widgets/gridctrl.h"

namespace {

// Starts the query and waits for its outcome, which the remote worker hands back.
bool runQuery(SelectionPage& page) {
    QSignalSpy done(&page, &SelectionPage::queryFinished);
    page.start();
    return done.wait(60000);
}

// Sets a variable of the environment while it lives, or none for a null value.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(value ? name : nullptr) {
        if (value) setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_name) unsetenv(m_name);
    }

  private:
    const char* m_name;
};

class StatsE2ETest : public AppTest {
  protected:
    // slowMs: the server's tool pauses this long after each block of log text it reads.
    explicit StatsE2ETest(const char* slowMs = nullptr) : m_slow("ORVELAN_STATS_SLOW_MS", slowMs) {}
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(buildDemoRoot(server));
        ASSERT_TRUE(connectConsole(server));
        params("ProxyServerName 127.0.0.1\n");
        UserRecord boss = user("boss");
        boss.super = 1;
        ASSERT_EQ(serverData.users.Add(user("alice")), 0);
        ASSERT_EQ(serverData.users.Add(boss), 1);
        time_t t = localTime(2024, 6, 3, 9, 0);
        ASSERT_TRUE(
            server.writeFile("/var/log/squid/access.log",
                             accessLogLine(t, 100, "alice", "http://www.index.hu/") +
                                 accessLogLine(t + 3600, 200, "alice", "http://www.hvg.hu/") +
                                 accessLogLine(t + 86400, 400, "boss", "http://secret.hu/")));
    }
    static TestServerOptions withStatsTool() {
        TestServerOptions o;
        o.statsTool = true;
        return o;
    }
    void TearDown() override {
        server.resume();
        vxSetCallTimeout(0);
        vxSetCommandTimeout(0);
        serverData.users.Clear();
        AppTest::TearDown();
    }
    // The selection page set to 3 and 4 June 2024, the whole days.
    void choosePeriod(SelectionPage& page) {
        page.startCalendar()->setSelectedDate(QDate(2024, 6, 3));
        page.endCalendar()->setSelectedDate(QDate(2024, 6, 4));
    }
    CommandRecorder owner;
    ScopedEnv m_slow; // before the server, whose tool is to see it
    TestServer server{withStatsTool()};
};

class StatsSlowE2ETest : public StatsE2ETest {
  protected:
    StatsSlowE2ETest() : StatsE2ETest("1200") {}
};

// A query that runs longer than a second shows how much of the logs the tool has read, read
// beside the worker's wait for the tool; the outcome replaces it.
TEST_F(StatsSlowE2ETest, ALongQueryShowsHowMuchOfTheLogsIsRead) {
    SelectionPage selection(entryAt(2, 0), &owner);
    choosePeriod(selection);
    selection.resolutionButton(STAT_RES_DAY)->click();
    QStringList texts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (texts.isEmpty() || texts.back() != selection.statusLabel()->text())
            texts << selection.statusLabel()->text();
    });
    watch.start(20);
    StallProbe probe;
    ASSERT_TRUE(runQuery(selection));
    watch.stop();
    EXPECT_EQ(selection.statusLabel()->text(), "Lépjen a Grafikonra");
    EXPECT_TRUE(texts.contains("Olvasva: 100% (0 / 0 MB)")) << texts.join("|").toStdString();
    EXPECT_EQ(texts.front(), "...");
    EXPECT_LT(probe.longest(), 10 + 100);
    EXPECT_EQ(get("statout.txt"), "300\n400\n");
}

TEST_F(StatsE2ETest, TrafficQueryGoesToTheChart) {
    SelectionPage selection(entryAt(2, 0), &owner);
    ChartPage chart(entryAt(2, 2), &owner);
    choosePeriod(selection);
    selection.resolutionButton(STAT_RES_DAY)->click();
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(selection.statusLabel()->text(), "Lépjen a Grafikonra");
    EXPECT_EQ(owner.commands, QList<int>{CMD_SHOW_PAGE});
    EXPECT_EQ(owner.params, QList<quintptr>{showPageParam(PageRole::StatChart)});
    EXPECT_EQ(get("statin.txt"), "2024-06-03 00:00:00\r\n2024-06-04 23:59:00\r\n3\r\n");
    EXPECT_EQ(get("statout.txt"), "300\n400\n");
    EXPECT_FALSE(server.exists("/tmp/infile"));
    chart.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(chart.chart()->GetValues(), QList<double>({300, 400}));
    EXPECT_EQ(chart.chart()->GetLabels(), QStringList({"2024 06.03 00:00", "2024 06.04 00:00"}));
    EXPECT_EQ(chart.chart()->GetTotalLine(), "Adatforgalom:        700");
}

TEST_F(StatsE2ETest, UrlAndSiteQueriesGoToTheTable) {
    SelectionPage selection(entryAt(2, 0), &owner);
    TablePage table(entryAt(2, 1), &owner);
    choosePeriod(selection);
    selection.kindButton(STAT_KIND_URL)->click();
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(selection.statusLabel()->text(), "Lépjen a Táblázatra");
    EXPECT_EQ(owner.params, QList<quintptr>{showPageParam(PageRole::StatTable)});
    table.command(CMD_PAGE_SHOWN);
    // The super user's line is in the file but not on the page.
    EXPECT_EQ(table.lineCount(), 2);
    EXPECT_EQ(table.grid()->QuickGetText(0, 0),
              "           alice         1    http://www.index.hu/");

    selection.kindButton(STAT_KIND_SITE)->click();
    selection.scopeButton(STAT_SCOPE_USER)->click();
    selection.nameList()->setCurrentIndex(0);
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(get("statin.txt"),
              "2024-06-03 00:00:00\r\n2024-06-04 23:59:00\r\n1\r\nalice\r\nlines 99999\r\n");
    table.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(table.lineCount(), 2);
    EXPECT_EQ(table.grid()->QuickGetText(0, 1), "           alice         1    www.hvg.hu");
}

// "Csoport": the group chosen in the name list; the server counts its users by its own user
// list (the super user left out), and the pages name the group.
TEST_F(StatsE2ETest, AGroupsTrafficAndSitesUnderTheGroupsName) {
    ASSERT_GE(serverData.groups.Add("Rakt\xe1r", "e", ""), 0);
    ASSERT_GE(serverData.groups.Add("Iroda", "e", ""), 0);
    ASSERT_TRUE(
        server.writeFile("/l/apache/etc/users", "alice:Iroda::p:::\r\nboss:Iroda::p::s:\r\n"));
    SelectionPage selection(entryAt(2, 0), &owner);
    TablePage table(entryAt(2, 1), &owner);
    ChartPage chart(entryAt(2, 2), &owner);
    choosePeriod(selection);
    selection.resolutionButton(STAT_RES_DAY)->click();
    selection.scopeButton(STAT_SCOPE_GROUP)->click();
    EXPECT_EQ(selection.nameList()->count(), 2);
    ASSERT_TRUE(runQuery(selection)); // none chosen yet: nothing is sent
    EXPECT_EQ(selection.statusLabel()->text(), "Nincs kiválasztott csoport !");
    EXPECT_FALSE(exists("statin.txt"));

    selection.nameList()->setCurrentIndex(1);
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(selection.statusLabel()->text(), "Lépjen a Grafikonra");
    EXPECT_EQ(get("statin.txt"),
              "2024-06-03 00:00:00\r\n2024-06-04 23:59:00\r\n3\r\n\r\ngroup Iroda\r\n");
    EXPECT_EQ(get("statout.txt"), "300\n0\n");
    chart.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(chart.chart()->GetTotalLine(), "Adatforgalom:        300");
    EXPECT_TRUE(chart.scopeNote()->isVisibleTo(&chart));
    EXPECT_EQ(chart.scopeNote()->text(), "Csoport: Iroda");

    selection.kindButton(STAT_KIND_SITE)->click();
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(get("statin.txt"), "2024-06-03 00:00:00\r\n2024-06-04 23:59:00\r\n3\r\n\r\n"
                                 "group Iroda\r\nlines 99999\r\n");
    table.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(table.lineCount(), 2);
    EXPECT_EQ(table.grid()->QuickGetText(0, 0), "           Iroda         1    www.index.hu");
    EXPECT_FALSE(table.cutNote()->isVisibleTo(&table));

    // All users again: the chart's next drawing names no group.
    selection.kindButton(STAT_KIND_TRAFFIC)->click();
    selection.scopeButton(STAT_SCOPE_ALL)->click();
    ASSERT_TRUE(runQuery(selection));
    chart.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(chart.chart()->GetTotalLine(), "Adatforgalom:        700");
    EXPECT_FALSE(chart.scopeNote()->isVisibleTo(&chart));
}

TEST_F(StatsE2ETest, ToolFailureIsReportedAndTheServerFilesStay) {
    SelectionPage selection(entryAt(2, 0), &owner);
    ChartPage chart(entryAt(2, 2), &owner);
    choosePeriod(selection);
    ASSERT_TRUE(runQuery(selection));
    chart.command(CMD_PAGE_SHOWN);
    // The tool fails: the access log is gone.
    std::filesystem::remove(server.local("/var/log/squid/access.log"));
    owner.commands.clear();
    selection.kindButton(STAT_KIND_URL)->click();
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(selection.statusLabel()->text(), "Hiba a proxy szerveren");
    EXPECT_TRUE(owner.commands.isEmpty());
    EXPECT_TRUE(server.exists("/tmp/infile"));
    // The pages keep the last result that arrived.
    EXPECT_EQ(StatResults::of(&owner)->last().query.kind, STAT_KIND_TRAFFIC);
    chart.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(chart.chart()->GetTotalLine(), "Adatforgalom:        700");
}

// A stopped server: the query runs on the worker, the UI thread's timer keeps its beat, the
// query fails within the call limit as a timed-out call, and the last result and its file stay.
TEST_F(StatsE2ETest, AStoppedServerFailsTheQueryInTimeWhileTheWindowAnswers) {
    SelectionPage selection(entryAt(2, 0), &owner);
    choosePeriod(selection);
    ASSERT_TRUE(runQuery(selection));
    const int serial = StatResults::of(&owner)->serial();
    const std::string before = get("statout.txt");
    constexpr int kLimitMs = 1000;
    vxSetCallTimeout(kLimitMs);
    server.pause();
    vxClearError();
    StallProbe probe;
    QElapsedTimer took;
    took.start();
    QSignalSpy done(&selection, &SelectionPage::queryFinished);
    selection.start();
    EXPECT_FALSE(selection.startButton()->isEnabled());
    EXPECT_FALSE(selection.cancelButton()->isHidden());
    selection.start(); // a second start while one runs does nothing
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(done.count(), 1);
    EXPECT_LT(took.elapsed(), 3 * kLimitMs + 1000);
    EXPECT_LT(probe.longest(), 10 + 100);
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    EXPECT_EQ(selection.statusLabel()->text(), "Távoli file írási hiba");
    EXPECT_TRUE(selection.startButton()->isEnabled());
    EXPECT_TRUE(selection.cancelButton()->isHidden());
    EXPECT_EQ(get("statout.txt"), before);
    EXPECT_EQ(StatResults::of(&owner)->serial(), serial);
    EXPECT_EQ(owner.commands, QList<int>{CMD_SHOW_PAGE}); // the first query's only
}

// Cancel ends a query that waits for a stopped server at once, without the call limit's wait;
// the previous result and its file stay, and the next query works once the server goes on.
TEST_F(StatsE2ETest, CancelEndsAStalledQueryAtOnce) {
    SelectionPage selection(entryAt(2, 0), &owner);
    choosePeriod(selection);
    ASSERT_TRUE(runQuery(selection));
    const int serial = StatResults::of(&owner)->serial();
    const std::string before = get("statout.txt");
    server.pause();
    vxClearError();
    QSignalSpy done(&selection, &SelectionPage::queryFinished);
    selection.start();
    QTest::qWait(300); // the worker is waiting for the server by now (or waits at once)
    EXPECT_TRUE(done.isEmpty());
    QElapsedTimer took;
    took.start();
    selection.cancelButton()->click();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_LT(took.elapsed(), 200);
    EXPECT_EQ(vxLastError().code, VX_CANCELLED) << vxLastError().text;
    EXPECT_EQ(selection.statusLabel()->text(), "Távoli file írási hiba");
    EXPECT_EQ(get("statout.txt"), before);
    EXPECT_EQ(StatResults::of(&owner)->serial(), serial);
    server.resume();
    ASSERT_TRUE(runQuery(selection));
    EXPECT_EQ(selection.statusLabel()->text(), "Lépjen a Grafikonra");
    EXPECT_EQ(StatResults::of(&owner)->serial(), serial + 1);
}

// A page that goes while its query runs cancels it: the outcome goes nowhere, the worker is
// free again and the next query runs.
TEST_F(StatsE2ETest, APageGoneWhileItsQueryRunsLeavesTheWorkerFree) {
    RemoteRunner* runner = RemoteRunner::instance();
    auto* selection = new SelectionPage(entryAt(2, 0), &owner);
    choosePeriod(*selection);
    server.pause();
    QSignalSpy busy(runner, &RemoteRunner::busyChanged);
    selection->start();
    EXPECT_TRUE(runner->busy());
    delete selection;
    ASSERT_TRUE(busy.count() == 2 || busy.wait(5000));
    EXPECT_EQ(busy.count(), 2);
    EXPECT_FALSE(runner->busy());
    EXPECT_EQ(StatResults::of(&owner)->serial(), 0);
    EXPECT_TRUE(owner.commands.isEmpty());
    server.resume();
    SelectionPage next(entryAt(2, 0), &owner);
    choosePeriod(next);
    ASSERT_TRUE(runQuery(next));
    EXPECT_EQ(next.statusLabel()->text(), "Lépjen a Grafikonra");
}

} // namespace
