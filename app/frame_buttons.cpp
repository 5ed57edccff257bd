// The page frame's buttons and group captions.
#include "app/frame_buttons.h"

#include "widgets/buttons.h"
#include "widgets/panels.h"

namespace {

// The common look of the help, print and refresh buttons.
void setupCommonButton(RoundButton* button, const QIcon& icon, const QString& text,
                       QColor textColour, Qt::Alignment align, QColor colour, int x, int w) {
    button->LoadIcon(icon, true, 24, 24);
    button->SetText(text);
    button->SetTextColor(textColour);
    button->SetHorizontalAlignment(align);
    button->SetVerticalAlignment(Qt::AlignVCenter);
    button->SetButtonColor(colour);
    button->SetShadingCoefficient(10.0);
    SetRoundButtonRadii(button, 14, 8);
    button->SetContentMargins(-5, 0);
    button->setGeometry(x, 385, w, 40);
}

} // namespace

void SetRoundButtonRadii(RoundButton* button, int outerRadius, int innerRadius) {
    // The inner radius may never exceed the outer one, so lower it before moving the outer.
    button->SetInnerRadius(0, false);
    button->SetOuterRadius(outerRadius, false);
    button->SetInnerRadius(innerRadius);
}

void SetupHelpButton(RoundButton* button, const QIcon& icon) {
    setupCommonButton(button, icon, QStringLiteral("&Súgó"), Qt::black, Qt::AlignRight,
                      QColor(184, 181, 118), 5, 100);
}

void SetupPrintButton(RoundButton* button, const QIcon& icon) {
    setupCommonButton(button, icon, QStringLiteral("&Nyomtat"), Qt::black, Qt::AlignLeft,
                      QColor(120, 140, 210), 490, 120);
}

void SetupRefreshButton(RoundButton* button, const QIcon& icon) {
    setupCommonButton(button, icon, QStringLiteral("&Frissít"), Qt::white, Qt::AlignLeft,
                      QColor(0, 128, 0), 490, 120);
}

void SetupActionButton(RoundButton* button, int x, int y, int w, int h, const QString& text,
                       QColor textColour, QColor buttonColour, int outerRadius, int innerRadius) {
    button->SetText(text);
    button->SetTextColor(textColour);
    button->SetHorizontalAlignment(Qt::AlignHCenter);
    button->SetVerticalAlignment(Qt::AlignVCenter);
    button->SetButtonColor(buttonColour);
    SetRoundButtonRadii(button, outerRadius, innerRadius);
    button->SetShadingCoefficient(10.0);
    button->setGeometry(x, y, w, h);
}

void SetGroupCaptionFont(CzCExtGroup* group, int flag) {
    group->SetCaptionFontFace(QStringLiteral("System"));
    group->SetCaptionFontColor(QColor(0, 0, 128));
    group->SetCaptionFontSize(18);
    group->SetCaptionFontStyle(flag);
}
