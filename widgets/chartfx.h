// CChartfx: the bar chart of the statistics chart page, over Qt Charts.
#pragma once

#include <QChartView>
#include <QList>
#include <QStringList>

class QAreaSeries;
class QBarSeries;
class QBarSet;
class QBarCategoryAxis;
class QCategoryAxis;
class QLineSeries;
class QValueAxis;
class QGraphicsSimpleTextItem;
class QPrinter;

// One series of labelled points against a value axis. A drawing of the chart page:
//     chart->SetRange(lowest, highest);          // 0x58 [0], [1]
//     chart->SetTitles("Byte", periodLine, totalLine);   // 0x5B [0], [3], [2]
//     chart->SetPoints(values, labels);          // 0x40, 0x52 / 0x5E per point, 0x41
//     chart->Refresh();                          // -550
class CChartfx : public QChartView {
    Q_OBJECT
  public:
    explicit CChartfx(QWidget* parent = nullptr);

    // The value axis runs from lowest to highest; false (unchanged) unless lowest < highest and
    // both are finite.
    bool SetRange(double lowest, double highest);
    double GetLowest() const;
    double GetHighest() const;
    // The value axis title ("Byte"), the period line above the chart and the total line below.
    void SetTitles(const QString& axisTitle, const QString& periodLine, const QString& totalLine);
    void SetAxisTitle(const QString& text);
    void SetPeriodLine(const QString& text);
    void SetTotalLine(const QString& text);
    QString GetAxisTitle() const;
    QString GetPeriodLine() const;
    QString GetTotalLine() const;
    // Replaces the series: point i has values[i] and labels[i] (a missing label is blank). With
    // more than 12 points, or labels wider than a bar's room, the labels are turned upright to
    // fit, and with more than kStepLabelsMax points every Nth label is shown (at most
    // kStepLabelsMax of them). Up to kBarsUpTo points are drawn as one bar per point; more are
    // drawn as one filled step outline on stepAxis().
    // The lists are taken over, not copied.
    void SetPoints(QList<double> values, QStringList labels);
    QList<double> GetValues() const;
    QStringList GetLabels() const;
    void Refresh();
    // Prints the chart on one page; false when the printer cannot be opened.
    bool PrintTo(QPrinter* printer);

    static constexpr int kBarsUpTo = 400;
    static constexpr int kStepLabelsMax = 30;

    QBarSeries* series() const { return m_series; }
    QValueAxis* valueAxis() const { return m_valueAxis; }
    QBarCategoryAxis* labelAxis() const { return m_labelAxis; }
    QAreaSeries* stepSeries() const { return m_stepSeries; }
    QCategoryAxis* stepAxis() const { return m_stepAxis; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void placeTotalLine();
    void setBars();
    void setSteps();

    QBarSeries* m_series;
    QBarSet* m_set;
    QValueAxis* m_valueAxis;
    QBarCategoryAxis* m_labelAxis;
    QLineSeries* m_stepLine;
    QAreaSeries* m_stepSeries;
    QCategoryAxis* m_stepAxis;
    QList<double> m_values;
    QStringList m_labels;
    QGraphicsSimpleTextItem* m_totalItem;
    QString m_totalLine;
};
