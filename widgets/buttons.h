// COXBitmapButton and RoundButton: the console's image buttons and its rounded action buttons.
#pragma once

#include <array>

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

// A push button showing an image beside its text: the image at the left of the text, both placed
// together by the horizontal alignment and each centred by the vertical alignment.
//     auto* b = new COXBitmapButton(page);
//     b->LoadIcon(":/icons/help.png", true, 24, 24);
//     b->SetText("&Súgó\nOpens the help");   // text, then an optional tooltip after "\n"
//     b->SetTextColor(Qt::black);
//     b->SetHorizontalAlignment(Qt::AlignRight);
class COXBitmapButton : public QPushButton {
    Q_OBJECT
  public:
    explicit COXBitmapButton(QWidget* parent = nullptr);

    // The image from an icon, drawn at width x height when resize is set (its natural size, or
    // 24 x 24 when it has none, otherwise). False for a null icon (the image is then unchanged).
    bool LoadIcon(const QIcon& icon, bool resize = true, int width = 24, int height = 24);
    bool LoadIcon(const QString& file, bool resize = true, int width = 24, int height = 24);
    // The image from a bitmap; with a valid transparent colour, pixels of that colour are left out.
    // With resize set the bitmap is drawn at the size of the button's content area height.
    bool LoadBitmap(const QPixmap& bitmap, bool resize = false,
                    const QColor& transparent = QColor());
    bool LoadBitmap(const QString& file, bool resize = false, const QColor& transparent = QColor());
    QPixmap GetImage() const { return m_image; }

    // "text" or "text\ntooltip"; "&" marks the mnemonic.
    void SetText(const QString& textAndTooltip);
    void SetTextColor(const QColor& color, bool repaint = true);
    QColor GetTextColor() const { return m_textColor; }
    // Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter; anything else is ignored (false).
    bool SetHorizontalAlignment(Qt::Alignment align);
    // Qt::AlignTop, Qt::AlignBottom or Qt::AlignVCenter; anything else is ignored (false).
    bool SetVerticalAlignment(Qt::Alignment align);
    Qt::Alignment GetHorizontalAlignment() const { return m_hAlign; }
    Qt::Alignment GetVerticalAlignment() const { return m_vAlign; }
    // Content margins added to the button's own inset (negative values bring image and text
    // nearer to the edge); the pages use (-5, 0).
    void SetContentMargins(int dx, int dy);
    QPoint GetContentMargins() const { return {m_marginX, m_marginY}; }
    // A drop-down arrow at the right edge.
    void SetDropDown(bool on);
    bool HasDropDown() const { return m_dropDown; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    // Draws the button's face and edge; RoundButton draws its own.
    virtual void drawPanel(QPainter& painter, bool pressed);
    void drawContents(QPainter& painter, bool pressed);
    QRect contentRect() const;

  private:
    QPixmap m_image;
    QColor m_textColor;
    Qt::Alignment m_hAlign = Qt::AlignHCenter;
    Qt::Alignment m_vAlign = Qt::AlignVCenter;
    int m_marginX = 0, m_marginY = 0;
    bool m_dropDown = false;
};

// A rounded, shaded button. The edge between the outer radius and the inner radius is lit like a
// rounded rim; the face inside it has the button colour.
//     auto* b = new RoundButton(page);
//     b->SetButtonColor(QColor(184, 181, 118));
//     b->SetOuterRadius(14); b->SetInnerRadius(8); b->SetShadingCoefficient(10.0);
class RoundButton : public COXBitmapButton {
    Q_OBJECT
  public:
    // The seven shading parameters in order: rim steepness, light elevation (degrees), light
    // azimuth (degrees, -45 lights the top-left of the rim), highlight sharpness (exponent),
    // shading coefficient, darkest shade (fraction of the colour), highlight strength.
    static constexpr std::array<double, 7> kDefaultShading = {1.3, 60.0, -45.0, 15, 0.6, 0.5, 0.9};
    enum ShadingParameter {
        RimSteepness,
        LightElevation,
        LightAzimuth,
        HighlightExponent,
        ShadingCoefficient,
        DarkestShade,
        HighlightStrength
    };

    explicit RoundButton(QWidget* parent = nullptr);

    // Each setter repaints the button when repaint is set.
    void SetButtonColor(const QColor& color, bool repaint = true); // default: the 3-D face colour
    QColor GetButtonColor() const { return m_color; }
    // The second colour: the thin outline around the rim (default: the window colour).
    void SetSecondColor(const QColor& color, bool repaint = true);
    QColor GetSecondColor() const { return m_second; }
    // Radii of the rounded edge, 0 or more, the inner never above the outer: a value that breaks
    // the rule is ignored (false).
    bool SetOuterRadius(int radius, bool repaint = true); // default 8
    bool SetInnerRadius(int radius, bool repaint = true); // default 3
    int GetOuterRadius() const { return m_outer; }
    int GetInnerRadius() const { return m_inner; }
    bool SetShadingParameter(int index, double value, bool repaint = true); // index 0..6
    double GetShadingParameter(int index) const;                   // 0.0 for an index out of range
    void SetShadingCoefficient(double value, bool repaint = true); // parameter 5; pages: 10.0

    // The shaded button shape of the given size, as drawn (for tests and screenshots).
    QImage renderShape(const QSize& size, bool pressed) const;

  protected:
    void drawPanel(QPainter& painter, bool pressed) override;

  private:
    QColor m_color, m_second;
    int m_outer = 8, m_inner = 3;
    std::array<double, 7> m_shading = kDefaultShading;
    QImage m_cache;
    QString m_cacheKey;
};
