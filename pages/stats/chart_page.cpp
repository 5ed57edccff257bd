// The chart page: the bytes per time bucket of a traffic query, with the buckets' labels, the
// period line and the total.
#include <algorithm>
#include <cmath>

#include <QLabel>

#include "app/commands.h"
#include "pages/stats/stats_pages.h"
#include "stats/stat_query.h"
#include "widgets/chartfx.h"
#include "widgets/cp1250.h"
#include "widgets/panels.h"
#include "widgets/waitcursor.h"

ChartPage::ChartPage(const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_results(StatResults::of(parent ? parent : this)) {
    m_group = addGroup(QStringLiteral("Adatforgalom:"), QRect(5, 10, 600, 355));
    m_chart = new CChartfx(this);
    m_chart->setObjectName(QStringLiteral("chart"));
    m_chart->setGeometry(10, 40, 588, 318);
    m_chart->SetAxisTitle(QStringLiteral("Byte"));
    m_chart->Refresh();
    m_cutNote = new QLabel(this);
    m_cutNote->setObjectName(QStringLiteral("cutNote"));
    m_cutNote->setGeometry(12, 24, 586, 16);
    m_cutNote->setStyleSheet(QStringLiteral("color: #a00000"));
    m_cutNote->hide();
    // A group's traffic names the group, on the caption's line.
    m_scopeNote = new QLabel(this);
    m_scopeNote->setObjectName(QStringLiteral("scopeNote"));
    m_scopeNote->setGeometry(300, 8, 296, 16);
    m_scopeNote->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_scopeNote->hide();
    addFrameButtons(); // its print button is never shown (the page table's row says so)
}

void ChartPage::command(int id, quintptr param) {
    FramePage::command(id, param);
    if (id != CMD_PAGE_SHOWN || m_results->serial() == m_shown) return;
    // Each traffic result is drawn once; other kinds leave the drawing as it is.
    m_shown = m_results->serial();
    if (m_results->last().query.kind == STAT_KIND_TRAFFIC) showResult(m_results->last());
}

bool ChartPage::showResult(const StatResult& result) {
    if (!result.read) return false;
    WaitCursor wait;
    m_truncated = result.truncated;
    m_lowest = result.lowest;
    m_highest = result.highest;
    m_total = result.total;
    QList<double> values(result.values.begin(), result.values.end());
    QStringList labels;
    labels.reserve(static_cast<qsizetype>(result.labels.size()));
    for (const std::string& label : result.labels)
        labels << QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size()));
    // One hand-over of the whole series: the chart is laid out once, not per point.
    m_chart->setUpdatesEnabled(false);
    setValueRange(m_lowest, m_highest);
    m_chart->SetTitles(QStringLiteral("Byte"), QString::fromStdString(result.periodLine),
                       QString::fromStdString(result.totalLine));
    m_chart->SetPoints(std::move(values), std::move(labels));
    m_chart->setUpdatesEnabled(true);
    m_chart->Refresh();
    showCut(result);
    const bool group = result.query.scope == STAT_SCOPE_GROUP && !result.scopeName.empty();
    m_scopeNote->setText(
        group ? QStringLiteral("Csoport: %1").arg(fromCp1250(result.scopeName.c_str()))
              : QString());
    m_scopeNote->setVisible(group);
    return true;
}

void ChartPage::setValueRange(double lowest, double highest) {
    // The axis runs from the lowest to the highest value. One value, or all values equal, has
    // no such range: the axis is centred on that value, so no earlier drawing's range stays.
    if (m_chart->SetRange(lowest, highest)) return;
    if (lowest == highest) {
        const double margin = std::max(1.0, std::fabs(lowest) * 0.05);
        m_chart->SetRange(lowest - margin, highest + margin);
    } else {
        m_chart->SetRange(0, 1); // no values
    }
}

void ChartPage::showCut(const StatResult& result) {
    // The period and total lines name the whole period; only the first buckets are drawn.
    if (!result.truncated || result.labels.empty()) {
        m_cutNote->clear();
        m_cutNote->hide();
        return;
    }
    m_cutNote->setText(QStringLiteral("Csak az első %1 pont látható (%2-ig), az összeg is ezeké.")
                           .arg(result.values.size())
                           .arg(QString::fromLatin1(result.labels.back().c_str())));
    m_cutNote->show();
}
