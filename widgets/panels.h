// CzCExtGroup and CzCThreeDPanel: the captioned 3-D group frame and the shaded 3-D panel.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A captioned 3-D group frame. Created at a place in a page, it lowers itself below the page's
// other children, so the controls it frames stay usable; controls may also be its children.
//     auto* group = new CzCExtGroup("Felhasználók", QRect(5, 5, 610, 370), page);
//     group->SetCaptionFontFace("System"); group->SetCaptionFontSize(18);
class CzCExtGroup : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxCaption = 127; // longer captions are cut

    // The caption font; face, pixel size 4..128, colour (invalid: the palette's text colour),
    // escapement in tenths of a degree (0, 900, 1800, 2700: the caption runs along the top, the
    // left edge upwards, the bottom upside down, the right edge downwards) and style flag
    // (non-zero: bold).
    struct CaptionFont {
        QString face = QStringLiteral("Arial");
        int size = 13;
        QColor color;
        int escapement = 0;
        int style = 1;
    };

    explicit CzCExtGroup(QWidget* parent = nullptr);
    CzCExtGroup(const QString& caption, const QRect& geometry, QWidget* parent);

    void SetCaption(const QString& caption); // cut to 127 characters; repaints
    QString GetCaption() const { return m_caption; }
    void SetCaptionFontFace(const QString& face);
    bool SetCaptionFontSize(int size); // false (ignored) outside 4..128
    void SetCaptionFontColor(const QColor& color);
    bool SetCaptionFontEscapement(int tenths); // false (ignored) for other than 0/900/1800/2700
    void SetCaptionFontStyle(int style);
    CaptionFont GetCaptionFont() const { return m_font; }
    QFont captionQFont() const; // the caption font as drawn
    // The area inside the frame, for laying out children.
    QRect ContentRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_caption;
    CaptionFont m_font;
};

// A 3-D panel with a shaded face and an optional title in its top band; pages put their status
// line in one titled "Üzenetek":
//     auto* panel = new CzCThreeDPanel("Üzenetek", QRect(120, 385, 360, 44), page);
//     panel->SetWidget(statusLabel);   // fills the area below the title
class CzCThreeDPanel : public QWidget {
    Q_OBJECT
  public:
    enum Bevel { Raised, Sunken, Flat };
    static constexpr int kTitleX = 6; // the title's left edge, in the panel's pixels

    explicit CzCThreeDPanel(QWidget* parent = nullptr);
    CzCThreeDPanel(const QString& title, const QRect& geometry, QWidget* parent);

    void SetTitle(const QString& title); // empty: no title band
    QString GetTitle() const { return m_title; }
    void SetBevel(Bevel bevel);
    Bevel GetBevel() const { return m_bevel; }
    void SetFaceColor(const QColor& color);  // invalid: the palette's button colour
    void SetTitleColor(const QColor& color); // invalid: the palette's text colour
    // Makes widget a child of the panel filling ContentRect (it follows the panel's size).
    void SetWidget(QWidget* widget);
    QWidget* GetWidget() const { return m_widget; }
    QRect ContentRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int titleHeight() const;
    QString m_title;
    Bevel m_bevel = Raised;
    QColor m_face, m_titleColor;
    QWidget* m_widget = nullptr;
};
