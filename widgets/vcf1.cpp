// CVCF1: cells, selection, row and column edits and formats of the spreadsheet (printing is in
// vcf1_print.cpp).
#include "widgets/vcf1.h"

#include <algorithm>

#include <QHeaderView>

namespace {
constexpr int kUnlockedRole = Qt::UserRole + 1; // true: the cell stays editable under protection
constexpr int kTwipsPerPixel = 15;              // 1440 twips an inch, 96 pixels an inch
} // namespace

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
    // Tab leaves the sheet for the page's next control, as in a form; the arrows move between
    // cells.
    setTabKeyNavigation(false);
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
