// CVCF1: the spreadsheet of the URL control, users, user groups and statistics table pages.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QList>
#include <QTableWidget>

class QPrinter;

// A spreadsheet over QTableWidget. Rows and columns count from 1. Each method notes the
// dispatch id of the spreadsheet control call it stands for.
//     auto* sheet = new CVCF1(page);
//     sheet->setGeometry(10, 30, 600, 340);
//     sheet->SetupEditorSheet(1, 12, {8200}, 280, QFont("Arial", 10), QColor(0, 0, 255));
//     sheet->SetTextRC(1, 1, fromCp1250(line));
class CVCF1 : public QTableWidget {
    Q_OBJECT
  public:
    static constexpr long kMaxRows = 1000000;
    static constexpr int kMaxCols = 256;

    // How InsertRange / DeleteRange move the cells: 1 and 4 work on whole columns, 2 and 3 on
    // whole rows of the range.
    enum ShiftMode { ShiftHorizontal = 1, ShiftVertical = 2, ShiftRows = 3, ShiftCols = 4 };
    enum HAlign { AlignGeneral = 1, AlignLeft = 2, AlignCenter = 3, AlignRight = 4 };
    enum VAlign { AlignTop = 1, AlignVCenter = 2, AlignBottom = 3 };

    explicit CVCF1(QWidget* parent = nullptr);

    // Cells (0x119). Writing outside the sheet grows it; false for row or column below 1 or
    // beyond the limits. Reading outside the sheet gives an empty text.
    bool SetTextRC(long row, long col, const QString& text);
    QString GetTextRC(long row, long col) const;
    // The text colour of one cell (the pages otherwise colour through SetSelectionFont).
    bool SetTextColorRC(long row, long col, const QColor& color);
    QColor GetTextColorRC(long row, long col) const;
    QFont GetFontRC(long row, long col) const;

    // Sheet size: rows (0x13) and columns (0x12). False (unchanged) outside 0..the limit.
    bool SetMaxRow(long rows);
    long GetMaxRow() const;
    bool SetMaxCol(long cols);
    long GetMaxCol() const;

    // Selection (0xE4); (1, 1, 1, 1) resets it to the first cell. The corners may come in any
    // order; false (unchanged) when a corner lies outside the sheet.
    bool SetSelection(long row1, long col1, long row2, long col2);
    long GetSelStartRow() const; // 0x1D: first selected row (the current row without a
    long GetSelEndRow() const;   // 0x1F: selection); 0 for an empty sheet
    long GetSelStartCol() const;
    long GetSelEndCol() const;

    // Insert (0x84) or delete (0x8B) the rows (modes 2, 3) or columns (modes 1, 4) of the range.
    // Inserting grows the sheet, deleting shrinks it. False for a range outside the sheet or an
    // unknown mode.
    bool InsertRange(long row1, long col1, long row2, long col2, int mode);
    bool DeleteRange(long row1, long col1, long row2, long col2, int mode);

    void ClearSheet();        // 0xB1: empties every cell and its format, keeps the size
    void SetRepaint(bool on); // 0x44: off while a bulk change runs, on after
    void Refresh();           // -550: repaints

    // Formats of the selection. The font (0xD9) also becomes the format of cells added later when
    // the selection covers the whole sheet.
    void SetSelectionFont(const QString& face, int size, bool bold, bool italic, bool underline,
                          bool strikeout, const QColor& color);
    static QColor ColorFromColorRef(quint32 colorRef); // 0x00BBGGRR, so 0xFF0000 is blue
    void SetSelectionAlignment(HAlign h, bool wordWrap, VAlign v); // 0xD4
    void SetSelectionProtection(bool locked, bool hidden);         // 0xE1
    // 0x42: with protection on, locked cells (all cells unless unlocked) cannot be edited.
    void SetEnableProtection(bool on);
    bool IsCellEditable(long row, long col) const;

    // Sizes in twips (1/1440 inch, 15 twips a pixel on the screen).
    bool SetColWidthTwips(long col, int twips); // 0x11B
    int GetColWidthTwips(long col) const;
    bool SetRowHeightTwips(long row, int twips); // 0x11C; row -1 sets every row
    int GetRowHeightTwips(long row) const;

    // The sheet set-up of an editor page: clear, cols x rows, column widths (from column 1; the
    // rest keep theirs), every row's height, the font and colour over the whole sheet, left and
    // vertically centred, locked and protected, selection reset to (1, 1); Tab leaves the sheet.
    void SetupEditorSheet(int cols, long rows, const QList<int>& colWidthsTwips, int rowHeightTwips,
                          const QFont& font, const QColor& color);

    // Printing. Header (0x28) and footer (0x29) use the codes &L &C &R (left, centre, right
    // part), &D (date "yyyy.MM.dd"), &T (time "HH:mm"), &P (page), &N (pages) and && (&).
    void SetPrintHeader(const QString& codes);
    void SetPrintFooter(const QString& codes);
    QString GetPrintHeader() const { return m_header; }
    QString GetPrintFooter() const { return m_footer; }
    void SetPrintAreaFromSelection();                                           // 0xDE
    void SetPrintMargins(double left, double top, double right, double bottom); // 0x2A-0x2D
    void SetPrintGridLines(bool on); // one of the print switches (0x23 ... 0x50)
    void SetPrintHeadings(bool on);
    bool SetPrintScale(int percent, bool fitToPage, int pagesWide, int pagesTall); // 0xDF
    // 0x97: prints the print area (the whole sheet when none was set). With showDialog the print
    // dialog comes first (false when cancelled). When a PDF file is set (SetPrintToFile, or for
    // every sheet SetDefaultPrintToFile), the output goes to that file without any dialog.
    bool FilePrint(bool showDialog);
    void SetPrintToFile(const QString& pdfPath);
    static void SetDefaultPrintToFile(const QString& pdfPath);
    // Prints the print area to a prepared printer; false when the printer cannot be opened.
    bool PrintTo(QPrinter* printer);

    struct HeaderParts {
        QString left, center, right;
    };
    // Expands header / footer codes for one page.
    static HeaderParts ExpandHeaderCodes(const QString& codes, int page, int pages,
                                         const QDateTime& now);

  protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

  private:
    QTableWidgetItem* cell(long row, long col); // creates the item when missing
    QList<QTableWidgetSelectionRange> selectionOrCurrent() const;

    bool m_protection = false;
    QString m_header, m_footer, m_printFile;
    QTableWidgetSelectionRange m_printArea;
    bool m_hasPrintArea = false;
    double m_margins[4] = {1.0, 1.0, 1.0, 1.0}; // left, top, right, bottom, inches
    bool m_printGrid = false, m_printHeadings = false;
    int m_printScale = 100;
    static QString s_defaultPrintFile;
};
