// Ticker: a repeating tick at a fixed interval, the clock of the widgets and pages that do
// something every so often (the status line's flashing, the network page's sampling). In the
// console a QTimer drives it; in test mode no timer runs and a test advances it by hand, so that
// nothing waits in real time:
//
//     Ticker::setTestMode(true);                  // the GUI tests' main
//     label.flashTicker()->advance();             // the tick a running timer would give now
#pragma once

#include <QObject>

class QTimer;

class Ticker : public QObject {
    Q_OBJECT
  public:
    explicit Ticker(QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return m_interval; }
    // Starts (again) with the interval given, or the one set.
    void start(int ms);
    void start();
    void stop();
    bool isActive() const { return m_active; }

    // Test seam: gives the tick a running timer would give now (nothing while stopped).
    void advance();
    // In test mode tickers made from then on run no timer: only advance() ticks them.
    static void setTestMode(bool on);

  signals:
    void tick();

  private:
    QTimer* m_timer = nullptr; // none in test mode
    int m_interval = 0;
    bool m_active = false;
};
