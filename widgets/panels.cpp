// Drawing of the captioned group frame and of the shaded 3-D panel.
#include "widgets/panels.h"

#include <QLinearGradient>
#include <QPainter>

// ---- CzCExtGroup ----

CzCExtGroup::CzCExtGroup(QWidget* parent) : QWidget(parent) {}

CzCExtGroup::CzCExtGroup(const QString& caption, const QRect& geometry, QWidget* parent)
    : QWidget(parent) {
    SetCaption(caption);
    setGeometry(geometry);
    lower();
}

void CzCExtGroup::SetCaption(const QString& caption) {
    QString c = caption.left(kMaxCaption);
    if (!c.isEmpty() && c.back().isHighSurrogate()) c.chop(1); // never half a character
    m_caption = c;
    update();
}

void CzCExtGroup::SetCaptionFontFace(const QString& face) {
    m_font.face = face;
    update();
}

bool CzCExtGroup::SetCaptionFontSize(int size) {
    if (size < 4 || size > 128) return false;
    m_font.size = size;
    update();
    return true;
}

void CzCExtGroup::SetCaptionFontColor(const QColor& color) {
    m_font.color = color;
    update();
}

bool CzCExtGroup::SetCaptionFontEscapement(int tenths) {
    if (tenths != 0 && tenths != 900 && tenths != 1800 && tenths != 2700) return false;
    m_font.escapement = tenths;
    update();
    return true;
}

void CzCExtGroup::SetCaptionFontStyle(int style) {
    m_font.style = style;
    update();
}

QFont CzCExtGroup::captionQFont() const {
    QFont f(m_font.face);
    f.setPixelSize(m_font.size);
    f.setBold(m_font.style != 0);
    return f;
}

QRect CzCExtGroup::ContentRect() const {
    const int band = m_caption.isEmpty() ? 2 : QFontMetrics(captionQFont()).height();
    QRect r = rect().adjusted(4, 4, -4, -4);
    switch (m_font.escapement) {
    case 900:
        r.setLeft(band + 4);
        break;
    case 1800:
        r.setBottom(height() - band - 5);
        break;
    case 2700:
        r.setRight(width() - band - 5);
        break;
    default:
        r.setTop(band + 4);
        break;
    }
    return r;
}

void CzCExtGroup::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFont font = captionQFont();
    const QFontMetrics fm(font);
    const int band = m_caption.isEmpty() ? 0 : fm.height();
    const int textWidth = fm.horizontalAdvance(m_caption);
    const int e = m_font.escapement;
    // Frame rectangle: on the caption's side it runs through the middle of the caption.
    QRect frame = rect().adjusted(0, 0, -2, -2);
    if (e == 0) frame.setTop(band / 2);
    if (e == 900) frame.setLeft(band / 2);
    if (e == 1800) frame.setBottom(height() - 2 - band / 2);
    if (e == 2700) frame.setRight(width() - 2 - band / 2);

    const QPalette& pal = palette();
    p.setPen(pal.color(QPalette::Dark));
    p.drawRect(frame);
    p.setPen(pal.color(QPalette::Light));
    p.drawRect(frame.translated(1, 1));

    if (m_caption.isEmpty()) return;
    p.save();
    const int w = width(), h = height();
    switch (e) {
    case 900:
        p.translate(0, h - 8);
        p.rotate(-90);
        break;
    case 1800:
        p.translate(w - 8, h);
        p.rotate(180);
        break;
    case 2700:
        p.translate(w, 8);
        p.rotate(90);
        break;
    default:
        p.translate(8, 0);
        break;
    }
    const QRect textBox(0, 0, textWidth + 6, band);
    p.fillRect(textBox, pal.color(QPalette::Window));
    p.setFont(font);
    p.setPen(m_font.color.isValid() ? m_font.color : pal.color(QPalette::WindowText));
    p.drawText(textBox.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_caption);
    p.restore();
}

// ---- CzCThreeDPanel ----

CzCThreeDPanel::CzCThreeDPanel(QWidget* parent) : QWidget(parent) {}

CzCThreeDPanel::CzCThreeDPanel(const QString& title, const QRect& geometry, QWidget* parent)
    : QWidget(parent), m_title(title) {
    setGeometry(geometry);
}

void CzCThreeDPanel::SetTitle(const QString& title) {
    m_title = title;
    resizeEvent(nullptr);
    update();
}

void CzCThreeDPanel::SetBevel(Bevel bevel) {
    m_bevel = bevel;
    update();
}

void CzCThreeDPanel::SetFaceColor(const QColor& color) {
    m_face = color;
    update();
}

void CzCThreeDPanel::SetTitleColor(const QColor& color) {
    m_titleColor = color;
    update();
}

void CzCThreeDPanel::SetWidget(QWidget* widget) {
    m_widget = widget;
    if (!widget) return;
    widget->setParent(this);
    widget->setGeometry(ContentRect());
    widget->show();
}

int CzCThreeDPanel::titleHeight() const {
    return m_title.isEmpty() ? 0 : fontMetrics().height() + 2;
}

QRect CzCThreeDPanel::ContentRect() const {
    return rect().adjusted(3, 3 + titleHeight(), -3, -3);
}

void CzCThreeDPanel::resizeEvent(QResizeEvent*) {
    if (m_widget) m_widget->setGeometry(ContentRect());
}

void CzCThreeDPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QColor face = m_face.isValid() ? m_face : pal.color(QPalette::Button);
    QLinearGradient shade(0, 0, 0, height());
    shade.setColorAt(0.0, face.lighter(m_bevel == Sunken ? 96 : 112));
    shade.setColorAt(1.0, face.darker(m_bevel == Sunken ? 104 : 112));
    p.fillRect(rect(), shade);
    if (m_bevel != Flat) {
        const QColor light = pal.color(QPalette::Light), dark = pal.color(QPalette::Dark);
        const QColor topLeft = m_bevel == Raised ? light : dark;
        const QColor bottomRight = m_bevel == Raised ? dark : light;
        const QRect r = rect().adjusted(0, 0, -1, -1);
        for (int i = 0; i < 2; ++i) {
            const QRect b = r.adjusted(i, i, -i, -i);
            p.setPen(topLeft);
            p.drawLine(b.topLeft(), b.topRight());
            p.drawLine(b.topLeft(), b.bottomLeft());
            p.setPen(bottomRight);
            p.drawLine(b.bottomLeft(), b.bottomRight());
            p.drawLine(b.topRight(), b.bottomRight());
        }
    }
    if (!m_title.isEmpty()) {
        p.setPen(m_titleColor.isValid() ? m_titleColor : pal.color(QPalette::WindowText));
        p.drawText(QRect(kTitleX, 2, width() - 2 * kTitleX, titleHeight()),
                   Qt::AlignLeft | Qt::AlignVCenter, m_title);
    }
}
