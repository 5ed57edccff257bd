// The grid's cells and its table model: texts by row, other properties only where set.
#pragma once

#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QStringList>

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
