// CVCF1's printing: the print settings, header and footer codes, and the print of the print area
// (page breaks, header and footer bands, the cells).
#include <algorithm>
#include <cmath>

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "widgets/vcf1.h"

QString CVCF1::s_defaultPrintFile;

namespace {

// Where things go on each printed page, in printer pixels.
struct PageLayout {
    double scale;   // sheet pixels to printer pixels, the print scale included
    QRectF page;    // the paintable page
    QFont bandFont; // header and footer
    double band;    // height of the header and of the footer band
    QRectF body;    // between the bands
};

PageLayout layOutPage(QPrinter* printer, const QFont& sheetFont, int printScale) {
    PageLayout layout;
    layout.scale = printer->resolution() / 96.0 * printScale / 100.0;
    layout.page =
        QRectF(QPointF(0, 0), printer->pageLayout().paintRectPixels(printer->resolution()).size());
    layout.bandFont = sheetFont;
    layout.bandFont.setPointSizeF(9);
    layout.band = QFontMetricsF(layout.bandFont, printer).height() * 1.6;
    layout.body = layout.page.adjusted(0, layout.band, 0, -layout.band);
    return layout;
}

// Page breaks: the first row of each page, as many whole rows as fit the body of a page.
QList<int> pageBreaks(const CVCF1& sheet, const QTableWidgetSelectionRange& area,
                      const PageLayout& layout) {
    QList<int> firstRows;
    double y = 0;
    for (int r = area.topRow(); r <= area.bottomRow() && r < sheet.rowCount(); ++r) {
        const double h = sheet.rowHeight(r) * layout.scale;
        if (firstRows.isEmpty() || (y + h > layout.body.height() && y > 0)) {
            firstRows << r;
            y = 0;
        }
        y += h;
    }
    if (firstRows.isEmpty()) firstRows << area.topRow();
    return firstRows;
}

// A header or footer band: its left, centre and right parts for this page.
void drawBand(QPainter& p, const QString& codes, const QRectF& rect, int page, int pages,
              const QDateTime& now) {
    if (codes.isEmpty()) return;
    const CVCF1::HeaderParts parts = CVCF1::ExpandHeaderCodes(codes, page, pages, now);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, parts.left);
    p.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter, parts.center);
    p.drawText(rect, Qt::AlignRight | Qt::AlignVCenter, parts.right);
}

// The cells of rows first..last of the area, one page wide, from the top of the body.
void drawRows(QPainter& p, const CVCF1& sheet, const QTableWidgetSelectionRange& area, int first,
              int last, const PageLayout& layout, bool gridLines) {
    const double scale = layout.scale;
    double top = layout.body.top();
    for (int r = first; r <= last && r < sheet.rowCount(); ++r) {
        const double h = sheet.rowHeight(r) * scale;
        double left = layout.body.left();
        for (int c = area.leftColumn(); c <= area.rightColumn() && c < sheet.columnCount(); ++c) {
            const double w = sheet.columnWidth(c) * scale;
            const QRectF rect(left, top, w, h);
            if (gridLines) {
                p.setPen(Qt::gray);
                p.drawRect(rect);
            }
            if (const QTableWidgetItem* it = sheet.item(r, c)) {
                p.setFont(it->font());
                const QBrush fg = it->foreground();
                p.setPen(fg.style() == Qt::NoBrush ? QColor(Qt::black) : fg.color());
                const int align = it->textAlignment() ? it->textAlignment()
                                                      : int(Qt::AlignLeft | Qt::AlignVCenter);
                // Left-aligned text runs on over the empty cells to its right, as on the
                // screen, up to the edge of the page.
                double room = w;
                if (!(align & (Qt::AlignRight | Qt::AlignHCenter))) {
                    for (int next = c + 1; next <= area.rightColumn() && next < sheet.columnCount();
                         ++next) {
                        const QTableWidgetItem* other = sheet.item(r, next);
                        if (other && !other->text().isEmpty()) break;
                        room += sheet.columnWidth(next) * scale;
                    }
                    room = std::min(room, layout.body.right() - left);
                }
                const QRectF textRect(left, top, std::max(room, w), h);
                p.drawText(textRect.adjusted(2 * scale, 0, -2 * scale, 0), align, it->text());
            }
            left += w;
            if (left > layout.body.right()) break; // one page wide
        }
        top += h;
    }
}

} // namespace

void CVCF1::SetPrintHeader(const QString& codes) {
    m_header = codes;
}
void CVCF1::SetPrintFooter(const QString& codes) {
    m_footer = codes;
}

void CVCF1::SetPrintAreaFromSelection() {
    const auto ranges = selectionOrCurrent();
    m_hasPrintArea = !ranges.isEmpty();
    if (m_hasPrintArea)
        m_printArea =
            QTableWidgetSelectionRange(int(GetSelStartRow() - 1), int(GetSelStartCol() - 1),
                                       int(GetSelEndRow() - 1), int(GetSelEndCol() - 1));
}

void CVCF1::SetPrintMargins(double left, double top, double right, double bottom) {
    const double in[4] = {left, top, right, bottom};
    for (int i = 0; i < 4; ++i)
        if (std::isfinite(in[i]) && in[i] >= 0 && in[i] <= 5) m_margins[i] = in[i];
}

void CVCF1::SetPrintGridLines(bool on) {
    m_printGrid = on;
}
void CVCF1::SetPrintHeadings(bool on) {
    m_printHeadings = on;
}

bool CVCF1::SetPrintScale(int percent, bool fitToPage, int pagesWide, int pagesTall) {
    Q_UNUSED(fitToPage);
    Q_UNUSED(pagesWide);
    Q_UNUSED(pagesTall);
    if (percent < 10 || percent > 400) return false;
    m_printScale = percent;
    return true;
}

void CVCF1::SetPrintToFile(const QString& pdfPath) {
    m_printFile = pdfPath;
}
void CVCF1::SetDefaultPrintToFile(const QString& pdfPath) {
    s_defaultPrintFile = pdfPath;
}

CVCF1::HeaderParts CVCF1::ExpandHeaderCodes(const QString& codes, int page, int pages,
                                            const QDateTime& now) {
    HeaderParts parts;
    QString* part = &parts.center; // text before any section code is centred
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const QChar ch = codes[i];
        if (ch != QLatin1Char('&') || i + 1 >= codes.size()) {
            part->append(ch);
            continue;
        }
        const QChar code = codes[++i].toUpper();
        switch (code.unicode()) {
        case 'L':
            part = &parts.left;
            break;
        case 'C':
            part = &parts.center;
            break;
        case 'R':
            part = &parts.right;
            break;
        case 'D':
            part->append(now.date().toString(QStringLiteral("yyyy.MM.dd")));
            break;
        case 'T':
            part->append(now.time().toString(QStringLiteral("HH:mm")));
            break;
        case 'P':
            part->append(QString::number(page));
            break;
        case 'N':
            part->append(QString::number(pages));
            break;
        case '&':
            part->append(QLatin1Char('&'));
            break;
        default:
            break; // font codes and others: nothing printed
        }
    }
    return parts;
}

bool CVCF1::FilePrint(bool showDialog) {
    const QString file = !m_printFile.isEmpty() ? m_printFile : s_defaultPrintFile;
    QPrinter printer(QPrinter::HighResolution);
    if (!file.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        return PrintTo(&printer);
    }
    if (showDialog) {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) return false;
    }
    return PrintTo(&printer);
}

bool CVCF1::PrintTo(QPrinter* printer) {
    if (!printer) return false;
    const QTableWidgetSelectionRange area =
        m_hasPrintArea ? m_printArea
                       : QTableWidgetSelectionRange(0, 0, rowCount() - 1, columnCount() - 1);
    printer->setPageMargins(QMarginsF(m_margins[0], m_margins[1], m_margins[2], m_margins[3]),
                            QPageLayout::Inch);
    QPainter p;
    if (!p.begin(printer)) return false;

    const PageLayout layout = layOutPage(printer, font(), m_printScale);
    const QList<int> firstRows = pageBreaks(*this, area, layout);
    const int pages = int(firstRows.size());
    const QDateTime now = QDateTime::currentDateTime();
    const QRectF& page = layout.page;
    for (int pg = 0; pg < pages; ++pg) {
        if (pg > 0) printer->newPage();
        p.setFont(layout.bandFont);
        p.setPen(Qt::black);
        drawBand(p, m_header, QRectF(page.left(), page.top(), page.width(), layout.band), pg + 1,
                 pages, now);
        drawBand(p, m_footer,
                 QRectF(page.left(), page.bottom() - layout.band, page.width(), layout.band),
                 pg + 1, pages, now);
        const int last = pg + 1 < pages ? firstRows[pg + 1] - 1 : area.bottomRow();
        drawRows(p, *this, area, firstRows[pg], last, layout, m_printGrid);
    }
    return p.end();
}
