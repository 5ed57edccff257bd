// The grid's cells and table model: texts, numbers, properties with their defaults, headings.
#include "widgets/grid_model.h"

#include <cstdio>
#include <cstdlib>

// ---- GridCell ----

void GridCell::SetText(const QString& text) {
    m_text = text;
    m_hasNumber = false;
}

void GridCell::SetNumber(double value) {
    m_number = value;
    m_hasNumber = true;
    m_text = FormatNumber(value, m_decimals);
}

double GridCell::GetNumber() const {
    const QByteArray bytes = m_text.toLatin1();
    return std::strtod(bytes.constData(), nullptr);
}

bool GridCell::SetNumberDecimals(int decimals) {
    if (decimals < 0 || decimals > 20) return false;
    m_decimals = decimals;
    if (m_hasNumber) m_text = FormatNumber(m_number, m_decimals);
    return true;
}

QString GridCell::FormatNumber(double value, int decimals) {
    char format[16]; // "%1.20lf" at most
    if (decimals >= 0 && decimals <= 20)
        std::snprintf(format, sizeof format, "%%1.%dlf", decimals);
    else
        std::snprintf(format, sizeof format, "%%lf");
    char text[400]; // DBL_MAX with 20 decimals is 331 characters
    int n = std::snprintf(text, sizeof text, format, value);
    if (n < 0 || n >= int(sizeof text)) return QString();
    return QString::fromLatin1(text, n);
}

// ---- GridModel ----

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {
    m_default.textColor = QColor(Qt::black);
    m_default.backColor = QColor(Qt::white);
    m_default.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    m_default.font = QFont();
    m_default.readOnly = false;
    m_default.cellType = GridCellType::Normal;
    m_default.choices = QStringList();
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_cols;
}

const GridCell* GridModel::props(int col, long row) const {
    if (m_props.isEmpty()) return nullptr;
    auto it = m_props.constFind(key(col, row));
    return it == m_props.constEnd() ? nullptr : &it.value();
}

QString GridModel::text(int col, long row) const {
    if (row < 0 || col < 0) {
        const GridCell* p = props(col, row);
        return p ? p->m_text : QString();
    }
    const auto& r = m_rows[size_t(row)];
    return size_t(col) < r.size() ? r[size_t(col)] : QString();
}

void GridModel::setText(int col, long row, const QString& text) {
    if (row < 0 || col < 0) {
        m_props[key(col, row)].m_text = text;
        return;
    }
    auto& r = m_rows[size_t(row)];
    if (size_t(col) >= r.size()) {
        if (text.isEmpty()) return;
        r.resize(size_t(col) + 1);
    }
    r[size_t(col)] = text;
}

// Every property of a cell: its own, else its column's default, else the grid's default.
GridCell GridModel::effective(int col, long row) const {
    GridCell c = m_default;
    auto merge = [&c](const GridCell& o) {
        if (o.textColor) c.textColor = o.textColor;
        if (o.backColor) c.backColor = o.backColor;
        if (o.alignment) c.alignment = o.alignment;
        if (o.font) c.font = o.font;
        if (o.readOnly) c.readOnly = o.readOnly;
        if (o.cellType) c.cellType = o.cellType;
        if (o.choices) c.choices = o.choices;
        if (o.m_decimals >= 0) c.m_decimals = o.m_decimals;
    };
    auto cd = m_colDefaults.constFind(col);
    if (cd != m_colDefaults.constEnd()) merge(cd.value());
    if (const GridCell* p = props(col, row)) {
        merge(*p);
        c.m_hasNumber = p->m_hasNumber;
        c.m_number = p->m_number;
    }
    c.m_text = text(col, row);
    return c;
}

void GridModel::setCell(int col, long row, const GridCell& cell) {
    setText(col, row, cell.m_text);
    GridCell own = cell;
    own.m_text.clear();
    const bool hasProps = own.textColor || own.backColor || own.alignment || own.font ||
                          own.readOnly || own.cellType || own.choices || own.m_hasNumber ||
                          own.m_decimals >= 0;
    if (row < 0 || col < 0) {
        own.m_text = cell.m_text;
        m_props[key(col, row)] = own;
    } else if (hasProps) {
        m_props[key(col, row)] = own;
    } else {
        m_props.remove(key(col, row));
    }
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int col = index.column();
    const long row = index.row();
    const GridCell* own = props(col, row);
    auto cdIt = m_colDefaults.constFind(col);
    const GridCell* cd = cdIt == m_colDefaults.constEnd() ? nullptr : &cdIt.value();
    auto pick = [&](auto member) {
        if (own && (own->*member)) return *(own->*member);
        if (cd && (cd->*member)) return *(cd->*member);
        return *(m_default.*member);
    };
    switch (role) {
    case Qt::DisplayRole:
        if (pick(&GridCell::cellType) == GridCellType::CheckBox) return {};
        return text(col, row);
    case Qt::EditRole:
        return text(col, row);
    case Qt::CheckStateRole:
        if (pick(&GridCell::cellType) != GridCellType::CheckBox) return {};
        return text(col, row) == QLatin1String("1") ? Qt::Checked : Qt::Unchecked;
    case Qt::ForegroundRole:
        return pick(&GridCell::textColor);
    case Qt::BackgroundRole:
        return pick(&GridCell::backColor);
    case Qt::TextAlignmentRole:
        return pick(&GridCell::alignment).toInt();
    case Qt::FontRole:
        return pick(&GridCell::font);
    case Qt::UserRole:
        return pick(&GridCell::choices); // for the drop-list editor
    case Qt::UserRole + 1:
        return pick(&GridCell::cellType) == GridCellType::DropList;
    default:
        return {};
    }
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !(flags(index) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable)))
        return false;
    QString t;
    if (role == Qt::CheckStateRole)
        t = value.toInt() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0");
    else if (role == Qt::EditRole)
        t = value.toString();
    else
        return false;
    auto it = m_props.find(key(index.column(), index.row()));
    if (it != m_props.end()) it->m_hasNumber = false;
    setText(index.column(), index.row(), t);
    emit dataChanged(index, index);
    emit cellEdited(index.column(), index.row());
    return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const GridCell c = effective(index.column(), index.row());
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (*c.readOnly) return f;
    if (*c.cellType == GridCellType::CheckBox) return f | Qt::ItemIsUserCheckable;
    return f | Qt::ItemIsEditable;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    QStringList parts;
    if (orientation == Qt::Horizontal) {
        for (int r = -m_thRows; r <= -1; ++r)
            parts << text(section, r);
        return parts.join(QLatin1Char('\n'));
    }
    for (int c = -m_shCols; c <= -1; ++c)
        parts << text(c, section);
    return parts.join(QLatin1Char(' '));
}

void GridModel::emitHeading(int col, long row) {
    if (row < 0 && col >= 0)
        emit headerDataChanged(Qt::Horizontal, col, col);
    else if (col < 0 && row >= 0)
        emit headerDataChanged(Qt::Vertical, int(row), int(row));
}

void GridModel::resizeRows(long rows) {
    const long old = long(m_rows.size());
    if (rows == old) return;
    if (rows > old) {
        beginInsertRows({}, int(old), int(rows - 1));
        m_rows.resize(size_t(rows));
        endInsertRows();
        return;
    }
    beginRemoveRows({}, int(rows), int(old - 1));
    m_rows.resize(size_t(rows));
    for (auto it = m_props.begin(); it != m_props.end();) {
        const long r = qint32(quint32(it.key()));
        it = r >= rows ? m_props.erase(it) : std::next(it);
    }
    endRemoveRows();
}

void GridModel::resizeCols(int cols) {
    if (cols == m_cols) return;
    if (cols > m_cols) {
        beginInsertColumns({}, m_cols, cols - 1);
        m_cols = cols;
        endInsertColumns();
        return;
    }
    beginRemoveColumns({}, cols, m_cols - 1);
    m_cols = cols;
    for (auto& r : m_rows)
        if (r.size() > size_t(cols)) r.resize(size_t(cols));
    for (auto it = m_props.begin(); it != m_props.end();) {
        const int c = qint32(quint32(it.key() >> 32));
        it = c >= cols ? m_props.erase(it) : std::next(it);
    }
    for (auto it = m_colDefaults.begin(); it != m_colDefaults.end();)
        it = it.key() >= cols ? m_colDefaults.erase(it) : std::next(it);
    endRemoveColumns();
}
