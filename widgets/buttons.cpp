// COXBitmapButton and RoundButton drawing: image and text placement, and the lit rounded rim.
#include "widgets/buttons.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int kInsetX = 6, kInsetY = 3; // the button's own inset around image and text
constexpr int kImageGap = 4;            // between image and text
constexpr int kArrowWidth = 12;         // room of the drop-down arrow
} // namespace

// ---- COXBitmapButton ----

COXBitmapButton::COXBitmapButton(QWidget* parent) : QPushButton(parent) {
    m_textColor = palette().color(QPalette::ButtonText);
}

bool COXBitmapButton::LoadIcon(const QIcon& icon, bool resize, int width, int height) {
    if (icon.isNull()) return false;
    QSize size(24, 24);
    if (resize && width > 0 && height > 0)
        size = QSize(width, height);
    else if (!icon.availableSizes().isEmpty())
        size = icon.availableSizes().first();
    m_image = icon.pixmap(size);
    updateGeometry();
    update();
    return true;
}

bool COXBitmapButton::LoadIcon(const QString& file, bool resize, int width, int height) {
    QIcon icon(file);
    if (icon.availableSizes().isEmpty() && QPixmap(file).isNull()) return false;
    return LoadIcon(icon, resize, width, height);
}

bool COXBitmapButton::LoadBitmap(const QPixmap& bitmap, bool resize, const QColor& transparent) {
    if (bitmap.isNull()) return false;
    QPixmap pm = bitmap;
    if (transparent.isValid()) pm.setMask(pm.createMaskFromColor(transparent, Qt::MaskInColor));
    if (resize) {
        const int h = std::max(1, contentRect().height());
        pm = pm.scaledToHeight(h, Qt::SmoothTransformation);
    }
    m_image = pm;
    updateGeometry();
    update();
    return true;
}

bool COXBitmapButton::LoadBitmap(const QString& file, bool resize, const QColor& transparent) {
    return LoadBitmap(QPixmap(file), resize, transparent);
}

void COXBitmapButton::SetText(const QString& textAndTooltip) {
    const qsizetype nl = textAndTooltip.indexOf(QLatin1Char('\n'));
    setText(nl < 0 ? textAndTooltip : textAndTooltip.left(nl));
    setToolTip(nl < 0 ? QString() : textAndTooltip.mid(nl + 1));
}

void COXBitmapButton::SetTextColor(const QColor& color, bool repaint) {
    m_textColor = color;
    if (repaint) update();
}

bool COXBitmapButton::SetHorizontalAlignment(Qt::Alignment align) {
    if (align != Qt::AlignLeft && align != Qt::AlignRight && align != Qt::AlignHCenter)
        return false;
    m_hAlign = align;
    update();
    return true;
}

bool COXBitmapButton::SetVerticalAlignment(Qt::Alignment align) {
    if (align != Qt::AlignTop && align != Qt::AlignBottom && align != Qt::AlignVCenter)
        return false;
    m_vAlign = align;
    update();
    return true;
}

void COXBitmapButton::SetContentMargins(int dx, int dy) {
    m_marginX = dx;
    m_marginY = dy;
    update();
}

void COXBitmapButton::SetDropDown(bool on) {
    m_dropDown = on;
    update();
}

QRect COXBitmapButton::contentRect() const {
    const int mx = std::max(0, kInsetX + m_marginX), my = std::max(0, kInsetY + m_marginY);
    QRect r = rect().adjusted(mx, my, -mx, -my);
    if (m_dropDown) r.setRight(r.right() - kArrowWidth);
    return r;
}

QSize COXBitmapButton::sizeHint() const {
    const QSize t = fontMetrics().size(Qt::TextShowMnemonic, text());
    int w = t.width() + 2 * kInsetX + (m_dropDown ? kArrowWidth : 0);
    int h = t.height();
    if (!m_image.isNull()) {
        const QSize s = m_image.deviceIndependentSize().toSize();
        w += s.width() + kImageGap;
        h = std::max(h, s.height());
    }
    return {w + 8, h + 2 * kInsetY + 6};
}

void COXBitmapButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool pressed = isDown() || isChecked();
    drawPanel(p, pressed);
    drawContents(p, pressed);
}

void COXBitmapButton::drawPanel(QPainter& painter, bool) {
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    opt.icon = QIcon();
    style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &painter, this);
}

void COXBitmapButton::drawContents(QPainter& painter, bool pressed) {
    QRect area = contentRect();
    if (pressed) area.translate(1, 1);
    const QSize imageSize =
        m_image.isNull() ? QSize(0, 0) : m_image.deviceIndependentSize().toSize();
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text());
    const int gap = !m_image.isNull() && !text().isEmpty() ? kImageGap : 0;
    const int blockWidth = imageSize.width() + gap + textSize.width();
    int x = area.left();
    if (m_hAlign == Qt::AlignRight)
        x = area.right() + 1 - blockWidth;
    else if (m_hAlign == Qt::AlignHCenter)
        x = area.left() + (area.width() - blockWidth) / 2;
    auto top = [&](int h) {
        if (m_vAlign == Qt::AlignTop) return area.top();
        if (m_vAlign == Qt::AlignBottom) return area.bottom() + 1 - h;
        return area.top() + (area.height() - h) / 2;
    };
    if (!m_image.isNull()) {
        QPixmap pm = m_image;
        if (!isEnabled()) {
            QStyleOption opt;
            opt.initFrom(this);
            pm = style()->generatedIconPixmap(QIcon::Disabled, pm, &opt);
        }
        painter.drawPixmap(x, top(imageSize.height()), pm);
    }
    const QRect textRect(x + imageSize.width() + gap, top(textSize.height()), textSize.width(),
                         textSize.height());
    painter.setPen(isEnabled() ? m_textColor
                               : palette().color(QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textRect, Qt::TextShowMnemonic | Qt::AlignLeft | Qt::AlignVCenter, text());
    if (m_dropDown) {
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = QRect(rect().right() - kArrowWidth - 2, rect().center().y() - 4, 9, 9);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &painter, this);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect =
            contentRect().adjusted(-2, -1, 2, 1).intersected(rect().adjusted(3, 3, -3, -3));
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

// ---- RoundButton ----

RoundButton::RoundButton(QWidget* parent) : COXBitmapButton(parent) {
    m_color = palette().color(QPalette::Button);
    m_second = palette().color(QPalette::Base);
    setAttribute(Qt::WA_Hover);
}

void RoundButton::SetButtonColor(const QColor& color, bool repaint) {
    m_color = color;
    if (repaint) update();
}

void RoundButton::SetSecondColor(const QColor& color, bool repaint) {
    m_second = color;
    if (repaint) update();
}

bool RoundButton::SetOuterRadius(int radius, bool repaint) {
    if (radius < 0 || radius < m_inner) return false;
    m_outer = radius;
    if (repaint) update();
    return true;
}

bool RoundButton::SetInnerRadius(int radius, bool repaint) {
    if (radius < 0 || radius > m_outer) return false;
    m_inner = radius;
    if (repaint) update();
    return true;
}

bool RoundButton::SetShadingParameter(int index, double value, bool repaint) {
    if (index < 0 || index >= int(m_shading.size()) || !std::isfinite(value)) return false;
    m_shading[size_t(index)] = value;
    if (repaint) update();
    return true;
}

double RoundButton::GetShadingParameter(int index) const {
    return index < 0 || index >= int(m_shading.size()) ? 0.0 : m_shading[size_t(index)];
}

void RoundButton::SetShadingCoefficient(double value, bool repaint) {
    SetShadingParameter(ShadingCoefficient, value, repaint);
}

namespace {

// Where a pixel lies against the inner rounded rectangle: the signed distance to it and the
// outward direction there.
struct RimPlace {
    double dist, dx, dy;
};

RimPlace rimPlace(double px, double py, double innerHalfW, double innerHalfH, double inner) {
    const double qx = std::abs(px) - (innerHalfW - inner), qy = std::abs(py) - (innerHalfH - inner);
    RimPlace at;
    if (qx > 0 || qy > 0) {
        const double mx = std::max(qx, 0.0), my = std::max(qy, 0.0);
        const double len = std::hypot(mx, my);
        at.dist = len - inner;
        at.dx = len > 0 ? mx / len : 0, at.dy = len > 0 ? my / len : 0;
    } else {
        at.dist = std::max(qx, qy) - inner;
        at.dx = qx > qy ? 1 : 0, at.dy = qx > qy ? 0 : 1;
    }
    at.dx = px < 0 ? -at.dx : at.dx;
    at.dy = py < 0 ? -at.dy : at.dy;
    return at;
}

// The light of the shape (a unit vector towards it) and how the rim answers it, from the
// button's shading parameters.
struct RimLight {
    double lx, ly, lz, steep, exponent, coef, darkest, highlight;

    RimLight(const std::array<double, 7>& shading, bool pressed) {
        const double pi = 3.14159265358979323846;
        const double el = shading[RoundButton::LightElevation] * pi / 180.0;
        const double az = shading[RoundButton::LightAzimuth] * pi / 180.0;
        lx = -std::cos(el) * std::cos(az), ly = std::cos(el) * std::sin(az);
        lz = std::sin(el);
        if (pressed) lx = -lx, ly = -ly; // a pressed button looks sunken
        steep = shading[RoundButton::RimSteepness],
        exponent = shading[RoundButton::HighlightExponent];
        coef = shading[RoundButton::ShadingCoefficient],
        darkest = shading[RoundButton::DarkestShade];
        highlight = shading[RoundButton::HighlightStrength];
    }

    // The brightness factor and the highlight of a rim point at depth t (0 at the face, 1 at
    // the outer edge) facing (dx, dy): a quarter round, steeper towards the edge.
    void light(double t, double dx, double dy, double* f, double* specular) const {
        const double s = steep * t / std::sqrt(std::max(1.0 - t * t, 1e-3));
        const double nl = std::sqrt(s * s + 1.0);
        const double nx = dx * s / nl, ny = dy * s / nl, nz = 1.0 / nl;
        const double dot = nx * lx + ny * ly + nz * lz;
        *f = std::max(1.0 + coef * (dot - lz), darkest);
        const double rz = 2 * dot * nz - lz;
        if (rz > lz && lz < 1.0) *specular = highlight * std::pow((rz - lz) / (1 - lz), exponent);
    }
};

// A colour channel brightened or darkened by f, plus the highlight.
double shadeChannel(double c, double f, double specular) {
    c = f <= 1.0 ? c * f : c + (1.0 - c) * std::min(f - 1.0, 1.0);
    return std::clamp(c + specular, 0.0, 1.0);
}

} // namespace

// Lights each pixel of the shape: the face is flat, the rim between the inner rounded rectangle
// and the outer edge falls off like a quarter round, lit from the light direction.
QImage RoundButton::renderShape(const QSize& size, bool pressed) const {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    if (size.isEmpty()) return img;
    const double halfW = size.width() / 2.0, halfH = size.height() / 2.0;
    const double maxR = std::min(halfW, halfH);
    const double outer = std::min<double>(m_outer, maxR);
    const double inner = std::min<double>(m_inner, outer);
    const double rim = outer - inner;
    const double inHalfW = halfW - rim, inHalfH = halfH - rim;
    const RimLight light(m_shading, pressed);
    QColor base = m_color;
    if (underMouse() && isEnabled() && !pressed) base = base.lighter(106);
    const double br = base.redF(), bg = base.greenF(), bb = base.blueF();
    const double sr = m_second.redF(), sg = m_second.greenF(), sb = m_second.blueF();

    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const RimPlace at = rimPlace(x + 0.5 - halfW, y + 0.5 - halfH, inHalfW, inHalfH, inner);
            const double alpha = std::clamp(rim - at.dist + 0.5, 0.0, 1.0);
            if (alpha <= 0) continue;
            double f = 1.0, specular = 0.0;
            if (at.dist > 0 && rim > 0)
                light.light(std::min(at.dist / rim, 1.0), at.dx, at.dy, &f, &specular);
            double r = shadeChannel(br, f, specular), g = shadeChannel(bg, f, specular),
                   b = shadeChannel(bb, f, specular);
            // The outline, on the last pixel of the rim.
            const double edge = std::clamp(at.dist - (rim - 1.0), 0.0, 1.0);
            r += (sr - r) * edge * 0.6, g += (sg - g) * edge * 0.6, b += (sb - b) * edge * 0.6;
            line[x] = qRgba(int(r * alpha * 255 + 0.5), int(g * alpha * 255 + 0.5),
                            int(b * alpha * 255 + 0.5), int(alpha * 255 + 0.5));
        }
    }
    return img;
}

void RoundButton::drawPanel(QPainter& painter, bool pressed) {
    QString key = QStringLiteral("%1x%2 %3 %4 %5 %6 %7 %8 %9")
                      .arg(width())
                      .arg(height())
                      .arg(m_color.rgba())
                      .arg(m_second.rgba())
                      .arg(m_outer)
                      .arg(m_inner)
                      .arg(pressed)
                      .arg(underMouse() && isEnabled())
                      .arg(isEnabled());
    for (double v : m_shading)
        key += QLatin1Char(' ') + QString::number(v);
    if (key != m_cacheKey) {
        m_cache = renderShape(size(), pressed);
        if (!isEnabled()) {
            // A disabled button keeps its shape but loses most of its colour.
            QPainter p(&m_cache);
            p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            p.fillRect(m_cache.rect(), QColor(200, 200, 200, 130));
        }
        m_cacheKey = key;
    }
    painter.drawImage(0, 0, m_cache);
}
