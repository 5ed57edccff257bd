// GridCtrl: the scrolling grid of the log, statistics-table and users pages (the view; its cells
// and model are in grid_model.h, its find dialog in grid_find_dialog.h).
#pragma once

#include <vector>

#include <QTableView>

#include "widgets/grid_find_dialog.h"
#include "widgets/grid_model.h"

class QLabel;
class QTimer;

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
