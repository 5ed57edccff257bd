// The statistics pages (selection, table, chart) on real widgets without a server.
#include <QAreaSeries>
#include <QCalendarWidget>
#include <QCategoryAxis>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QToolButton>

#include "app/commands.h"
#include "app/status_label.h"
#include "pages/stats/stats_pages.h"
#include "serverdata/sd_host.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/pdf_text.h"
#include "widgets/buttons.h"
#include "widgets/chartfx.h"
#include "widgets/gridctrl.h"
#include "widgets/vcf1.h"

namespace {

// Starts the query and waits for its outcome, which the remote worker hands back.
bool runQuery(SelectionPage& page) {
    QSignalSpy done(&page, &SelectionPage::queryFinished);
    page.start();
    return done.wait(60000);
}

class StatsPagesTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        serverData.users.Clear();
        addUser("alice", 0);
        addUser("boss", 1);
        addUser("kov\xe1\x63s", 0);
    }
    void TearDown() override {
        serverData.users.Clear();
        AppTest::TearDown();
    }
    static void addUser(const char* name, int super) {
        UserRecord u = user(name);
        u.super = super;
        ASSERT_GE(serverData.users.Add(u), 0);
    }
    static QStringList gridLines(const TablePage& page) {
        QStringList out;
        for (int i = 0; i < page.lineCount(); ++i)
            out << page.grid()->QuickGetText(0, i);
        return out;
    }
    // Hands the statistics pages of owner the result file text as the answer to query, as a run
    // of the selection page does (boss is the super user).
    void deliver(const std::string& text, const StatQuery& query) {
        put("statout.txt", text);
        StatResult result;
        ReadStatResult("statout.txt", query, bossIsSuper, nullptr, &result);
        StatResults::of(&owner)->store(std::move(result));
    }
    static StatQuery ofKind(int kind) {
        StatQuery q{};
        q.kind = kind;
        return q;
    }
    static bool bossIsSuper(const char* name, void*) { return std::string(name) == "boss"; }
    CommandRecorder owner;
};

TEST_F(StatsPagesTest, SelectionDefaultsKindGreysTheResolutionsAndScopeSwitchesTheList) {
    ASSERT_EQ(serverData.groups.Add("staff", "d", ""), 0);
    ASSERT_EQ(serverData.groups.Add("guests", "d", ""), 1);
    SelectionPage page(entryAt(2, 0), &owner);
    EXPECT_TRUE(page.resolutionButton(STAT_RES_10MIN)->isChecked());
    EXPECT_TRUE(page.resolutionButton(0)->isHidden()); // "Percenként" is never shown
    EXPECT_TRUE(page.kindButton(STAT_KIND_TRAFFIC)->isChecked());
    EXPECT_TRUE(page.scopeButton(STAT_SCOPE_ALL)->isChecked());
    EXPECT_EQ(page.listMode(), SelectionPage::AllUsers);
    EXPECT_FALSE(page.nameList()->isEnabled());
    EXPECT_EQ(page.nameList()->count(), 3);
    EXPECT_EQ(page.nameList()->itemText(2), "kovács");
    EXPECT_EQ(QList<int>({page.startHour()->value(), page.startMinute()->value(),
                          page.endHour()->value(), page.endMinute()->value()}),
              QList<int>({0, 0, 23, 59}));
    EXPECT_EQ(page.startHour()->maximum(), 23);
    EXPECT_EQ(page.endMinute()->maximum(), 59);
    EXPECT_TRUE(page.startHour()->findChild<QLineEdit*>()->isReadOnly());
    page.startHour()->stepUp(); // the up-down buttons still step
    EXPECT_EQ(page.startHour()->value(), 1);
    EXPECT_EQ(page.startCalendar()->selectedDate(), QDate::currentDate());

    page.resolutionButton(STAT_RES_DAY)->click();
    page.kindButton(STAT_KIND_URL)->click();
    for (int code = 1; code < 5; ++code)
        EXPECT_FALSE(page.resolutionButton(code)->isEnabled()) << code;
    EXPECT_TRUE(page.resolutionButton(STAT_RES_DAY)->isChecked());
    page.kindButton(STAT_KIND_TRAFFIC)->click();
    EXPECT_TRUE(page.resolutionButton(STAT_RES_HOUR)->isEnabled());

    page.scopeButton(-1)->click();
    EXPECT_EQ(page.listMode(), SelectionPage::Groups);
    EXPECT_EQ(page.nameLabel()->text(), "Csoport név:");
    EXPECT_EQ(page.nameList()->itemText(1), "guests");
    EXPECT_TRUE(page.nameList()->isEnabled());
    page.scopeButton(STAT_SCOPE_USER)->click();
    EXPECT_EQ(page.listMode(), SelectionPage::Users);
    EXPECT_EQ(page.nameLabel()->text(), "Felhasználó név:");
    EXPECT_EQ(page.nameList()->count(), 3);
    EXPECT_EQ(page.nameList()->currentIndex(), -1); // nothing chosen yet

    // Showing the page refills the list and keeps the position, which may be another user now.
    page.nameList()->setCurrentIndex(1);
    ASSERT_EQ(serverData.users.Set(1, user("carol")), 1);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.nameList()->currentIndex(), 1);
    EXPECT_EQ(page.nameList()->currentText(), "carol");
    page.scopeButton(STAT_SCOPE_ALL)->click();
    EXPECT_FALSE(page.nameList()->isEnabled());
    EXPECT_EQ(page.nameList()->currentIndex(), -1);
    EXPECT_EQ(page.nameLabel()->text(), " ... ");
}

TEST_F(StatsPagesTest, SelectionCalendarsSpeakHungarianAndNoTextIsCoveredOrCut) {
    SelectionPage page(entryAt(2, 0), &owner);
    owner.resize(800, 480);
    page.resize(800, 480);
    page.show();
    owner.show();
    const QLocale hungarian(QLocale::Hungarian, QLocale::Hungary);
    for (QCalendarWidget* c : {page.startCalendar(), page.endCalendar()}) {
        c->setSelectedDate(QDate(2024, 5, 15));
        QCoreApplication::processEvents();
        auto* month = c->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
        ASSERT_NE(month, nullptr);
        EXPECT_EQ(month->text(), hungarian.standaloneMonthName(5)); // "május"
        auto* days = c->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
        ASSERT_NE(days, nullptr);
        // The day heads: Hungarian, the week from Monday, each whole in its column.
        const QFontMetrics metrics(days->font());
        for (int col = 0; col < 7; ++col) {
            const QString head = days->model()->index(0, col).data().toString();
            EXPECT_EQ(head, hungarian.dayName(col + 1, QLocale::ShortFormat)) << col;
            EXPECT_LE(metrics.horizontalAdvance(head), days->columnWidth(col) - 2) << col;
        }
    }
    // The list's label clears the scope buttons and the list, and holds its longest text.
    page.scopeButton(STAT_SCOPE_USER)->click();
    const QRect label = page.nameLabel()->geometry();
    EXPECT_GE(label.width(), page.nameLabel()->sizeHint().width());
    EXPECT_FALSE(label.intersects(page.nameList()->geometry()));
    for (int code : {STAT_SCOPE_USER, STAT_SCOPE_ALL, -1}) {
        const QRadioButton* scope = page.scopeButton(code);
        EXPECT_FALSE(label.intersects(scope->geometry())) << code;
        EXPECT_GE(scope->width(), scope->sizeHint().width()) << code;
    }
}

TEST_F(StatsPagesTest, StartRefusesWithoutServerUserOrForASuperUser) {
    SelectionPage page(entryAt(2, 0), &owner);
    ASSERT_TRUE(runQuery(page));
    EXPECT_EQ(page.statusLabel()->text(), "ProxyServerName !");
    SdSetHost("127.0.0.1");
    page.scopeButton(STAT_SCOPE_USER)->click();
    ASSERT_TRUE(runQuery(page));
    EXPECT_EQ(page.statusLabel()->text(), "Nincs kiválasztott felhasználó !");
    page.nameList()->setCurrentIndex(1); // boss, a super user
    ASSERT_TRUE(runQuery(page));
    EXPECT_EQ(page.statusLabel()->text(), "Szuper user !!!");
    EXPECT_FALSE(exists("statin.txt"));
    EXPECT_EQ(StatResults::of(&owner)->serial(), 0); // no result handed over
    EXPECT_TRUE(owner.commands.isEmpty());
    EXPECT_TRUE(MessageBox::shown().isEmpty()); // outcomes go to the message line only
}

TEST_F(StatsPagesTest, StartCalendarNamesThePartUnderThePointer) {
    SelectionPage page(entryAt(2, 0), &owner);
    QCalendarWidget* c = page.startCalendar();
    c->setSelectedDate(QDate(2024, 5, 15)); // May 2024 begins on a Wednesday
    c->setFirstDayOfWeek(Qt::Monday);
    owner.resize(800, 480);
    page.resize(800, 480);
    page.show();
    owner.show();
    QCoreApplication::processEvents();
    auto centreOf = [&](const char* name) {
        QWidget* w = c->findChild<QWidget*>(QLatin1String(name));
        return w ? w->mapTo(c, w->rect().center()) : QPoint(-1, -1);
    };
    EXPECT_EQ(CalendarPartAt(c, centreOf("qt_calendar_nextmonth")), "Button next");
    EXPECT_EQ(CalendarPartAt(c, centreOf("qt_calendar_prevmonth")), "Button previous");
    EXPECT_EQ(CalendarPartAt(c, centreOf("qt_calendar_monthbutton")), "Month name");
    EXPECT_EQ(CalendarPartAt(c, centreOf("qt_calendar_yearbutton")), "Year");
    EXPECT_EQ(CalendarPartAt(c, QPoint(-5, -5)), "Nowhere");
    auto* view = c->findChild<QTableView*>("qt_calendar_calendarview");
    ASSERT_NE(view, nullptr);
    auto cellAt = [&](int row, int col) {
        return view->viewport()->mapTo(c,
                                       view->visualRect(view->model()->index(row, col)).center());
    };
    EXPECT_EQ(CalendarPartAt(c, cellAt(0, 3)), "Week day");
    EXPECT_EQ(CalendarPartAt(c, cellAt(1, 0)), "Date from previous month");
    EXPECT_EQ(CalendarPartAt(c, cellAt(1, 2)), "Date from current month");
    EXPECT_EQ(CalendarPartAt(c, cellAt(6, 6)), "Date from next month");
}

TEST_F(StatsPagesTest, TableShowsEntriesAndFreeTextDropsSuperUsersAndPrints) {
    TablePage page(entryAt(2, 1), &owner);
    EXPECT_TRUE(page.printCopy()->isHidden());
    deliver("alice 12 www.pelda.hu\n"
            "boss 3 secret.hu\n"
            "Total: 15\n"
            " indented text\n"
            "\n"
            "   \n"
            "'kov\xe1\x63s' x7 'a b.hu'\n",
            ofKind(STAT_KIND_SITE));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(gridLines(page), QStringList({"           alice        12    www.pelda.hu", "Total:",
                                            QString(), "          kovács         0    a b.hu"}));
    EXPECT_EQ(page.lineCount(), 4);
    EXPECT_EQ(page.grid()->GetNumberRows(), 15);
    EXPECT_EQ(page.printCopy()->GetTextRC(1, 1), "           alice        12    www.pelda.hu");
    EXPECT_EQ(page.printCopy()->GetTextRC(4, 1), "          kovács         0    a b.hu");
    EXPECT_EQ(page.printCopy()->GetTextRC(5, 1), QString());
    EXPECT_TRUE(QFontInfo(page.printCopy()->GetFontRC(1, 1)).fixedPitch());
    EXPECT_EQ(page.printCopy()->GetFontRC(1, 1).pointSize(), 9);

    // Printed, the lines go out under the title "Táblázat".
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString pdf = QString::fromStdString((dir / "table.pdf").string());
    printer.setOutputFileName(pdf);
    ASSERT_EQ(page.print(&printer), 0);
    const QString text = pdfText(pdf);
    for (const char* part : {"Táblázat", "www.pelda.hu", "kovács", "a b.hu"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << "\n" << text.toStdString();

    // After a traffic query the page keeps what it shows.
    deliver("carol 1 x.hu\n", ofKind(STAT_KIND_TRAFFIC));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.lineCount(), 4);
    EXPECT_EQ(page.grid()->QuickGetText(0, 0), "           alice        12    www.pelda.hu");
}

TEST_F(StatsPagesTest, TableGrowsWithLongResultsAndEndsAtTheBottom) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "alice " + std::to_string(i) + " site" + std::to_string(i) + ".hu\n";
    TablePage page(entryAt(2, 1), &owner);
    page.resize(800, 480);
    page.show();
    deliver(text, ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.lineCount(), 40);
    EXPECT_EQ(page.grid()->GetNumberRows(), 40);
    QScrollBar* bar = page.grid()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_GT(bar->maximum(), 0);

    // Shown again, the same result is in view from its end again, not read again.
    bar->setValue(0);
    std::filesystem::remove("statout.txt");
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.lineCount(), 40);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(MessageBox::shown().isEmpty());

    // A shorter result empties the grid back to 15 rows, scrolled to the top.
    deliver("alice 1 a.hu\n", ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.grid()->GetNumberRows(), 15);
    EXPECT_EQ(page.grid()->QuickGetText(0, 1), QString());
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(page.printCopy()->GetTextRC(2, 1), QString());
}

// A line longer than its column runs across the columns beside it with no column rule drawn
// through it; a short line's row keeps its rules.
TEST_F(StatsPagesTest, TableLinesRunAcrossTheColumnsWithoutRulesThroughThem) {
    TablePage page(entryAt(2, 1), &owner);
    page.resize(800, 480);
    page.show();
    deliver("alice 12 'x" + std::string(90, ' ') + "y'\nbob 1 a.hu\n", ofKind(STAT_KIND_SITE));
    page.command(CMD_PAGE_SHOWN);
    GridCtrl* grid = page.grid();
    ASSERT_EQ(page.lineCount(), 2);
    const QString longLine = grid->QuickGetText(0, 0);
    const QFontMetrics metrics(grid->font());
    const QImage picture = grid->grab().toImage();
    const QPoint origin = grid->viewport()->mapTo(grid, QPoint(0, 0));
    QStyleOptionViewItem option;
    const QColor rule = QColor::fromRgba(
        static_cast<QRgb>(grid->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, grid)));
    auto pixelAt = [&](int row, int column) {
        const int x = grid->columnViewportPosition(column) + grid->columnWidth(column) - 1;
        const int y = grid->rowViewportPosition(row) + grid->rowHeight(row) / 2;
        return picture.pixelColor(origin + QPoint(x, y));
    };
    int crossed = 0;
    for (int column = 0; column < 6; ++column) {
        SCOPED_TRACE(column);
        const int right = grid->columnViewportPosition(column) + grid->columnWidth(column);
        if (right >= grid->viewport()->width()) break;
        // Within the blanks of the long line: no rule; in the short line's row: the rule.
        if (right > metrics.horizontalAdvance(longLine.left(40)) &&
            right < metrics.horizontalAdvance(longLine.trimmed().chopped(1))) {
            EXPECT_NE(pixelAt(0, column), rule);
            ++crossed;
        }
        if (right > metrics.horizontalAdvance(grid->QuickGetText(0, 1)) + 4) {
            EXPECT_EQ(pixelAt(1, column), rule);
        }
    }
    EXPECT_GT(crossed, 0);
}

TEST_F(StatsPagesTest, TableHoldsAtMost99999Lines) {
    std::string text;
    text.reserve(100010 * 16);
    for (int i = 0; i < 100005; ++i)
        text += "u " + std::to_string(i) + " s.hu\n";
    TablePage page(entryAt(2, 1), &owner);
    deliver(text, ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.lineCount(), 99999);
    EXPECT_EQ(page.grid()->GetNumberRows(), 99999);
    EXPECT_EQ(page.grid()->QuickGetText(0, 99998), "               u     99998    s.hu");
    EXPECT_EQ(page.printCopy()->GetMaxRow(), 99999);
    // The result itself stopped at the limit, and the page says the list was cut.
    EXPECT_EQ(StatResults::of(&owner)->last().lines.size(), 99999u);
    EXPECT_TRUE(page.cutNote()->isVisibleTo(&page));
    EXPECT_EQ(page.cutNote()->text(), "A lista csonka: csak az első 99999 sor látható.");
    deliver("u 1 s.hu\n", ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_FALSE(page.cutNote()->isVisibleTo(&page));
}

TEST_F(StatsPagesTest, TableShowsTheToolsLineOnWhatItLeftOut) {
    TablePage page(entryAt(2, 1), &owner);
    deliver("u 3 s.hu\nboss 2 t.hu\n"
            "A lista csonka: tov\xe1"
            "bbi 40 sor (1234 k\xe9r\xe9s) kimaradt.\r\n",
            ofKind(STAT_KIND_SITE));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(gridLines(page), QStringList{"               u         3    s.hu"});
    EXPECT_TRUE(page.cutNote()->isVisibleTo(&page));
    EXPECT_EQ(page.cutNote()->text(), "A lista csonka: további 40 sor (1234 kérés) kimaradt.");
    deliver("u 1 s.hu\n", ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_FALSE(page.cutNote()->isVisibleTo(&page));
}

TEST_F(StatsPagesTest, TableWithoutResultFileSaysSoAndStaysEmpty) {
    TablePage page(entryAt(2, 1), &owner);
    page.command(CMD_PAGE_SHOWN); // no result yet: nothing to show, nothing to say
    EXPECT_TRUE(MessageBox::shown().isEmpty());
    StatResult unread;
    unread.query.kind = STAT_KIND_URL;
    StatResults::of(&owner)->store(unread);
    page.command(CMD_PAGE_SHOWN);
    ASSERT_EQ(MessageBox::shown().size(), 1);
    EXPECT_EQ(MessageBox::lastShown().title, "Error!!!");
    EXPECT_EQ(MessageBox::lastShown().text, "Adatfile beolvasasi hiba!");
    EXPECT_EQ(page.lineCount(), 0);
    EXPECT_EQ(page.grid()->GetNumberRows(), 15);
}

TEST_F(StatsPagesTest, ChartDrawsValuesLabelsRangeAndTexts) {
    ChartPage page(entryAt(2, 2), &owner);
    deliver("5\n7\n3\n", StatQuery{0, STAT_RES_HOUR, 5, 2001, 2, 28, 23, 0, 2001, 3, 1, 1, 59});
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.chart()->GetValues(), QList<double>({5, 7, 3}));
    EXPECT_EQ(page.chart()->GetLabels(),
              QStringList({"2001 02.28 23:00", "2001 03.01 00:00", "2001 03.01 01:00"}));
    EXPECT_EQ(page.chart()->GetTotalLine(), "Adatforgalom:         15");
    EXPECT_EQ(page.chart()->GetPeriodLine(),
              "2001.02.28 23:00                 1/óra                 2001.03.01 01:59");
    EXPECT_EQ(page.chart()->GetLowest(), 3.0);
    EXPECT_EQ(page.chart()->GetHighest(), 7.0);

    // A URL query leaves the drawing; a result whose file could not be read too.
    deliver("1\n", ofKind(STAT_KIND_URL));
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.chart()->GetValues().size(), 3);
    StatResults::of(&owner)->store(StatResult{});
    page.command(CMD_PAGE_SHOWN);
    EXPECT_FALSE(page.showResult(StatResult{}));
    EXPECT_EQ(page.chart()->GetValues().size(), 3);
    EXPECT_TRUE(MessageBox::shown().isEmpty());

    // All values equal (or one bucket): the axis is centred on that value, not left at 3..7.
    const StatQuery hourly{0, STAT_RES_HOUR, 5, 2001, 2, 28, 23, 0, 2001, 3, 1, 1, 59};
    deliver("400\n400\n", hourly);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_LT(page.chart()->GetLowest(), 400.0);
    EXPECT_GT(page.chart()->GetHighest(), 400.0);
    EXPECT_GT(page.chart()->GetLowest(), 300.0);
    deliver("0\n", hourly);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_LT(page.chart()->GetLowest(), 0.0);
    EXPECT_GT(page.chart()->GetHighest(), 0.0);
    EXPECT_FALSE(page.cutNote()->isVisibleTo(&page));
}

TEST_F(StatsPagesTest, ChartOfAnEmptyResultAndOfTooManyPoints) {
    ChartPage page(entryAt(2, 2), &owner);
    StatQuery monthly{0, STAT_RES_MONTH, 5, 2001, 11, 15, 0, 0, 2002, 2, 14, 0, 0};
    deliver("", monthly);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_TRUE(page.chart()->GetValues().isEmpty());
    EXPECT_EQ(page.chart()->GetTotalLine(), "Adatforgalom:          0");
    EXPECT_EQ(page.lowest(), 1000000.0);
    EXPECT_EQ(page.highest(), -1.0);

    deliver("1\n2\n3\n", monthly);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.chart()->GetLabels(),
              QStringList({"2001 12.15 00:00", "2002 01.15 00:00", "2002 02.15 00:00"}));

    std::string many;
    for (int i = 0; i < STAT_POINTS_MAX + 50; ++i)
        many += "1\n";
    StatQuery tenMinutes = monthly;
    tenMinutes.resolution = STAT_RES_10MIN;
    deliver(many, tenMinutes);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_TRUE(page.truncated());
    EXPECT_EQ(page.chart()->GetValues().size(), STAT_POINTS_MAX);
    EXPECT_EQ(page.total(), double(STAT_POINTS_MAX));
    EXPECT_EQ(page.chart()->GetLabels().last(), "2002 01.23 10:30");
    // The period and total lines name the whole period: the page says what is drawn.
    EXPECT_TRUE(page.cutNote()->isVisibleTo(&page));
    EXPECT_EQ(page.cutNote()->text(),
              "Csak az első 10000 pont látható (2002 01.23 10:30-ig), az összeg is ezeké.");
    // So many points are one outline with every 334th label on the axis.
    EXPECT_TRUE(page.chart()->stepSeries()->isVisible());
    const QStringList shown = page.chart()->stepAxis()->categoriesLabels();
    ASSERT_EQ(shown.size(), 30);
    EXPECT_EQ(shown[1], "2001 11.17 07:40");
}

} // namespace
