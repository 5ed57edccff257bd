// The chart page: the bytes per time bucket of a traffic query, with the buckets' labels, the
// period line and the total.
#include <vector>

#include "app/commands.h"
#include "pages/stats/stats_pages.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "widgets/chartfx.h"
#include "widgets/panels.h"
#include "widgets/waitcursor.h"

namespace {

// The value and label stores: 10,000 points at most.
double g_values[STAT_POINTS_MAX];
char g_labels[STAT_POINTS_MAX][STAT_LABEL_SIZE];

} // namespace

ChartPage::ChartPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    m_group = addGroup(QStringLiteral("Adatforgalom:"), QRect(5, 10, 600, 355));
    m_chart = new CChartfx(this);
    m_chart->setObjectName(QStringLiteral("chart"));
    m_chart->setGeometry(10, 40, 588, 318);
    m_chart->SetAxisTitle(QStringLiteral("Byte"));
    m_chart->Refresh();
    addFrameButtons(); // its print button is never shown (the page table's row says so)
}

void ChartPage::command(int id, quintptr param) {
    FramePage::command(id, param);
    if (id == CMD_PAGE_SHOWN && currentStatQuery().kind == STAT_KIND_TRAFFIC) refresh();
}

bool ChartPage::refresh() {
    WaitCursor wait;
    const int n = ReadStatValues(STAT_OUTPUT_FILE, g_values, STAT_POINTS_MAX, &m_truncated);
    if (n < 0) return false;
    const StatQuery& q = currentStatQuery();
    StatChartLabels(q, n, g_labels);
    char period[256];
    StatPeriodLine(q, period, sizeof period);
    StatValueRange(g_values, n, &m_lowest, &m_highest);
    QList<double> values;
    QStringList labels;
    values.reserve(n);
    labels.reserve(n);
    m_total = 0;
    for (int i = 0; i < n; ++i) {
        values << g_values[i];
        labels << QString::fromLatin1(g_labels[i]);
        m_total += g_values[i];
    }
    char total[512];
    StatTotalLine(m_total, total, sizeof total);
    // One hand-over of the whole series: the chart is laid out once, not per point.
    m_chart->setUpdatesEnabled(false);
    m_chart->SetRange(m_lowest, m_highest);
    m_chart->SetTitles(QStringLiteral("Byte"), QString::fromUtf8(period), QString::fromUtf8(total));
    m_chart->SetPoints(values, labels);
    m_chart->setUpdatesEnabled(true);
    m_chart->Refresh();
    return true;
}
