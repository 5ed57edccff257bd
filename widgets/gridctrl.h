// GridCtrl: the scrolling grid of the log, statistics-table and users pages.
#pragma once

#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QHash>
#include <QStringList>
#include <QTableView>

class QLabel;
class QLineEdit;
class QCheckBox;
class QRadioButton;
class QTimer;
class QPushButton;

// Kinds of cell.
enum class GridCellType {
    Normal,   // "Normal Cell Type (default)": text
    CheckBox, // "Standard CheckBox Type": a check box, checked when the text is "1"
    DropList, // "Standard DropList": a drop-down list of the cell's choices
};

// One cell's properties. A property that is not set is taken from the column's default cell,
// then from the grid's default cell. GridCtrl::GetCell fills every property.
class GridCell {
  public:
    QString GetText() const { return m_text; }
    void SetText(const QString& text); // also forgets a number given before

    // A number is kept as a double and shown with "%lf", or with "%1.<n>lf" once a number of
    // decimals n (0 to 20) is set. GetNumber parses the text (0.0 when it is not a number).
    void SetNumber(double value);
    bool HasNumber() const { return m_hasNumber; }
    double GetNumber() const;
    bool SetNumberDecimals(int decimals);                // false (and ignored) outside 0..20
    int GetNumberDecimals() const { return m_decimals; } // -1 when not set

    // "%lf", or "%1.<decimals>lf" for decimals 0..20; the text a number cell shows.
    static QString FormatNumber(double value, int decimals = -1);

    std::optional<QColor> textColor, backColor;
    std::optional<Qt::Alignment> alignment;
    std::optional<QFont> font;
    std::optional<bool> readOnly;
    std::optional<GridCellType> cellType;
    std::optional<QStringList> choices; // the items of a drop-list cell

  private:
    friend class GridModel;
    friend class GridCtrl;
    QString m_text;
    bool m_hasNumber = false;
    double m_number = 0.0;
    int m_decimals = -1;
};

// The grid's table model: cell texts by row for speed, other properties only where set.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit GridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    friend class GridCtrl;
    static quint64 key(int col, long row) { return (quint64(quint32(col)) << 32) | quint32(row); }
    const GridCell* props(int col, long row) const;
    GridCell effective(int col, long row) const;
    QString text(int col, long row) const;
    void setText(int col, long row, const QString& text);
    void setCell(int col, long row, const GridCell& cell);
    void resizeRows(long rows);
    void resizeCols(int cols);
    void emitHeading(int col, long row);
  signals:
    void cellEdited(int col, long row); // the user changed a cell

  private:
    int m_cols = 0;
    int m_thRows = 1, m_shCols = 1;
    std::vector<std::vector<QString>> m_rows; // body texts; a row's vector grows on demand
    QHash<quint64, GridCell> m_props;         // cells with own properties, and headings
    QHash<int, GridCell> m_colDefaults;
    GridCell m_default;
};

// The find dialog of a grid: a text, match case, direction, "&Find Next" and "Cancel".
class GridFindDialog : public QDialog {
    Q_OBJECT
  public:
    explicit GridFindDialog(QWidget* parent);
    QLineEdit* findEdit() const { return m_edit; }
    QCheckBox* matchCaseBox() const { return m_matchCase; }
    QRadioButton* upButton() const { return m_up; }
    QPushButton* findNextButton() const { return m_findNext; }
  signals:
    void findNext(const QString& text, bool matchCase, bool up);

  private:
    QLineEdit* m_edit;
    QCheckBox* m_matchCase;
    QRadioButton* m_up;
    QPushButton* m_findNext;
};

// The grid. Columns and rows count from 0; negative indices address the headings: row -1 .. -n
// are the top heading rows (row -1 nearest the cells), column -1 .. -n the side heading columns.
// Setters that take a limit return true on success and false, leaving the grid unchanged, for a
// refused value. The view shows the top heading rows as the lines of the column headers and the
// side heading columns side by side in the row headers.
//
// A page attaches the grid to a placeholder widget of its own and overrides OnSetup:
//     class LogGrid : public GridCtrl {
//         void OnSetup() override { SetNumberCols(1); SetSH_Width(0); SetDefFont(fixedFont); }
//     };
//     m_grid = new LogGrid; m_grid->AttachGrid(placeholderLabel);
class GridCtrl : public QTableView {
    Q_OBJECT
  public:
    static constexpr int kMaxCols = 32000;
    static constexpr long kMaxRows = 10000000; // storage bound; the pages stay below 100,000
    static constexpr int kUniformRowsAbove = 64000;
    static constexpr int kMaxHeadingSize = 1024;
    static constexpr int kMaxHeadingCount = 64;

    explicit GridCtrl(QWidget* parent = nullptr);
    ~GridCtrl() override;

    // Takes the placeholder's parent, place, size, object name and layout slot, hides the
    // placeholder and runs OnSetup. False for a null placeholder.
    bool AttachGrid(QWidget* placeholder);
    // The same for the child of dialog with this object name; false when there is none.
    bool AttachGrid(QWidget* dialog, const QString& placeholderName);
    // Set-up hook run by AttachGrid; a page's grid class sets columns, rows, sizes and fonts.
    virtual void OnSetup() {}

    // Counts and sizes.
    bool SetNumberCols(int cols); // 0..32000
    int GetNumberCols() const;
    bool SetNumberRows(long rows); // 0..kMaxRows; above 64000 rows one common row height
    long GetNumberRows() const;
    bool SetColWidth(int col, int width); // width 0.. ; false for a column out of range
    int GetColWidth(int col) const;       // -1 for a column out of range
    // Row height; with more than 64000 rows it sets the common height of all rows.
    bool SetRowHeight(long row, int height);
    int GetRowHeight(long row) const; // -1 for a row out of range
    bool SetDefRowHeight(int height); // the height of every row
    bool IsUniformRowHeight() const;
    bool SetSH_Width(int width); // side heading width 0..1024; 0 hides the side heading
    int GetSH_Width() const;
    bool SetTH_Height(int height); // top heading height 0..1024; 0 hides the top heading
    int GetTH_Height() const;
    bool SetSH_NumberCols(int cols); // 1..64
    int GetSH_NumberCols() const;
    bool SetTH_NumberRows(int rows); // 1..64
    int GetTH_NumberRows() const;
    bool SetSH_ColWidth(int col, int width); // col -1 .. -GetSH_NumberCols(), width 0..1024
    int GetSH_ColWidth(int col) const;
    void SetDefFont(const QFont& font); // default font of the cells

    // Cells.
    bool QuickSetText(int col, long row, const QString& text);
    QString QuickGetText(int col, long row) const;
    bool QuickSetTextColor(int col, long row, const QColor& color);
    bool QuickSetBackColor(int col, long row, const QColor& color);
    bool QuickSetNumber(int col, long row, double value, int decimals = -1);
    bool QuickSetReadOnly(int col, long row, bool readOnly);
    // Reads the cell with every property filled from the defaults; false out of range.
    bool GetCell(int col, long row, GridCell* cell) const;
    // Writes the cell's text and the properties it has set; false out of range.
    bool SetCell(int col, long row, const GridCell& cell);
    bool SetColDefault(int col, const GridCell& cell);
    void SetGridDefault(const GridCell& cell);
    GridCell GetGridDefault() const;

    // Scroll bars, current cell, scrolling.
    void EnableHScroll(bool on);
    void EnableVScroll(bool on);
    bool GotoCell(int col, long row); // moves the current cell and shows it
    bool GotoRow(long row);           // the current column, another row
    int GetCurrentCol() const;        // -1 when there is no current cell
    long GetCurrentRow() const;
    void ScrollDown(int lines = 1); // moves the view down (negative: up); the current cell stays
    long GetTopRow() const;
    void RedrawAll();

    // Hint window: while the pointer rests over a cell a small window (object name "HintWnd")
    // shows the cell position.
    void UseHints(bool on);
    static QString HintText(int col, long row); // "Col:%d Row:%ld"
    void ShowHintAt(const QPoint& viewportPos); // what the resting pointer triggers
    QLabel* hintWindow() const { return m_hint; }

    // Find: Ctrl+F opens the dialog. FindNext searches the cell texts from the cell after
    // (or before, going up) the current one; a match becomes the current cell. Without a match
    // it shows "Item not found" titled "Not Found" and returns false.
    GridFindDialog* FindDialog();
    bool FindNext(const QString& text, bool matchCase = false, bool up = false);

    GridModel* gridModel() const { return m_model; }

  signals:
    void currentCellChanged(int col, long row);
    void cellEdited(int col, long row);

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    bool validCell(int col, long row) const;
    bool validHeading(int col, long row) const;
    void applyHeadingSizes();
    void applyUniformMode();

    GridModel* m_model;
    QLabel* m_hint;
    QTimer* m_hintTimer;
    QPoint m_hintPos;
    bool m_hints = true;
    GridFindDialog* m_find = nullptr;
    int m_shWidth = 40, m_thHeight = 22;
    std::vector<int> m_shColWidths = std::vector<int>(1, 40);
    int m_commonRowHeight = 0;
};
