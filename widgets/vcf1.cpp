// CVCF1: cells, selection, row and column edits, formats and printing of the spreadsheet.
#include "vcf1.h"

#include <algorithm>
#include <cmath>

#include <QHeaderView>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace {
constexpr int kUnlockedRole = Qt::UserRole + 1; // true: the cell stays editable under protection
constexpr int kTwipsPerPixel = 15;              // 1440 twips an inch, 96 pixels an inch
} // namespace

QString CVCF1::s_defaultPrintFile;

CVCF1::CVCF1(QWidget* parent) : QTableWidget(parent) {
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setWordWrap(false);
    verticalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setDefaultSectionSize(19);
    setItemPrototype(new QTableWidgetItem);
}

QTableWidgetItem* CVCF1::cell(long row, long col) {
    QTableWidgetItem* it = item(int(row - 1), int(col - 1));
    if (!it) {
        it = itemPrototype()->clone();
        setItem(int(row - 1), int(col - 1), it);
    }
    return it;
}

bool CVCF1::SetTextRC(long row, long col, const QString& text) {
    if (row < 1 || row > kMaxRows || col < 1 || col > kMaxCols) return false;
    if (row > rowCount()) setRowCount(int(row));
    if (col > columnCount()) setColumnCount(int(col));
    cell(row, col)->setText(text);
    return true;
}

QString CVCF1::GetTextRC(long row, long col) const {
    const QTableWidgetItem* it = item(int(row - 1), int(col - 1));
    return row >= 1 && col >= 1 && it ? it->text() : QString();
}

bool CVCF1::SetTextColorRC(long row, long col, const QColor& color) {
    if (row < 1 || row > rowCount() || col < 1 || col > columnCount()) return false;
    cell(row, col)->setForeground(color);
    return true;
}

QColor CVCF1::GetTextColorRC(long row, long col) const {
    const QTableWidgetItem* it = item(int(row - 1), int(col - 1));
    const QTableWidgetItem* src = it ? it : itemPrototype();
    const QBrush b = src->foreground();
    return b.style() == Qt::NoBrush ? palette().color(QPalette::Text) : b.color();
}

QFont CVCF1::GetFontRC(long row, long col) const {
    const QTableWidgetItem* it = item(int(row - 1), int(col - 1));
    return (it ? it : itemPrototype())->font();
}

bool CVCF1::SetMaxRow(long rows) {
    if (rows < 0 || rows > kMaxRows) return false;
    setRowCount(int(rows));
    return true;
}

long CVCF1::GetMaxRow() const {
    return rowCount();
}

bool CVCF1::SetMaxCol(long cols) {
    if (cols < 0 || cols > kMaxCols) return false;
    setColumnCount(int(cols));
    return true;
}

long CVCF1::GetMaxCol() const {
    return columnCount();
}

bool CVCF1::SetSelection(long row1, long col1, long row2, long col2) {
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);
    if (row1 < 1 || col1 < 1 || row2 > rowCount() || col2 > columnCount()) return false;
    clearSelection();
    setCurrentCell(int(row1 - 1), int(col1 - 1), QItemSelectionModel::NoUpdate);
    setRangeSelected(
        QTableWidgetSelectionRange(int(row1 - 1), int(col1 - 1), int(row2 - 1), int(col2 - 1)),
        true);
    return true;
}

QList<QTableWidgetSelectionRange> CVCF1::selectionOrCurrent() const {
    QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty() && rowCount() > 0 && columnCount() > 0) {
        const int r = std::max(0, currentRow()), c = std::max(0, currentColumn());
        ranges << QTableWidgetSelectionRange(r, c, r, c);
    }
    return ranges;
}

// A bound of the selection (or of the current cell), counted from 1; 0 when there is none.
static long selectionBound(const QList<QTableWidgetSelectionRange>& ranges, bool rows, bool last) {
    if (ranges.isEmpty()) return 0;
    auto edge = [&](const QTableWidgetSelectionRange& r) {
        return rows ? (last ? r.bottomRow() : r.topRow())
                    : (last ? r.rightColumn() : r.leftColumn());
    };
    int bound = edge(ranges.first());
    for (const auto& r : ranges)
        bound = last ? std::max(bound, edge(r)) : std::min(bound, edge(r));
    return bound + 1;
}

long CVCF1::GetSelStartRow() const {
    return selectionBound(selectionOrCurrent(), true, false);
}

long CVCF1::GetSelEndRow() const {
    return selectionBound(selectionOrCurrent(), true, true);
}

long CVCF1::GetSelStartCol() const {
    return selectionBound(selectionOrCurrent(), false, false);
}

long CVCF1::GetSelEndCol() const {
    return selectionBound(selectionOrCurrent(), false, true);
}

bool CVCF1::InsertRange(long row1, long col1, long row2, long col2, int mode) {
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);
    const bool rows = mode == ShiftVertical || mode == ShiftRows;
    const bool cols = mode == ShiftHorizontal || mode == ShiftCols;
    if ((!rows && !cols) || row1 < 1 || col1 < 1) return false;
    if (rows) {
        // Rows may be inserted at the end of the sheet (row1 = rows + 1).
        if (row1 > rowCount() + 1 || rowCount() + (row2 - row1 + 1) > kMaxRows) return false;
        for (long r = row1; r <= row2; ++r)
            insertRow(int(r - 1));
        return true;
    }
    if (col1 > columnCount() + 1 || columnCount() + (col2 - col1 + 1) > kMaxCols) return false;
    for (long c = col1; c <= col2; ++c)
        insertColumn(int(c - 1));
    return true;
}

bool CVCF1::DeleteRange(long row1, long col1, long row2, long col2, int mode) {
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);
    const bool rows = mode == ShiftVertical || mode == ShiftRows;
    const bool cols = mode == ShiftHorizontal || mode == ShiftCols;
    if ((!rows && !cols) || row1 < 1 || col1 < 1) return false;
    if (rows) {
        if (row2 > rowCount()) return false;
        for (long r = row2; r >= row1; --r)
            removeRow(int(r - 1));
        return true;
    }
    if (col2 > columnCount()) return false;
    for (long c = col2; c >= col1; --c)
        removeColumn(int(c - 1));
    return true;
}

void CVCF1::ClearSheet() {
    clearContents();
    setItemPrototype(new QTableWidgetItem);
}

void CVCF1::SetRepaint(bool on) {
    setUpdatesEnabled(on);
    if (on) viewport()->update();
}

void CVCF1::Refresh() {
    viewport()->update();
}

QColor CVCF1::ColorFromColorRef(quint32 colorRef) {
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

void CVCF1::SetSelectionFont(const QString& face, int size, bool bold, bool italic, bool underline,
                             bool strikeout, const QColor& color) {
    QFont f(face);
    if (size > 0) f.setPointSize(size);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    f.setStrikeOut(strikeout);
    for (const auto& r : selectionOrCurrent()) {
        for (int row = r.topRow(); row <= r.bottomRow(); ++row)
            for (int col = r.leftColumn(); col <= r.rightColumn(); ++col) {
                QTableWidgetItem* it = cell(row + 1, col + 1);
                it->setFont(f);
                it->setForeground(color);
            }
        if (r.rowCount() == rowCount() && r.columnCount() == columnCount()) {
            auto* proto = itemPrototype()->clone();
            proto->setFont(f);
            proto->setForeground(color);
            setItemPrototype(proto);
        }
    }
}

void CVCF1::SetSelectionAlignment(HAlign h, bool wordWrap, VAlign v) {
    Qt::Alignment a = h == AlignCenter  ? Qt::AlignHCenter
                      : h == AlignRight ? Qt::AlignRight
                                        : Qt::AlignLeft;
    a |= v == AlignTop ? Qt::AlignTop : v == AlignBottom ? Qt::AlignBottom : Qt::AlignVCenter;
    setWordWrap(wordWrap);
    for (const auto& r : selectionOrCurrent())
        for (int row = r.topRow(); row <= r.bottomRow(); ++row)
            for (int col = r.leftColumn(); col <= r.rightColumn(); ++col)
                cell(row + 1, col + 1)->setTextAlignment(a);
}

void CVCF1::SetSelectionProtection(bool locked, bool hidden) {
    Q_UNUSED(hidden); // hidden hides formulas, and the sheets hold none
    for (const auto& r : selectionOrCurrent())
        for (int row = r.topRow(); row <= r.bottomRow(); ++row)
            for (int col = r.leftColumn(); col <= r.rightColumn(); ++col)
                cell(row + 1, col + 1)->setData(kUnlockedRole, !locked);
}

void CVCF1::SetEnableProtection(bool on) {
    m_protection = on;
}

bool CVCF1::IsCellEditable(long row, long col) const {
    if (row < 1 || row > rowCount() || col < 1 || col > columnCount()) return false;
    if (!m_protection) return true;
    const QTableWidgetItem* it = item(int(row - 1), int(col - 1));
    return it && it->data(kUnlockedRole).toBool();
}

bool CVCF1::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (index.isValid() && !IsCellEditable(index.row() + 1, index.column() + 1)) return false;
    return QTableWidget::edit(index, trigger, event);
}

bool CVCF1::SetColWidthTwips(long col, int twips) {
    if (col < 1 || col > columnCount() || twips < 0) return false;
    horizontalHeader()->resizeSection(int(col - 1),
                                      int(std::lround(twips / double(kTwipsPerPixel))));
    return true;
}

int CVCF1::GetColWidthTwips(long col) const {
    if (col < 1 || col > columnCount()) return -1;
    return horizontalHeader()->sectionSize(int(col - 1)) * kTwipsPerPixel;
}

bool CVCF1::SetRowHeightTwips(long row, int twips) {
    if (twips < 0 || (row != -1 && (row < 1 || row > rowCount()))) return false;
    const int px = int(std::lround(twips / double(kTwipsPerPixel)));
    if (row == -1)
        verticalHeader()->setDefaultSectionSize(px);
    else
        verticalHeader()->resizeSection(int(row - 1), px);
    return true;
}

int CVCF1::GetRowHeightTwips(long row) const {
    if (row < 1 || row > rowCount()) return -1;
    return verticalHeader()->sectionSize(int(row - 1)) * kTwipsPerPixel;
}

void CVCF1::SetupEditorSheet(int cols, long rows, const QList<int>& colWidthsTwips,
                             int rowHeightTwips, const QFont& font, const QColor& color) {
    SetRepaint(false);
    ClearSheet();
    SetMaxCol(cols);
    SetMaxRow(rows);
    for (int i = 0; i < colWidthsTwips.size(); ++i)
        SetColWidthTwips(i + 1, colWidthsTwips[i]);
    SetRowHeightTwips(-1, rowHeightTwips);
    if (rows > 0 && cols > 0) {
        SetSelection(1, 1, rows, cols);
        SetSelectionFont(font.family(), font.pointSize(), font.bold(), font.italic(),
                         font.underline(), font.strikeOut(), color);
        SetSelectionAlignment(AlignLeft, false, AlignVCenter);
        SetSelectionProtection(true, true);
        SetEnableProtection(true);
        SetSelection(1, 1, 1, 1);
    }
    SetRepaint(true);
}

// ---- printing ----

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

    const double scale = printer->resolution() / 96.0 * m_printScale / 100.0;
    const QRectF page(QPointF(0, 0),
                      printer->pageLayout().paintRectPixels(printer->resolution()).size());
    QFont bandFont = font();
    bandFont.setPointSizeF(9);
    p.setFont(bandFont);
    const double band = QFontMetricsF(bandFont, printer).height() * 1.6;
    const QRectF body = page.adjusted(0, band, 0, -band);

    // Page breaks: as many whole rows as fit the body of each page.
    QList<int> firstRows;
    double y = 0;
    for (int r = area.topRow(); r <= area.bottomRow() && r < rowCount(); ++r) {
        const double h = rowHeight(r) * scale;
        if (firstRows.isEmpty() || (y + h > body.height() && y > 0)) {
            firstRows << r;
            y = 0;
        }
        y += h;
    }
    if (firstRows.isEmpty()) firstRows << area.topRow();
    const int pages = int(firstRows.size());
    const QDateTime now = QDateTime::currentDateTime();

    for (int pg = 0; pg < pages; ++pg) {
        if (pg > 0) printer->newPage();
        p.setFont(bandFont);
        p.setPen(Qt::black);
        auto drawBand = [&](const QString& codes, const QRectF& rect) {
            if (codes.isEmpty()) return;
            const HeaderParts hp = ExpandHeaderCodes(codes, pg + 1, pages, now);
            p.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, hp.left);
            p.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter, hp.center);
            p.drawText(rect, Qt::AlignRight | Qt::AlignVCenter, hp.right);
        };
        drawBand(m_header, QRectF(page.left(), page.top(), page.width(), band));
        drawBand(m_footer, QRectF(page.left(), page.bottom() - band, page.width(), band));

        const int last = pg + 1 < pages ? firstRows[pg + 1] - 1 : area.bottomRow();
        double top = body.top();
        for (int r = firstRows[pg]; r <= last && r < rowCount(); ++r) {
            const double h = rowHeight(r) * scale;
            double left = body.left();
            for (int c = area.leftColumn(); c <= area.rightColumn() && c < columnCount(); ++c) {
                const double w = columnWidth(c) * scale;
                const QRectF rect(left, top, w, h);
                if (m_printGrid) {
                    p.setPen(Qt::gray);
                    p.drawRect(rect);
                }
                if (const QTableWidgetItem* it = item(r, c)) {
                    p.setFont(it->font());
                    const QBrush fg = it->foreground();
                    p.setPen(fg.style() == Qt::NoBrush ? QColor(Qt::black) : fg.color());
                    const int align = it->textAlignment() ? it->textAlignment()
                                                          : int(Qt::AlignLeft | Qt::AlignVCenter);
                    p.drawText(rect.adjusted(2 * scale, 0, -2 * scale, 0), align, it->text());
                }
                left += w;
                if (left > body.right()) break; // one page wide
            }
            top += h;
        }
    }
    return p.end();
}
