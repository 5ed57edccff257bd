// HistoryGraph: a small drawn graph of the most recent values, newest at the right edge.
#pragma once

#include <vector>

#include <QColor>
#include <QWidget>

// Values go into a ring of as many entries as the screen is wide in pixels; each new value takes
// the next position (wrapping round) and the graph redraws at once. The graph draws one point per
// `step` pixels from the right edge leftwards, joined by lines, over horizontal grid lines every
// `spacing` pixels from the bottom (none when the spacing is below 3).
//     auto* graph = new HistoryGraph(page);
//     graph->setGeometry(40, 108, 180, 50);
//     graph->SetRange(0, 100); graph->SetSpacing(5); graph->SetBackColor(Qt::black);
//     graph->AddValue(load);
class HistoryGraph : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryGraph(QWidget* parent = nullptr);

    // Defaults: range 0 to 100, spacing 10, step 1, background RGB(192, 192, 192), drawing red.
    void SetRange(double low, double high); // ignored unless low < high
    void SetSpacing(int pixels);
    void SetStep(int pixels);
    void SetBackColor(const QColor& color);
    void SetDrawColor(const QColor& color);

    double low() const { return m_low; }
    double high() const { return m_high; }
    int spacing() const { return m_spacing; }
    int step() const { return m_step; }
    // What drawing uses: a spacing above half the height, or a step above a third of the width
    // (or either below 1), is 1.
    int effectiveSpacing() const;
    int effectiveStep() const;
    QColor backColor() const { return m_back; }
    QColor drawColor() const { return m_draw; }

    // Adds a value and redraws.
    void AddValue(double value);

    int capacity() const { return static_cast<int>(m_ring.size()); }
    int count() const { return m_count; }   // values held (at most capacity)
    double value(int age) const;            // 0 the newest; 0.0 beyond count
    int position() const { return m_next; } // ring position the next value takes

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<double> m_ring;
    int m_next = 0, m_count = 0;
    double m_low = 0, m_high = 100;
    int m_spacing = 10, m_step = 1;
    QColor m_back{192, 192, 192}, m_draw{255, 0, 0};
};
