// CVCF1 spreadsheet (rows, selection, formats, printing to PDF) and the CChartfx chart.
#include <algorithm>
#include <gtest/gtest.h>

#include <QApplication>
#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QValueAxis>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "tests/gui/pdf_text.h"
#include "widgets/chartfx.h"
#include "widgets/vcf1.h"

TEST(CVCF1, EditorSheetSetUp) {
    CVCF1 sheet;
    sheet.SetupEditorSheet(1, 12, {8200}, 280, QFont("Arial", 10),
                           CVCF1::ColorFromColorRef(0xFF0000));
    EXPECT_EQ(sheet.GetMaxRow(), 12);
    EXPECT_EQ(sheet.GetMaxCol(), 1);
    EXPECT_EQ(sheet.GetColWidthTwips(1), 8205);  // 547 pixels
    EXPECT_EQ(sheet.GetRowHeightTwips(12), 285); // 19 pixels
    EXPECT_EQ(sheet.GetSelStartRow(), 1);
    EXPECT_EQ(sheet.GetTextColorRC(7, 1), QColor(0, 0, 255)); // a COLORREF is 0x00BBGGRR
    EXPECT_FALSE(sheet.IsCellEditable(7, 1));                 // locked and protected
    sheet.SetEnableProtection(false);
    EXPECT_TRUE(sheet.IsCellEditable(7, 1));
}

TEST(Sheet, TabLeavesAnEditorSheetForTheNextControl) {
    QWidget page;
    auto* sheet = new CVCF1(&page);
    sheet->SetupEditorSheet(2, 12, {1500, 1500}, 280, QFont("Arial", 10), QColor(0, 0, 255));
    auto* next = new QLineEdit(&page);
    next->move(0, 300);
    page.show();
    sheet->setFocus();
    ASSERT_EQ(page.focusWidget(), sheet);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(sheet, &tab);
    EXPECT_EQ(page.focusWidget(), next);
    EXPECT_EQ(sheet->GetSelStartRow(), 1); // no cell moved
    EXPECT_EQ(sheet->GetSelStartCol(), 1);
}

TEST(CVCF1, RowsInsertDeleteAndSelection) {
    CVCF1 sheet;
    sheet.SetupEditorSheet(2, 12, {}, 280, QFont("Arial", 10), QColor(0, 0, 255));
    sheet.SetTextRC(1, 1, "a");
    sheet.SetTextRC(2, 1, "b");
    sheet.SetTextRC(3, 1, "c");
    sheet.SetTextRC(3, 2, "c2");

    ASSERT_TRUE(sheet.SetSelection(3, 2, 2, 1)); // corners in any order
    EXPECT_EQ(sheet.GetSelStartRow(), 2);
    EXPECT_EQ(sheet.GetSelEndRow(), 3);
    EXPECT_FALSE(sheet.SetSelection(0, 1, 1, 1));
    EXPECT_FALSE(sheet.SetSelection(1, 1, 13, 1));
    EXPECT_EQ(sheet.GetSelStartRow(), 2);

    sheet.SetRepaint(false);
    ASSERT_TRUE(sheet.InsertRange(2, 1, 2, 2, CVCF1::ShiftRows));
    sheet.SetRepaint(true);
    EXPECT_EQ(sheet.GetMaxRow(), 13);
    EXPECT_EQ(sheet.GetTextRC(2, 1), QString());
    EXPECT_EQ(sheet.GetTextRC(3, 1), "b");
    EXPECT_EQ(sheet.GetTextRC(4, 2), "c2");
    sheet.SetTextRC(2, 1, "new");
    EXPECT_EQ(sheet.GetTextColorRC(2, 1), QColor(0, 0, 255)); // the sheet's format

    ASSERT_TRUE(sheet.DeleteRange(2, 1, 3, 2, CVCF1::ShiftRows));
    EXPECT_EQ(sheet.GetMaxRow(), 11);
    EXPECT_EQ(sheet.GetTextRC(1, 1), "a");
    EXPECT_EQ(sheet.GetTextRC(2, 1), "c");
    EXPECT_FALSE(sheet.DeleteRange(11, 1, 12, 1, CVCF1::ShiftRows));
    EXPECT_FALSE(sheet.InsertRange(1, 1, 1, 1, 9));
    EXPECT_EQ(sheet.GetMaxRow(), 11);

    EXPECT_FALSE(sheet.SetMaxRow(-1));
    EXPECT_TRUE(sheet.SetTextRC(20, 1, "far")); // grows the sheet
    EXPECT_EQ(sheet.GetMaxRow(), 20);
    EXPECT_FALSE(sheet.SetTextRC(0, 1, "x"));
    EXPECT_EQ(sheet.GetTextRC(99, 1), QString());

    sheet.ClearSheet();
    EXPECT_EQ(sheet.GetMaxRow(), 20);
    EXPECT_EQ(sheet.GetTextRC(1, 1), QString());
}

TEST(CVCF1, HeaderCodesExpand) {
    const QDateTime when(QDate(2024, 3, 9), QTime(14, 5));
    const CVCF1::HeaderParts h =
        CVCF1::ExpandHeaderCodes("&L&D &T &C Táblázat&R&P / &N", 2, 5, when);
    EXPECT_EQ(h.left, "2024.03.09 14:05 ");
    EXPECT_EQ(h.center, " Táblázat");
    EXPECT_EQ(h.right, "2 / 5");
    const CVCF1::HeaderParts f = CVCF1::ExpandHeaderCodes("A && B&Bx&", 1, 1, when);
    EXPECT_EQ(f.center, "A & Bx&");
}

// The rightmost dark pixel of each band of dark rows (a printed line of text) on page 1.
QList<int> printedLineEnds(const QString& pdf, const QString& dir) {
    QProcess p;
    p.start("pdftoppm", {"-r", "50", "-gray", "-png", "-singlefile", pdf, dir + "/page"});
    if (!p.waitForFinished(30000)) return {};
    QImage image(dir + "/page.png");
    QList<int> ends;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        int right = -1;
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) right = x;
        if (right >= 0 && !inLine) ends << right;
        if (right >= 0) ends.last() = std::max(ends.last(), right);
        inLine = right >= 0;
    }
    return ends;
}

TEST(CVCF1, PrintedTextRunsOnOverEmptyCellsOnly) {
    // A statistics line lies in the first column; on paper, as on the screen, it must show whole
    // while the cells to its right are empty, and stop at its cell where the next is not.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CVCF1 sheet;
    sheet.SetMaxCol(3);
    sheet.SetMaxRow(2);
    for (int col = 1; col <= 3; ++col)
        sheet.SetColWidthTwips(col, 1500);
    const QString line = "balogh.ferenc      37    http://www.mav.hu/menetrend";
    sheet.SetTextRC(1, 1, line);
    sheet.SetTextRC(2, 1, line);
    sheet.SetTextRC(2, 2, " ");
    const QString file = dir.filePath("runs.pdf");
    sheet.SetPrintToFile(file);
    ASSERT_TRUE(sheet.FilePrint(false));

    const QList<int> ends = printedLineEnds(file, dir.path());
    ASSERT_EQ(ends.size(), 2);
    EXPECT_GT(ends[0], ends[1] * 2); // the whole line, then the part in its own cell
}

TEST(CVCF1, LongAreaBreaksIntoPagesOfWholeRows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CVCF1 sheet;
    sheet.SetMaxCol(1);
    sheet.SetMaxRow(120);
    sheet.SetColWidthTwips(1, 6000);
    sheet.SetRowHeightTwips(-1, 600); // 40 pixels a row: about 20 rows a page
    for (long row = 1; row <= 120; ++row)
        sheet.SetTextRC(row, 1, QStringLiteral("sor%1vege").arg(row));
    sheet.SetPrintHeader("&ROldal &P / &N");
    const QString file = dir.filePath("long.pdf");
    sheet.SetPrintToFile(file);
    ASSERT_TRUE(sheet.FilePrint(false));

    const QString text = pdfText(file);
    // pdftotext separates pages with a form feed.
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 3) << text.toStdString();
    const int count = static_cast<int>(pages.size());
    for (int i = 0; i < count; ++i) {
        const QString number = QStringLiteral("Oldal %1 ?/ ?%2").arg(i + 1).arg(count);
        EXPECT_TRUE(pages[i].contains(QRegularExpression(number))) << i;
    }
    // Every row printed once, in order, none cut between two pages.
    int last = 0;
    for (const QString& page : pages) {
        QRegularExpressionMatchIterator it = QRegularExpression("sor(\\d+)vege").globalMatch(page);
        while (it.hasNext()) {
            int row = it.next().captured(1).toInt();
            EXPECT_EQ(row, last + 1);
            last = row;
        }
    }
    EXPECT_EQ(last, 120);
}

#if defined(__SANITIZE_ADDRESS__)
namespace {
// Charts made and dropped in a frame of their own, so that no pointer to them is left on the
// stack of the leak check. The events they posted to themselves are handled, so that the event
// queue names none of them either.
[[gnu::noinline]] void makeAndDropCharts(int count) {
    for (int i = 0; i < count; ++i) {
        CChartfx chart;
        chart.SetPoints({1, 2}, {"a", "b"});
        QApplication::processEvents();
    }
    QApplication::processEvents();
}
} // namespace
#endif

// A chart view made without a chart makes one of its own, and setChart() lets that one go without
// deleting it: nothing of a deleted chart may stay behind.
TEST(CChartfx, LeavesNothingBehindOnceDeleted) {
#if defined(__SANITIZE_ADDRESS__)
    makeAndDropCharts(8);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
    GTEST_SKIP() << "the leak checker of the sanitizer build looks for what a chart leaves";
#endif
}

TEST(CChartfx, RangeAndLabelsTurnedForMoreThanTwelvePoints) {
    CChartfx chart;
    chart.resize(600, 400);
    ASSERT_TRUE(chart.SetRange(0, 1000));
    EXPECT_FALSE(chart.SetRange(5, 5));
    EXPECT_FALSE(chart.SetRange(10, 1));
    EXPECT_DOUBLE_EQ(chart.valueAxis()->max(), 1000);

    chart.SetPoints({100, 760, 1000}, {"H", "K", "K"});
    chart.Refresh();
    ASSERT_EQ(chart.series()->count(), 1);
    QBarSet* set = chart.series()->barSets().first();
    ASSERT_EQ(set->count(), 3);
    EXPECT_DOUBLE_EQ(set->at(1), 760);
    EXPECT_EQ(chart.labelAxis()->categories().size(), 3); // repeated labels stay apart
    EXPECT_EQ(chart.labelAxis()->labelsAngle(), 0);
    // Twelve months: few bars, but labels too wide to stand side by side.
    QList<double> months(12, 5.0);
    QStringList monthLabels;
    for (int m = 1; m <= 12; ++m)
        monthLabels << QStringLiteral("2026 %1.01 00:00").arg(m, 2, 10, QLatin1Char('0'));
    chart.SetPoints(months, monthLabels);
    EXPECT_EQ(chart.labelAxis()->labelsAngle(), -90);

    QList<double> many;
    QStringList labels;
    for (int i = 1; i <= 13; ++i)
        many << i, labels << QString::number(i);
    chart.SetPoints(many, labels);
    EXPECT_EQ(set->count(), 13);
    EXPECT_EQ(chart.labelAxis()->labelsAngle(), -90);
    EXPECT_EQ(chart.labelAxis()->categories().first(), "1");
    EXPECT_EQ(chart.labelAxis()->categories().last(), "13");

    // A week by the hour: a bar each, a label on every 6th (upright labels closer than that lie
    // on top of each other).
    many.clear(), labels.clear();
    for (int i = 0; i < 168; ++i)
        many << i, labels << QStringLiteral("h%1").arg(i);
    chart.SetPoints(many, labels);
    EXPECT_EQ(set->count(), 168);
    const QStringList categories = chart.labelAxis()->categories();
    ASSERT_EQ(categories.size(), 168);
    QStringList shown;
    for (const QString& c : categories)
        if (!c.trimmed().remove(QChar(0x200B)).isEmpty()) shown << c;
    EXPECT_EQ(shown.size(), 28);
    EXPECT_EQ(shown.first(), "h0");
    EXPECT_EQ(shown[1], "h6");
    EXPECT_EQ(chart.GetLabels(), labels);
}

// Many points are drawn as one step outline with every Nth label; few again as bars.
TEST(CChartfx, ManyPointsShowBoundedLabelsAndTheWholeRange) {
    CChartfx chart;
    chart.resize(588, 318);
    chart.show();
    QList<double> values;
    QStringList labels;
    for (int i = 0; i < 10000; ++i) {
        values << (i * 7919) % 100000;
        labels << QStringLiteral("p%1").arg(i);
    }
    values[9999] = 250000; // the highest point is the last, alone in its run
    ASSERT_TRUE(chart.SetRange(0, 250000));
    chart.SetPoints(values, labels);
    chart.Refresh();
    QApplication::processEvents();

    EXPECT_EQ(chart.GetValues(), values);
    EXPECT_EQ(chart.GetLabels(), labels);
    EXPECT_DOUBLE_EQ(chart.GetLowest(), 0);
    EXPECT_DOUBLE_EQ(chart.GetHighest(), 250000);
    EXPECT_FALSE(chart.series()->isVisible());
    EXPECT_FALSE(chart.labelAxis()->isVisible());
    EXPECT_TRUE(chart.labelAxis()->categories().isEmpty());
    EXPECT_TRUE(chart.stepSeries()->isVisible());
    EXPECT_TRUE(chart.stepAxis()->isVisible());
    EXPECT_DOUBLE_EQ(chart.stepAxis()->min(), -0.5);
    EXPECT_DOUBLE_EQ(chart.stepAxis()->max(), 9999.5);
    EXPECT_EQ(chart.stepAxis()->labelsAngle(), -90);
    // 10,000 points, a label every 334th: 30 labels, the first at point 0.
    const QStringList shown = chart.stepAxis()->categoriesLabels();
    ASSERT_EQ(shown.size(), CChartfx::kStepLabelsMax);
    EXPECT_EQ(shown.first(), "p0");
    EXPECT_EQ(shown[1], "p334");
    EXPECT_EQ(shown.last(), "p9686");
    EXPECT_DOUBLE_EQ(chart.stepAxis()->endValue(shown.last()), 9686);
    // The outline spans every point and reaches the highest value, never beyond.
    const QList<QPointF> outline = chart.stepSeries()->upperSeries()->points();
    ASSERT_FALSE(outline.isEmpty());
    EXPECT_DOUBLE_EQ(outline.first().x(), -0.5);
    EXPECT_DOUBLE_EQ(outline.last().x(), 9999.5);
    EXPECT_DOUBLE_EQ(outline.last().y(), 250000);
    double top = 0;
    for (const QPointF& p : outline)
        top = std::max(top, p.y());
    EXPECT_DOUBLE_EQ(top, 250000);

    // Repeated labels stay distinct axis categories; the labels read back are the ones given.
    QStringList same(1000, "2024 04.01 00:00");
    chart.SetPoints(QList<double>(1000, 1.0), same);
    EXPECT_EQ(chart.stepAxis()->categoriesLabels().size(), 30);
    EXPECT_DOUBLE_EQ(chart.stepAxis()->max(), 999.5);
    EXPECT_EQ(chart.GetLabels(), same);

    chart.SetPoints({4, 8}, {"a"});
    EXPECT_TRUE(chart.series()->isVisible());
    EXPECT_FALSE(chart.stepSeries()->isVisible());
    EXPECT_FALSE(chart.stepAxis()->isVisible());
    EXPECT_TRUE(chart.stepSeries()->upperSeries()->points().isEmpty());
    EXPECT_EQ(chart.series()->barSets().first()->count(), 2);
    EXPECT_EQ(chart.GetLabels(), QStringList({"a", QString()}));
    EXPECT_EQ(chart.labelAxis()->categories().size(), 2);
    EXPECT_EQ(chart.labelAxis()->labelsAngle(), 0);
}
