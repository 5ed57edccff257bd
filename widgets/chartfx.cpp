// CChartfx: series, axes, titles and printing of the statistics chart.
#include "chartfx.h"

#include <cmath>

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QPainter>
#include <QPrinter>
#include <QSet>
#include <QValueAxis>

namespace {
constexpr int kUprightLabelsAbove = 12; // more points than this: labels turned upright
}

CChartfx::CChartfx(QWidget* parent) : QChartView(parent) {
    auto* chart = new QChart;
    chart->legend()->hide();
    m_set = new QBarSet(QString());
    m_set->setColor(QColor(70, 110, 200));
    m_series = new QBarSeries;
    m_series->append(m_set);
    chart->addSeries(m_series);
    m_labelAxis = new QBarCategoryAxis;
    m_valueAxis = new QValueAxis;
    m_valueAxis->setRange(0, 1);
    m_valueAxis->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(m_labelAxis, Qt::AlignBottom);
    chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_series->attachAxis(m_labelAxis);
    m_series->attachAxis(m_valueAxis);
    setChart(chart);
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

void CChartfx::SetPoints(const QList<double>& values, const QStringList& labels) {
    m_set->remove(0, m_set->count());
    QStringList categories;
    QSet<QString> seen; // a set, so that 10,000 labels are checked in linear time
    QList<qreal> points;
    categories.reserve(values.size());
    points.reserve(values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        points << values[i];
        // Categories must differ from each other; a repeated label gets invisible padding.
        QString label = i < labels.size() ? labels[i] : QString();
        while (seen.contains(label))
            label += QChar(0x200B);
        seen.insert(label);
        categories << label;
    }
    m_set->append(points);
    m_labelAxis->clear();
    m_labelAxis->append(categories);
    m_labelAxis->setLabelsAngle(values.size() > kUprightLabelsAbove ? -90 : 0);
}

QList<double> CChartfx::GetValues() const {
    QList<double> out;
    for (int i = 0; i < m_set->count(); ++i)
        out << m_set->at(i);
    return out;
}

QStringList CChartfx::GetLabels() const {
    QStringList out = m_labelAxis->categories();
    for (QString& s : out)
        s.remove(QChar(0x200B));
    return out;
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
