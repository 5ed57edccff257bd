// CChartfx: series, axes, titles and printing of the statistics chart.
#include "widgets/chartfx.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QFontMetrics>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QPainter>
#include <QPrinter>
#include <QSet>
#include <QValueAxis>

namespace {
constexpr int kUprightLabelsAbove = 12; // more points than this: labels turned upright anyway
const QColor kBarColor(70, 110, 200);
constexpr qsizetype kStepsMax = 2000; // steps of the outline drawn for many points

// Axis categories are told apart by their text: a repeated label gets invisible padding. A null
// text is made empty, as Qt Charts skips null categories and would shift the labels after it.
QString distinctLabel(QString label, QSet<QString>& seen) {
    if (label.isNull()) label = QStringLiteral("");
    while (seen.contains(label))
        label += QChar(0x200B);
    seen.insert(label);
    return label;
}
} // namespace

// The view is made on its chart: a view made without one makes a chart of its own, which a later
// setChart() lets go of without deleting.
CChartfx::CChartfx(QWidget* parent) : QChartView(new QChart, parent) {
    QChart* chart = this->chart();
    chart->legend()->hide();
    m_set = new QBarSet(QString());
    m_set->setColor(kBarColor);
    m_series = new QBarSeries;
    m_series->append(m_set);
    chart->addSeries(m_series);
    m_labelAxis = new QBarCategoryAxis;
    m_labelAxis->setTruncateLabels(false); // upright labels have the room below the axis
    m_valueAxis = new QValueAxis;
    m_valueAxis->setRange(0, 1);
    m_valueAxis->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(m_labelAxis, Qt::AlignBottom);
    chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_series->attachAxis(m_labelAxis);
    m_series->attachAxis(m_valueAxis);
    // Many points: one outline of steps, one bar wide each, drawn as a single item, and an axis
    // that shows a bounded number of labels. Hidden until a series needs it.
    m_stepLine = new QLineSeries(chart); // the area series does not own its outline
    m_stepSeries = new QAreaSeries(m_stepLine);
    m_stepSeries->setColor(kBarColor);
    m_stepSeries->setPen(Qt::NoPen); // stroking the outline of thousands of steps is slow
    m_stepSeries->setVisible(false);
    chart->addSeries(m_stepSeries);
    m_stepAxis = new QCategoryAxis;
    m_stepAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_stepAxis->setLabelsAngle(-90);
    m_stepAxis->setGridLineVisible(false);
    m_stepAxis->setTruncateLabels(false);
    m_stepAxis->setVisible(false);
    chart->addAxis(m_stepAxis, Qt::AlignBottom);
    m_stepSeries->attachAxis(m_stepAxis);
    m_stepSeries->attachAxis(m_valueAxis);
    setRenderHint(QPainter::Antialiasing);
    m_totalItem = new QGraphicsSimpleTextItem(chart);
    QMargins margins = chart->margins();
    margins.setBottom(margins.bottom() + 18);
    chart->setMargins(margins);
}

bool CChartfx::SetRange(double lowest, double highest) {
    if (!std::isfinite(lowest) || !std::isfinite(highest) || !(lowest < highest)) return false;
    m_valueAxis->setRange(lowest, highest);
    return true;
}

double CChartfx::GetLowest() const {
    return m_valueAxis->min();
}
double CChartfx::GetHighest() const {
    return m_valueAxis->max();
}

void CChartfx::SetTitles(const QString& axisTitle, const QString& periodLine,
                         const QString& totalLine) {
    SetAxisTitle(axisTitle);
    SetPeriodLine(periodLine);
    SetTotalLine(totalLine);
}

void CChartfx::SetAxisTitle(const QString& text) {
    m_valueAxis->setTitleText(text);
}
void CChartfx::SetPeriodLine(const QString& text) {
    chart()->setTitle(text);
}

void CChartfx::SetTotalLine(const QString& text) {
    m_totalLine = text;
    m_totalItem->setText(text);
    placeTotalLine();
}

QString CChartfx::GetAxisTitle() const {
    return m_valueAxis->titleText();
}
QString CChartfx::GetPeriodLine() const {
    return chart()->title();
}
QString CChartfx::GetTotalLine() const {
    return m_totalLine;
}

void CChartfx::SetPoints(QList<double> values, QStringList labels) {
    m_values = std::move(values);
    m_labels = std::move(labels);
    m_labels.resize(m_values.size()); // missing labels blank, extra ones dropped
    if (m_values.size() <= kBarsUpTo)
        setBars();
    else
        setSteps();
}

void CChartfx::setBars() {
    m_stepSeries->setVisible(false);
    m_stepAxis->setVisible(false);
    m_stepLine->clear();
    m_set->remove(0, m_set->count());
    // Every Nth label, at most kStepLabelsMax, as on the step axis: more upright labels than that
    // would lie on top of each other. The others are blank categories.
    const qsizetype n = m_labels.size();
    const qsizetype every = std::max<qsizetype>(1, (n + kStepLabelsMax - 1) / kStepLabelsMax);
    QStringList categories;
    QSet<QString> seen;
    categories.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        categories << distinctLabel(i % every == 0 ? m_labels[i] : QString(), seen);
    m_set->append(m_values);
    m_labelAxis->clear();
    m_labelAxis->append(categories);
    // Upright when there are many, or when the widest label is wider than a bar's room (a
    // month's "2024 03.01 00:00" under each of twelve bars): side by side they would overlap.
    const QFontMetrics metrics(m_labelAxis->labelsFont());
    int widest = 0;
    for (const QString& label : std::as_const(categories))
        widest = std::max(widest, metrics.horizontalAdvance(label));
    double plot = chart()->plotArea().width();
    if (plot <= 0) plot = std::max(100, width() - 120); // not laid out yet
    const bool upright = n > kUprightLabelsAbove || (n > 0 && widest + 6 > plot / double(n));
    m_labelAxis->setLabelsAngle(upright ? -90 : 0);
    m_labelAxis->setVisible(true);
    m_series->setVisible(true);
}

void CChartfx::setSteps() {
    m_series->setVisible(false);
    m_labelAxis->setVisible(false);
    m_set->remove(0, m_set->count());
    m_labelAxis->clear();
    const qsizetype n = m_values.size();
    // Point i covers i - 0.5 .. i + 0.5 on the axis, as a bar's category does. Points are drawn
    // in runs of `run` side by side, each run as high as its highest point: at most kStepsMax
    // steps, still several per pixel on any screen, so the filled outline looks the same while
    // Qt Charts lays out and fills a path of bounded size.
    const qsizetype run = (n + kStepsMax - 1) / kStepsMax;
    QList<QPointF> outline;
    outline.reserve(2 * kStepsMax + 2);
    for (qsizetype i = 0; i < n; i += run) {
        const qsizetype end = std::min(n, i + run);
        const double top = *std::max_element(m_values.begin() + i, m_values.begin() + end);
        outline << QPointF(i - 0.5, top) << QPointF(end - 0.5, top);
    }
    m_stepLine->replace(outline);
    for (const QString& label : m_stepAxis->categoriesLabels())
        m_stepAxis->remove(label);
    m_stepAxis->setStartValue(-0.5);
    m_stepAxis->setRange(-0.5, n - 0.5);
    const qsizetype every = (n + kStepLabelsMax - 1) / kStepLabelsMax;
    QSet<QString> seen;
    for (qsizetype i = 0; i < n; i += every)
        m_stepAxis->append(distinctLabel(m_labels[i], seen), i);
    m_stepAxis->setVisible(true);
    m_stepSeries->setVisible(true);
}

QList<double> CChartfx::GetValues() const {
    return m_values;
}

QStringList CChartfx::GetLabels() const {
    return m_labels;
}

void CChartfx::Refresh() {
    placeTotalLine();
    chart()->update();
    viewport()->update();
}

void CChartfx::placeTotalLine() {
    const QRectF area = chart()->geometry();
    const QRectF text = m_totalItem->boundingRect();
    m_totalItem->setPos(area.left() + (area.width() - text.width()) / 2,
                        area.bottom() - text.height() - 4);
}

void CChartfx::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    placeTotalLine();
}

bool CChartfx::PrintTo(QPrinter* printer) {
    if (!printer) return false;
    QPainter p;
    if (!p.begin(printer)) return false;
    const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
    render(&p, QRectF(QPointF(0, 0), page.size()), viewport()->rect(), Qt::KeepAspectRatio);
    return p.end();
}
