// HistoryGraph: a small drawn graph of the most recent values.
#include "widgets/history_graph.h"

#include <algorithm>
#include <cmath>

#include <QGuiApplication>
#include <QPainter>
#include <QPolygonF>
#include <QScreen>

namespace {

// The ring's size: the widest screen there is (at least one entry).
int screenWidth() {
    int width = 1;
    for (QScreen* screen : QGuiApplication::screens())
        width = std::max(width, screen->geometry().width());
    return width;
}

} // namespace

HistoryGraph::HistoryGraph(QWidget* parent)
    : QWidget(parent), m_ring(static_cast<size_t>(screenWidth()), 0.0) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistoryGraph::SetRange(double low, double high) {
    if (!(low < high)) return;
    m_low = low;
    m_high = high;
    update();
}

void HistoryGraph::SetSpacing(int pixels) {
    m_spacing = pixels;
    update();
}

void HistoryGraph::SetStep(int pixels) {
    m_step = pixels;
    update();
}

void HistoryGraph::SetBackColor(const QColor& color) {
    m_back = color;
    update();
}

void HistoryGraph::SetDrawColor(const QColor& color) {
    m_draw = color;
    update();
}

int HistoryGraph::effectiveSpacing() const {
    return m_spacing < 1 || m_spacing > height() / 2 ? 1 : m_spacing;
}

int HistoryGraph::effectiveStep() const {
    return m_step < 1 || m_step > width() / 3 ? 1 : m_step;
}

void HistoryGraph::AddValue(double value) {
    m_ring[static_cast<size_t>(m_next)] = value;
    m_next = (m_next + 1) % capacity();
    m_count = std::min(m_count + 1, capacity());
    repaint();
}

double HistoryGraph::value(int age) const {
    if (age < 0 || age >= m_count) return 0.0;
    int at = (m_next - 1 - age + capacity()) % capacity();
    return m_ring[static_cast<size_t>(at)];
}

void HistoryGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_back);
    const int w = width(), h = height();

    // Grid: a dim line every `spacing` pixels from the bottom, when they stay apart.
    const int spacing = effectiveSpacing();
    if (spacing >= 3) {
        QColor grid = m_back.lightness() < 128 ? QColor(0, 96, 0) : m_back.darker(130);
        painter.setPen(grid);
        for (int y = h - 1 - spacing; y > 0; y -= spacing)
            painter.drawLine(0, y, w - 1, y);
    }

    // One point per step from the right edge, as far as the values and the width go.
    const int step = effectiveStep();
    const int points = std::min(m_count, w / step + 1);
    if (points == 0) return;
    QPolygonF line;
    line.reserve(points);
    for (int age = 0; age < points; age++) {
        double v = value(age);
        double share = std::isfinite(v) ? (v - m_low) / (m_high - m_low) : 0.0;
        share = std::clamp(share, 0.0, 1.0);
        line << QPointF(w - 1 - age * step, (h - 1) * (1.0 - share));
    }
    painter.setPen(QPen(m_draw, 1));
    if (points == 1)
        painter.drawPoint(line.first());
    else
        painter.drawPolyline(line);
}
