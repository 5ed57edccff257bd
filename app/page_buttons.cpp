// The page frame's buttons, group captions and the printing of a spreadsheet range.
#include "buttons.h"
#include "page_frame.h"
#include "panels.h"
#include "vcf1.h"

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

namespace {

// A title or footer is plain text: its ampersands must not be read as codes.
QString plainForCodes(const char* text) {
    return QString::fromUtf8(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

int PrintSheet(CVCF1* sheet, int row1, int col1, int row2, int col2, const char* title,
               const char* footer, QPrinter* printer) {
    if (title)
        sheet->SetPrintHeader(QStringLiteral("&L&D &T &C%1")
                                  .arg(QStringLiteral(" %1&R&P / &N").arg(plainForCodes(title))));
    if (footer) sheet->SetPrintFooter(QStringLiteral("&L&D &T &C%1").arg(plainForCodes(footer)));
    sheet->SetSelection(row1, col1, row2, col2);
    sheet->SetPrintAreaFromSelection();
    sheet->SetPrintMargins(1.0, 1.0, 1.0, 1.0);
    sheet->SetPrintGridLines(false);
    sheet->SetPrintHeadings(false);
    sheet->SetPrintScale(100, false, 1, 1);
    bool printed = printer ? sheet->PrintTo(printer) : sheet->FilePrint(true);
    return printed ? 0 : -1;
}
