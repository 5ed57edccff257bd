// The status line: colours, frame and the flash timer.
#include "app/status_label.h"

#include "widgets/ticker.h"

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent), m_timer(new Ticker(this)) {
    setAutoFillBackground(true);
    connect(m_timer, &Ticker::tick, this, &StatusLabel::flashTick);
    restyle();
}

void StatusLabel::restyle() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, currentBackground());
    pal.setColor(QPalette::WindowText, currentTextColour());
    setPalette(pal);
    if (m_sunken)
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
    else if (m_border)
        setFrameStyle(QFrame::Box | QFrame::Plain);
    else
        setFrameStyle(QFrame::NoFrame);
    setLineWidth(m_sunken && m_border ? 2 : 1);
    repaint();
}

void StatusLabel::setStatusText(const QString& text) {
    setText(text);
    repaint();
}

void StatusLabel::setTextColours(QColor on, QColor off) {
    m_textOn = on;
    m_textOff = off;
    restyle();
}

void StatusLabel::setBackgroundColours(QColor on, QColor off) {
    m_bgOn = on;
    m_bgOff = off;
    restyle();
}

void StatusLabel::setBackgroundState(bool on) {
    m_backgroundState = on;
    restyle();
}

void StatusLabel::setFontSpec(const QString& face, int points, int weight) {
    QFont f(face, points);
    f.setWeight(weight >= 700 ? QFont::Bold : QFont::Normal);
    setFont(f);
    repaint();
}

void StatusLabel::setBorder(bool on) {
    m_border = on;
    restyle();
}

void StatusLabel::setSunken(bool on) {
    m_sunken = on;
    restyle();
}

void StatusLabel::setFlashing(bool on, double periodSeconds, bool state) {
    m_flashing = on;
    if (on) {
        if (periodSeconds > 0) m_period = periodSeconds;
        m_timer->start(static_cast<int>(m_period * 1000.0 + 0.5));
    } else {
        m_timer->stop();
        m_flashState = state;
    }
    restyle();
}

void StatusLabel::flashTick() {
    m_flashState = !m_flashState;
    restyle();
}

void SetupStatusLabel(StatusLabel* label) {
    label->setAlignment(Qt::AlignCenter);
    label->setBackgroundColours(QColor(192, 192, 192), QColor(192, 192, 192));
    label->setBorder(true);
    label->setFontSpec(QStringLiteral("Arial"), 16, 700);
    label->setTextColours(QColor(255, 0, 0), QColor(0, 0, 0));
    label->setFlashing(false, 1.0, true); // start in the "on" state
    label->setFlashing(true, 1.0);
    label->setSunken(true);
}
