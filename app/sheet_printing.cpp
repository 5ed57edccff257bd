// Printing a spreadsheet range: the header and footer codes and the print settings.
#include "app/sheet_printing.h"

#include "widgets/vcf1.h"

PrintHeaderParts RenderPrintCodes(const QString& codes, int page, int pageCount,
                                  const QDateTime& now) {
    CVCF1::HeaderParts parts = CVCF1::ExpandHeaderCodes(codes, page, pageCount, now);
    return {parts.left, parts.center, parts.right};
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
