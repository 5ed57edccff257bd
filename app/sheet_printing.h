// Printing a spreadsheet range with the pages' common header and footer.
#pragma once

#include <QDateTime>
#include <QString>

class CVCF1;
class QPrinter;

// The three sections of a printed header or footer after its codes are rendered.
struct PrintHeaderParts {
    QString left, centre, right;
};
// Renders a header or footer text: &L, &C, &R start the left, centre and right sections; &D the
// date, &T the time, &P the page number, &N the page count, && an ampersand.
PrintHeaderParts RenderPrintCodes(const QString& codes, int page, int pageCount,
                                  const QDateTime& now);

// Prints the range (row1, col1)-(row2, col2) of a sheet with the common header (date and time,
// title, "page / pages") and footer (date and time, footer text); an absent title or footer
// leaves the sheet's own in place. With no printer given the print dialog is shown. Texts are
// UTF-8. 0 printed; -1 cancelled or failed.
int PrintSheet(CVCF1* sheet, int row1, int col1, int row2, int col2, const char* title,
               const char* footer, QPrinter* printer = nullptr);
