// The table page: the URL or site lists of a statistics result, one fixed-pitch line each, with a
// hidden spreadsheet copy for printing.
#include <algorithm>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidgetItem>

#include "app/commands.h"
#include "app/sheet_printing.h"
#include "pages/stats/stats_pages.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "widgets/cp1250.h"
#include "widgets/gridctrl.h"
#include "widgets/messagebox.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"
#include "widgets/waitcursor.h"

namespace {

constexpr int kStartRows = 15;
constexpr int kMaxRows = STAT_TABLE_LINES_MAX; // the grid's row limit on this page
constexpr int ID_PRINT_COPY = 1002;

// Draws a line of the first column across the empty columns beside it, as a listing reads,
// instead of cutting it at the 150-pixel column: the empty columns paint nothing over it, and the
// delegate draws the grid's rules itself, leaving out the column rules a line runs across.
class LineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.column() == 0 || !text.isEmpty()) paintLine(painter, option, index, text);
        paintRules(painter, option, index);
    }

  private:
    void paintLine(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                   const QString& text) const {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        // Background, selection and focus of the cell, without its text.
        const QWidget* view = option.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, view);
        if (text.isEmpty()) return;
        painter->save();
        painter->setFont(plain.font);
        painter->setPen(plain.palette.color(QPalette::Text));
        QRect line = option.rect.adjusted(kTextIndent, 0, 0, 0);
        line.setWidth(qMax(line.width(), painter->device()->width() - line.left()));
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }

    // The cell's bottom rule, and its right rule unless its row's line runs across it.
    void paintRules(QPainter* painter, const QStyleOptionViewItem& option,
                    const QModelIndex& index) const {
        const auto* view = qobject_cast<const QTableView*>(option.widget);
        int lineEnd = 0;
        if (view) {
            const QModelIndex first = index.sibling(index.row(), 0);
            const QString line = first.data(Qt::DisplayRole).toString();
            if (!line.isEmpty())
                lineEnd = view->visualRect(first).left() + kTextIndent +
                          QFontMetrics(option.font).horizontalAdvance(line);
        }
        const QStyle* style = view ? view->style() : QApplication::style();
        const QColor rule = QColor::fromRgba(
            static_cast<QRgb>(style->styleHint(QStyle::SH_Table_GridLineColor, &option, view)));
        painter->save();
        painter->setPen(rule);
        const QRect cell = option.rect;
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        if (lineEnd <= cell.right()) painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->restore();
    }

    static constexpr int kTextIndent = 2;
};

} // namespace

TablePage::TablePage(const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_results(StatResults::of(parent ? parent : this)) {
    m_group = addGroup(QStringLiteral("Táblázat:"), QRect(5, 10, 600, 355));
    // Fixed-pitch lines in the first of 20 columns, no headings, read-only, 15 rows to start.
    m_grid = new GridCtrl(this);
    m_grid->setObjectName(QStringLiteral("tableGrid"));
    m_grid->setGeometry(10, 40, 588, 318);
    m_grid->SetNumberCols(20);
    m_grid->SetColWidth(0, 150);
    m_grid->SetSH_Width(0);
    m_grid->SetTH_Height(0);
    m_grid->SetNumberRows(kStartRows);
    m_grid->SetDefRowHeight(16);
    QFont fixed(QStringLiteral("Fixedsys"));
    fixed.setPixelSize(14);
    fixed.setStyleHint(QFont::TypeWriter);
    m_grid->SetDefFont(fixed);
    m_grid->setFont(fixed);
    GridCell readOnly;
    readOnly.readOnly = true;
    m_grid->SetGridDefault(readOnly);
    m_grid->setItemDelegate(new LineDelegate(m_grid));
    m_grid->setShowGrid(false); // the delegate draws the rules
    // The print copy: line n in row n, column 1.
    m_sheet = new CVCF1(this);
    m_sheet->setObjectName(QStringLiteral("sheet%1").arg(ID_PRINT_COPY));
    m_sheet->hide();
    m_cutNote = new QLabel(this);
    m_cutNote->setObjectName(QStringLiteral("cutNote"));
    m_cutNote->setGeometry(12, 24, 586, 16);
    m_cutNote->setStyleSheet(QStringLiteral("color: #a00000"));
    m_cutNote->hide();
    addFrameButtons();
    connect(this, &FramePage::printRequested, this, [this] { print(); });
}

void TablePage::command(int id, quintptr param) {
    FramePage::command(id, param);
    if (id != CMD_PAGE_SHOWN) return;
    const int kind = m_results->last().query.kind;
    if (m_results->serial() != m_shown && (kind == STAT_KIND_URL || kind == STAT_KIND_SITE)) {
        m_shown = m_results->serial();
        showResult(m_results->last());
    } else if (m_lineCount > kStartRows) {
        m_grid->scrollToBottom(); // as a result is shown: its end in view
    } else {
        m_grid->scrollToTop();
    }
    m_grid->setFocus();
}

void TablePage::showResult(const StatResult& result) {
    WaitCursor wait;
    // The lines are handed to the grid and the print copy in one go, with their repaints held
    // back: the result looks as if shown line by line (grown to one row a line, scrolled to the
    // bottom) without repainting per line.
    QStringList lines;
    const size_t count = std::min(result.lines.size(), static_cast<size_t>(kMaxRows));
    lines.reserve(static_cast<qsizetype>(count));
    for (size_t i = 0; i < count; ++i)
        lines << fromCp1250(result.lines[i].c_str());

    m_grid->setUpdatesEnabled(false);
    m_sheet->SetRepaint(false);
    m_grid->SetNumberRows(0); // every cell of the first column empty
    m_grid->SetNumberRows(qMax<qsizetype>(kStartRows, lines.size()));
    m_grid->scrollToTop();
    m_sheet->ClearSheet();
    // On paper too the columns of the lines line up only in a fixed-pitch font.
    // (in points: a size in pixels would shrink to the printer's far smaller pixels).
    QFont paperFont = m_grid->font();
    paperFont.setPointSize(9);
    auto* printed = new QTableWidgetItem;
    printed->setFont(paperFont);
    m_sheet->setItemPrototype(printed);
    // The print range runs to column 9, so the copy has that many.
    m_sheet->SetMaxRow(lines.size());
    m_sheet->SetMaxCol(9);
    m_lineCount = 0;
    for (const QString& line : lines) {
        m_grid->QuickSetText(0, m_lineCount, line);
        m_sheet->SetTextRC(m_lineCount + 1, 1, line);
        ++m_lineCount;
    }
    if (m_lineCount > kStartRows) m_grid->scrollToBottom();
    m_sheet->SetRepaint(true);
    m_grid->setUpdatesEnabled(true);
    m_grid->RedrawAll();
    // The tool's own line on what it left out says more than the page's count.
    const bool cut = result.truncated || result.lines.size() > static_cast<size_t>(kMaxRows);
    if (!result.omitted.empty())
        m_cutNote->setText(fromCp1250(result.omitted.c_str()));
    else if (cut)
        m_cutNote->setText(
            QStringLiteral("A lista csonka: csak az első %1 sor látható.").arg(kMaxRows));
    else
        m_cutNote->clear();
    m_cutNote->setVisible(cut || !result.omitted.empty());
    if (!result.read)
        MessageBox::plain(this, QStringLiteral("Error!!!"),
                          QStringLiteral("Adatfile beolvasasi hiba!"));
}

int TablePage::print(QPrinter* printer) {
    return PrintSheet(m_sheet, 1, 1, m_lineCount, 9, "Táblázat", "", printer);
}
