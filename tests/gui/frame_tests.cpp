// Group frame, 3-D panel, image button and round button: the rules of their properties.
#include <gtest/gtest.h>

#include <QIcon>
#include <QLabel>

#include "widgets/buttons.h"
#include "widgets/panels.h"

TEST(CzCExtGroup, CaptionIsCutAt127CharactersAndBadFontValuesAreIgnored) {
    QWidget page;
    auto* group = new CzCExtGroup(QString(200, QLatin1Char('x')), QRect(5, 5, 300, 200), &page);
    EXPECT_EQ(group->GetCaption(), QString(127, QLatin1Char('x')));
    group->SetCaption("Felhasználók");
    EXPECT_EQ(group->GetCaption(), "Felhasználók");
    // A character outside the BMP straddling the cut is dropped whole.
    group->SetCaption(QString(126, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(group->GetCaption(), QString(126, QLatin1Char('a')));
    EXPECT_EQ(group->geometry(), QRect(5, 5, 300, 200));

    for (int bad : {3, 129, -1})
        EXPECT_FALSE(group->SetCaptionFontSize(bad)) << bad;
    EXPECT_EQ(group->GetCaptionFont().size, 13);
    EXPECT_TRUE(group->SetCaptionFontSize(4));
    EXPECT_TRUE(group->SetCaptionFontSize(128));
    EXPECT_TRUE(group->SetCaptionFontSize(18));
    EXPECT_FALSE(group->SetCaptionFontEscapement(450));
    EXPECT_EQ(group->GetCaptionFont().escapement, 0);
    group->SetCaption("Csoportok");
    group->resize(200, 120);
    for (int e : {900, 1800, 2700, 0}) {
        EXPECT_TRUE(group->SetCaptionFontEscapement(e));
        EXPECT_FALSE(group->grab().isNull());
    }
    group->SetCaptionFontStyle(0);
    EXPECT_EQ(group->captionQFont().pixelSize(), 18);
    EXPECT_FALSE(group->captionQFont().bold());
}

TEST(CzCThreeDPanel, HoldsAStatusLineBelowItsTitle) {
    QWidget page;
    auto* panel = new CzCThreeDPanel("Üzenetek", QRect(120, 385, 360, 44), &page);
    auto* label = new QLabel("OK!");
    panel->SetWidget(label);
    EXPECT_EQ(label->parentWidget(), panel);
    EXPECT_EQ(label->geometry(), panel->ContentRect());
    EXPECT_GT(panel->ContentRect().top(), 3); // the title band is above the content
    page.show();                              // a hidden panel follows its new size when shown
    panel->resize(400, 60);
    EXPECT_EQ(label->geometry(), panel->ContentRect());
}

TEST(COXBitmapButton, TextTooltipIconAndAlignment) {
    COXBitmapButton button;
    button.SetText("&Súgó\nA súgó megnyitása");
    EXPECT_EQ(button.text(), "&Súgó");
    EXPECT_EQ(button.toolTip(), "A súgó megnyitása");
    button.SetText("&Nyomtat");
    EXPECT_EQ(button.toolTip(), QString());

    QPixmap pm(64, 64);
    pm.fill(Qt::red);
    EXPECT_TRUE(button.LoadIcon(QIcon(pm), true, 24, 24));
    EXPECT_EQ(button.GetImage().deviceIndependentSize().toSize(), QSize(24, 24));
    EXPECT_FALSE(button.LoadIcon(QIcon()));
    EXPECT_FALSE(button.LoadIcon("/nonexistent/icon.png"));
    EXPECT_EQ(button.GetImage().deviceIndependentSize().toSize(), QSize(24, 24));

    EXPECT_TRUE(button.SetHorizontalAlignment(Qt::AlignRight));
    EXPECT_FALSE(button.SetHorizontalAlignment(Qt::AlignJustify));
    EXPECT_EQ(button.GetHorizontalAlignment(), Qt::AlignRight);
    EXPECT_FALSE(button.SetVerticalAlignment(Qt::AlignLeft));
    EXPECT_EQ(button.GetVerticalAlignment(), Qt::AlignVCenter);
}

TEST(RoundButton, RadiusRulesShadingAndARoundedShapeLitFromTheTopLeft) {
    RoundButton button;
    EXPECT_EQ(button.GetOuterRadius(), 8);
    EXPECT_EQ(button.GetInnerRadius(), 3);
    EXPECT_FALSE(button.SetOuterRadius(2)); // below the inner radius
    EXPECT_FALSE(button.SetInnerRadius(9)); // above the outer radius
    EXPECT_FALSE(button.SetInnerRadius(-1));
    EXPECT_EQ(button.GetOuterRadius(), 8);
    EXPECT_EQ(button.GetInnerRadius(), 3);
    EXPECT_TRUE(button.SetInnerRadius(8)); // equal is allowed
    EXPECT_TRUE(button.SetOuterRadius(14));
    EXPECT_FALSE(button.SetOuterRadius(7));
    EXPECT_EQ(button.GetOuterRadius(), 14);
    EXPECT_EQ(button.GetInnerRadius(), 8);

    button.SetShadingCoefficient(10.0);
    EXPECT_DOUBLE_EQ(button.GetShadingParameter(RoundButton::ShadingCoefficient), 10.0);
    EXPECT_FALSE(button.SetShadingParameter(7, 1.0));

    button.SetButtonColor(QColor(184, 181, 118));
    const QImage shape = button.renderShape(QSize(120, 40), false);
    EXPECT_EQ(qAlpha(shape.pixel(0, 0)), 0); // the corner lies outside the rounded edge
    EXPECT_EQ(QColor(shape.pixel(60, 20)), QColor(184, 181, 118)); // the flat face
    const int top = qGray(shape.pixel(60, 2)), bottom = qGray(shape.pixel(60, 37));
    EXPECT_GT(top, bottom);
    const QImage pressed = button.renderShape(QSize(120, 40), true);
    EXPECT_LT(qGray(pressed.pixel(60, 2)), qGray(pressed.pixel(60, 37)));

    button.resize(120, 40);
    button.SetText("&Frissít");
    EXPECT_FALSE(button.grab().isNull());
}
