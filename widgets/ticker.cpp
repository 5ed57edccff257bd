// The ticker: a QTimer, or in test mode ticks given by hand.
#include "widgets/ticker.h"

#include <QTimer>

namespace {

bool g_testMode = false; // set once by a test program's main, before any ticker exists

} // namespace

Ticker::Ticker(QObject* parent) : QObject(parent) {
    if (g_testMode) return;
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &Ticker::tick);
}

void Ticker::setInterval(int ms) {
    m_interval = ms;
    if (m_timer) m_timer->setInterval(ms);
}

void Ticker::start(int ms) {
    setInterval(ms);
    start();
}

void Ticker::start() {
    m_active = true;
    if (m_timer) m_timer->start();
}

void Ticker::stop() {
    m_active = false;
    if (m_timer) m_timer->stop();
}

void Ticker::advance() {
    if (m_active) emit tick();
}

void Ticker::setTestMode(bool on) {
    g_testMode = on;
}
