// The statistics pages against the reference server and its statistics tool.

#include <QCalendarWidget>
#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>

#include "app/commands.h"
#include "app/status_label.h"
#include "pages/stats/stats_pages.h"
#include "stats/stat_query.h"
#include "tests/gui/app_fixture.h"
#include "tests/stats/access_log_lines.h"
#include "tests/support/demo_root.h"
#include "widgets/chartfx.h"
#include "widgets/gridctrl.h"

namespace {

class StatsE2ETest : public AppTest {
  protected:
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
        serverData.users.Clear();
        AppTest::TearDown();
    }
    // The selection page set to 3 and 4 June 2024, the whole days.
    void choosePeriod(SelectionPage& page) {
        page.startCalendar()->setSelectedDate(QDate(2024, 6, 3));
        page.endCalendar()->setSelectedDate(QDate(2024, 6, 4));
    }
    CommandRecorder owner;
    TestServer server{withStatsTool()};
};

TEST_F(StatsE2ETest, TrafficQueryGoesToTheChart) {
    SelectionPage selection(entryAt(2, 0), &owner);
    ChartPage chart(entryAt(2, 2), &owner);
    choosePeriod(selection);
    selection.resolutionButton(STAT_RES_DAY)->click();
    selection.start();
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
    selection.start();
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
    selection.start();
    EXPECT_EQ(get("statin.txt"), "2024-06-03 00:00:00\r\n2024-06-04 23:59:00\r\n1\r\nalice\r\n");
    table.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(table.lineCount(), 2);
    EXPECT_EQ(table.grid()->QuickGetText(0, 1), "           alice         1    www.hvg.hu");
}

TEST_F(StatsE2ETest, ToolFailureIsReportedAndTheServerFilesStay) {
    SelectionPage selection(entryAt(2, 0), &owner);
    ChartPage chart(entryAt(2, 2), &owner);
    choosePeriod(selection);
    selection.start();
    chart.command(CMD_PAGE_SHOWN);
    // The tool fails: the access log is gone.
    std::filesystem::remove(server.local("/var/log/squid/access.log"));
    owner.commands.clear();
    selection.kindButton(STAT_KIND_URL)->click();
    selection.start();
    EXPECT_EQ(selection.statusLabel()->text(), "Hiba a proxy szerveren");
    EXPECT_TRUE(owner.commands.isEmpty());
    EXPECT_TRUE(server.exists("/tmp/infile"));
    // The pages keep the last result that arrived.
    EXPECT_EQ(StatResults::of(&owner)->last().query.kind, STAT_KIND_TRAFFIC);
    chart.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(chart.chart()->GetTotalLine(), "Adatforgalom:        700");
}

} // namespace
