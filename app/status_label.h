// A page's status line: a label with two text and two background colours, a flashing text, a
// border and a sunken look.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

class Ticker;

// A page's status line. Every setter repaints the label.
class StatusLabel : public QLabel {
    Q_OBJECT
  public:
    explicit StatusLabel(QWidget* parent = nullptr);

    void setStatusText(const QString& text); // shows it at once
    void setTextColours(QColor on, QColor off);
    void setBackgroundColours(QColor on, QColor off);
    void setBackgroundState(bool on);
    void setFontSpec(const QString& face, int points, int weight); // weight 400 or 700
    void setBorder(bool on);
    void setSunken(bool on);
    // On: a timer with the period (seconds) toggles the text-flash state on every tick. Off:
    // the timer stops and the text-flash state is fixed to `state`.
    void setFlashing(bool on, double periodSeconds = 1.0, bool state = true);

    bool flashing() const { return m_flashing; }
    double flashPeriod() const { return m_period; }
    bool flashState() const { return m_flashState; }
    bool backgroundState() const { return m_backgroundState; }
    bool border() const { return m_border; }
    bool sunken() const { return m_sunken; }
    QColor textColourOn() const { return m_textOn; }
    QColor textColourOff() const { return m_textOff; }
    QColor backgroundOn() const { return m_bgOn; }
    QColor backgroundOff() const { return m_bgOff; }
    // The colours drawn now (following the flash and background states).
    QColor currentTextColour() const { return m_flashState ? m_textOn : m_textOff; }
    QColor currentBackground() const { return m_backgroundState ? m_bgOn : m_bgOff; }
    // The flash clock (tests advance it).
    Ticker* flashTicker() const { return m_timer; }

  public slots:
    // One tick of the flash timer: toggles the text-flash state.
    void flashTick();

  private:
    void restyle();

    Ticker* m_timer;
    QColor m_textOn{Qt::black}, m_textOff{Qt::black};
    QColor m_bgOn{192, 192, 192}, m_bgOff{192, 192, 192};
    bool m_flashing = false, m_flashState = true, m_backgroundState = true;
    bool m_border = false, m_sunken = false;
    double m_period = 1.0;
};

// The common look: centred, grey background, border, "Arial" 16 bold, red/black text flashing
// once a second starting "on", sunken.
void SetupStatusLabel(StatusLabel* label);
