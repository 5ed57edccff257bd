// GridCtrl: the view of the console's scrolling grid: sizes and headings, cells through the model,
// scrolling, the hint window and the search.
#include "widgets/gridctrl.h"

#include <cstdio>

#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>

#include "widgets/messagebox.h"

// ---- delegate: drop-list cells edit with a combo box ----

namespace {

class GridDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        const QStringList choices = index.data(Qt::UserRole).toStringList();
        if (index.data(Qt::UserRole + 1).toBool()) {
            auto* box = new QComboBox(parent);
            box->addItems(choices);
            return box;
        }
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentText(index.data(Qt::EditRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            model->setData(index, box->currentText(), Qt::EditRole);
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};

} // namespace

// ---- GridCtrl ----

GridCtrl::GridCtrl(QWidget* parent) : QTableView(parent), m_model(new GridModel(this)) {
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setWordWrap(false);
    verticalHeader()->setDefaultSectionSize(20);
    verticalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setDefaultSectionSize(75);
    applyHeadingSizes();

    m_hint = new QLabel(this, Qt::ToolTip);
    m_hint->setObjectName(QStringLiteral("HintWnd"));
    m_hint->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_hint->setMargin(2);
    m_hint->setAutoFillBackground(true);
    QPalette pal = m_hint->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 225));
    pal.setColor(QPalette::WindowText, Qt::black);
    m_hint->setPalette(pal);
    m_hint->hide();
    m_hintTimer = new QTimer(this);
    m_hintTimer->setSingleShot(true);
    m_hintTimer->setInterval(500);
    connect(m_hintTimer, &QTimer::timeout, this, [this] { ShowHintAt(m_hintPos); });
    viewport()->setMouseTracking(true);

    auto* find =
        new QShortcut(QKeySequence::Find, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, [this] { FindDialog(); });

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& cur) {
                if (cur.isValid()) emit currentCellChanged(cur.column(), cur.row());
            });
    connect(m_model, &GridModel::cellEdited, this, &GridCtrl::cellEdited);
}

GridCtrl::~GridCtrl() = default;

bool GridCtrl::AttachGrid(QWidget* placeholder) {
    if (!placeholder || placeholder == this) return false;
    QWidget* parent = placeholder->parentWidget();
    setParent(parent);
    setGeometry(placeholder->geometry());
    if (!placeholder->objectName().isEmpty()) setObjectName(placeholder->objectName());
    if (parent && parent->layout()) {
        if (QLayoutItem* old = parent->layout()->replaceWidget(placeholder, this)) delete old;
    }
    setVisible(!placeholder->isHidden());
    placeholder->hide();
    OnSetup();
    return true;
}

bool GridCtrl::AttachGrid(QWidget* dialog, const QString& placeholderName) {
    if (!dialog) return false;
    return AttachGrid(dialog->findChild<QWidget*>(placeholderName));
}

bool GridCtrl::SetNumberCols(int cols) {
    if (cols < 0 || cols > kMaxCols) return false;
    m_model->resizeCols(cols);
    return true;
}

int GridCtrl::GetNumberCols() const {
    return m_model->m_cols;
}

bool GridCtrl::SetNumberRows(long rows) {
    if (rows < 0 || rows > kMaxRows) return false;
    m_model->resizeRows(rows);
    applyUniformMode();
    return true;
}

long GridCtrl::GetNumberRows() const {
    return long(m_model->m_rows.size());
}

void GridCtrl::applyUniformMode() {
    QHeaderView* vh = verticalHeader();
    const bool uniform = IsUniformRowHeight();
    if (uniform && vh->sectionResizeMode(0) != QHeaderView::Fixed) {
        vh->setSectionResizeMode(QHeaderView::Fixed);
        vh->setDefaultSectionSize(vh->defaultSectionSize());
    } else if (!uniform && GetNumberRows() > 0 && vh->sectionResizeMode(0) == QHeaderView::Fixed) {
        vh->setSectionResizeMode(QHeaderView::Interactive);
    }
}

bool GridCtrl::IsUniformRowHeight() const {
    return GetNumberRows() > kUniformRowsAbove;
}

bool GridCtrl::SetColWidth(int col, int width) {
    if (col < 0 || col >= GetNumberCols() || width < 0 || width > 32767) return false;
    horizontalHeader()->resizeSection(col, width);
    return true;
}

int GridCtrl::GetColWidth(int col) const {
    if (col < 0 || col >= GetNumberCols()) return -1;
    return horizontalHeader()->sectionSize(col);
}

bool GridCtrl::SetRowHeight(long row, int height) {
    if (row < 0 || row >= GetNumberRows() || height < 0 || height > kMaxHeadingSize) return false;
    if (IsUniformRowHeight())
        verticalHeader()->setDefaultSectionSize(height);
    else
        verticalHeader()->resizeSection(int(row), height);
    return true;
}

int GridCtrl::GetRowHeight(long row) const {
    if (row < 0 || row >= GetNumberRows()) return -1;
    return verticalHeader()->sectionSize(int(row));
}

bool GridCtrl::SetDefRowHeight(int height) {
    if (height < 0 || height > kMaxHeadingSize) return false;
    verticalHeader()->setDefaultSectionSize(height);
    return true;
}

void GridCtrl::applyHeadingSizes() {
    if (m_thHeight == 0) {
        horizontalHeader()->hide();
    } else {
        horizontalHeader()->setFixedHeight(m_thHeight);
        horizontalHeader()->show();
    }
    if (m_shWidth == 0) {
        verticalHeader()->hide();
    } else {
        verticalHeader()->setFixedWidth(m_shWidth);
        verticalHeader()->show();
    }
}

bool GridCtrl::SetSH_Width(int width) {
    if (width < 0 || width > kMaxHeadingSize) return false;
    m_shWidth = width;
    applyHeadingSizes();
    return true;
}

int GridCtrl::GetSH_Width() const {
    return m_shWidth;
}

bool GridCtrl::SetTH_Height(int height) {
    if (height < 0 || height > kMaxHeadingSize) return false;
    m_thHeight = height;
    applyHeadingSizes();
    return true;
}

int GridCtrl::GetTH_Height() const {
    return m_thHeight;
}

bool GridCtrl::SetSH_NumberCols(int cols) {
    if (cols < 1 || cols > kMaxHeadingCount) return false;
    m_model->m_shCols = cols;
    m_shColWidths.resize(size_t(cols), m_shColWidths.empty() ? 40 : m_shColWidths.back());
    if (GetNumberRows() > 0)
        emit m_model->headerDataChanged(Qt::Vertical, 0, int(GetNumberRows() - 1));
    return true;
}

int GridCtrl::GetSH_NumberCols() const {
    return m_model->m_shCols;
}

bool GridCtrl::SetTH_NumberRows(int rows) {
    if (rows < 1 || rows > kMaxHeadingCount) return false;
    m_model->m_thRows = rows;
    if (GetNumberCols() > 0)
        emit m_model->headerDataChanged(Qt::Horizontal, 0, GetNumberCols() - 1);
    return true;
}

int GridCtrl::GetTH_NumberRows() const {
    return m_model->m_thRows;
}

bool GridCtrl::SetSH_ColWidth(int col, int width) {
    if (col >= 0 || col < -GetSH_NumberCols() || width < 0 || width > kMaxHeadingSize) return false;
    m_shColWidths[size_t(-col - 1)] = width;
    return true;
}

int GridCtrl::GetSH_ColWidth(int col) const {
    if (col >= 0 || col < -GetSH_NumberCols()) return -1;
    return m_shColWidths[size_t(-col - 1)];
}

void GridCtrl::SetDefFont(const QFont& font) {
    m_model->m_default.font = font;
    RedrawAll();
}

bool GridCtrl::validCell(int col, long row) const {
    return col >= 0 && col < GetNumberCols() && row >= 0 && row < GetNumberRows();
}

// A heading cell, or the corner where both are headings.
bool GridCtrl::validHeading(int col, long row) const {
    const bool colOk = col < 0 ? col >= -GetSH_NumberCols() : col < GetNumberCols();
    const bool rowOk = row < 0 ? row >= -GetTH_NumberRows() : row < GetNumberRows();
    return (col < 0 || row < 0) && colOk && rowOk;
}

bool GridCtrl::QuickSetText(int col, long row, const QString& text) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    GridCell own = m_model->props(col, row) ? *m_model->props(col, row) : GridCell();
    own.SetText(text);
    return SetCell(col, row, own);
}

QString GridCtrl::QuickGetText(int col, long row) const {
    if (!validCell(col, row) && !validHeading(col, row)) return QString();
    return m_model->text(col, row);
}

bool GridCtrl::QuickSetTextColor(int col, long row, const QColor& color) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    GridCell own = m_model->props(col, row) ? *m_model->props(col, row) : GridCell();
    own.m_text = m_model->text(col, row);
    own.textColor = color;
    return SetCell(col, row, own);
}

bool GridCtrl::QuickSetBackColor(int col, long row, const QColor& color) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    GridCell own = m_model->props(col, row) ? *m_model->props(col, row) : GridCell();
    own.m_text = m_model->text(col, row);
    own.backColor = color;
    return SetCell(col, row, own);
}

bool GridCtrl::QuickSetNumber(int col, long row, double value, int decimals) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    GridCell own = m_model->props(col, row) ? *m_model->props(col, row) : GridCell();
    if (decimals >= 0 && !own.SetNumberDecimals(decimals)) return false;
    own.SetNumber(value);
    return SetCell(col, row, own);
}

bool GridCtrl::QuickSetReadOnly(int col, long row, bool readOnly) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    GridCell own = m_model->props(col, row) ? *m_model->props(col, row) : GridCell();
    own.m_text = m_model->text(col, row);
    own.readOnly = readOnly;
    return SetCell(col, row, own);
}

bool GridCtrl::GetCell(int col, long row, GridCell* cell) const {
    if (!cell || (!validCell(col, row) && !validHeading(col, row))) return false;
    *cell = m_model->effective(col, row);
    return true;
}

bool GridCtrl::SetCell(int col, long row, const GridCell& cell) {
    if (!validCell(col, row) && !validHeading(col, row)) return false;
    m_model->setCell(col, row, cell);
    if (validCell(col, row)) {
        const QModelIndex i = m_model->index(int(row), col);
        emit m_model->dataChanged(i, i);
    } else {
        m_model->emitHeading(col, row);
    }
    return true;
}

bool GridCtrl::SetColDefault(int col, const GridCell& cell) {
    if (col < 0 || col >= GetNumberCols()) return false;
    m_model->m_colDefaults[col] = cell;
    RedrawAll();
    return true;
}

void GridCtrl::SetGridDefault(const GridCell& cell) {
    GridCell& d = m_model->m_default;
    if (cell.textColor) d.textColor = cell.textColor;
    if (cell.backColor) d.backColor = cell.backColor;
    if (cell.alignment) d.alignment = cell.alignment;
    if (cell.font) d.font = cell.font;
    if (cell.readOnly) d.readOnly = cell.readOnly;
    if (cell.cellType) d.cellType = cell.cellType;
    if (cell.choices) d.choices = cell.choices;
    if (cell.GetNumberDecimals() >= 0) d.m_decimals = cell.GetNumberDecimals();
    RedrawAll();
}

GridCell GridCtrl::GetGridDefault() const {
    return m_model->m_default;
}

void GridCtrl::EnableHScroll(bool on) {
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void GridCtrl::EnableVScroll(bool on) {
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

bool GridCtrl::GotoCell(int col, long row) {
    if (!validCell(col, row)) return false;
    const QModelIndex i = m_model->index(int(row), col);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    scrollTo(i);
    return true;
}

bool GridCtrl::GotoRow(long row) {
    return GotoCell(qMax(0, GetCurrentCol()), row);
}

int GridCtrl::GetCurrentCol() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.column() : -1;
}

long GridCtrl::GetCurrentRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void GridCtrl::ScrollDown(int lines) {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + lines);
}

long GridCtrl::GetTopRow() const {
    return rowAt(0);
}

void GridCtrl::RedrawAll() {
    if (GetNumberRows() > 0 && GetNumberCols() > 0)
        emit m_model->dataChanged(m_model->index(0, 0),
                                  m_model->index(int(GetNumberRows() - 1), GetNumberCols() - 1));
    viewport()->update();
    horizontalHeader()->viewport()->update();
    verticalHeader()->viewport()->update();
}

void GridCtrl::UseHints(bool on) {
    m_hints = on;
    if (!on) {
        m_hintTimer->stop();
        m_hint->hide();
    }
}

QString GridCtrl::HintText(int col, long row) {
    char text[48]; // "Col:" + 11 digits + " Row:" + 20 digits
    std::snprintf(text, sizeof text, "Col:%d Row:%ld", col, row);
    return QString::fromLatin1(text);
}

void GridCtrl::ShowHintAt(const QPoint& viewportPos) {
    const QModelIndex i = indexAt(viewportPos);
    if (!m_hints || !i.isValid()) {
        m_hint->hide();
        return;
    }
    m_hint->setText(HintText(i.column(), i.row()));
    m_hint->adjustSize();
    m_hint->move(viewport()->mapToGlobal(viewportPos + QPoint(12, 18)));
    m_hint->show();
}

bool GridCtrl::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove:
        m_hintPos = static_cast<QMouseEvent*>(event)->position().toPoint();
        m_hint->hide();
        if (m_hints) m_hintTimer->start();
        break;
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        m_hintTimer->stop();
        m_hint->hide();
        break;
    default:
        break;
    }
    return QTableView::viewportEvent(event);
}

GridFindDialog* GridCtrl::FindDialog() {
    if (!m_find) {
        m_find = new GridFindDialog(this);
        connect(m_find, &GridFindDialog::findNext, this,
                [this](const QString& text, bool matchCase, bool up) {
                    FindNext(text, matchCase, up);
                });
    }
    m_find->show();
    m_find->raise();
    return m_find;
}

bool GridCtrl::FindNext(const QString& text, bool matchCase, bool up) {
    const int cols = GetNumberCols();
    const long rows = GetNumberRows();
    const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (!text.isEmpty() && cols > 0 && rows > 0) {
        // Cells in reading order, numbered row * cols + col; start next to the current cell.
        const long long total = (long long)rows * cols;
        long long pos;
        if (GetCurrentRow() < 0)
            pos = up ? total - 1 : 0;
        else
            pos = (long long)GetCurrentRow() * cols + GetCurrentCol() + (up ? -1 : 1);
        for (; pos >= 0 && pos < total; pos += up ? -1 : 1) {
            const int col = int(pos % cols);
            const long row = long(pos / cols);
            if (m_model->text(col, row).contains(text, cs)) {
                GotoCell(col, row);
                return true;
            }
        }
    }
    MessageBox::information(m_find && m_find->isVisible() ? static_cast<QWidget*>(m_find) : this,
                            QStringLiteral("Not Found"), QStringLiteral("Item not found"));
    return false;
}
