// GridCtrl: limits, many rows, numbers, read-only cells, headings, find dialog and hint window.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "widgets/gridctrl.h"
#include "widgets/messagebox.h"

namespace {

// A grid of cols x rows, shown at the given size when one is given (editors and hints need a view).
class Grid : public GridCtrl {
  public:
    Grid(int cols, int rows, QSize shown = {}) {
        SetNumberCols(cols);
        SetNumberRows(rows);
        if (shown.isValid()) {
            resize(shown);
            show();
        }
    }
};

} // namespace

TEST(GridCtrl, RefusedLimitsLeaveTheGridUnchanged) {
    GridCtrl grid;
    ASSERT_TRUE(grid.SetNumberCols(5));
    EXPECT_FALSE(grid.SetNumberCols(32001));
    EXPECT_FALSE(grid.SetNumberCols(-1));
    EXPECT_EQ(grid.GetNumberCols(), 5);
    EXPECT_TRUE(grid.SetNumberCols(32000));
    EXPECT_EQ(grid.GetNumberCols(), 32000);

    ASSERT_TRUE(grid.SetTH_Height(30));
    ASSERT_TRUE(grid.SetSH_Width(50));
    EXPECT_FALSE(grid.SetTH_Height(1025));
    EXPECT_FALSE(grid.SetSH_Width(1025));
    EXPECT_FALSE(grid.SetSH_Width(-1));
    EXPECT_EQ(grid.GetTH_Height(), 30);
    EXPECT_EQ(grid.horizontalHeader()->height(), 30);
    EXPECT_TRUE(grid.SetTH_Height(1024));
    EXPECT_TRUE(grid.SetSH_Width(0)); // 0 hides the side heading
    EXPECT_TRUE(grid.verticalHeader()->isHidden());

    for (int bad : {0, 65}) {
        EXPECT_FALSE(grid.SetTH_NumberRows(bad)) << bad;
        EXPECT_FALSE(grid.SetSH_NumberCols(bad)) << bad;
    }
    EXPECT_EQ(grid.GetTH_NumberRows(), 1);
    EXPECT_EQ(grid.GetSH_NumberCols(), 1);
    EXPECT_TRUE(grid.SetTH_NumberRows(64));
    EXPECT_TRUE(grid.SetSH_NumberCols(64));
    EXPECT_TRUE(grid.SetSH_ColWidth(-64, 12));
    EXPECT_FALSE(grid.SetSH_ColWidth(-65, 12));
    EXPECT_FALSE(grid.SetSH_ColWidth(0, 12));
    EXPECT_EQ(grid.GetSH_ColWidth(-64), 12);
}

TEST(GridCtrl, ManyRowsShareOneRowHeight) {
    GridCtrl grid;
    grid.SetNumberCols(1);
    ASSERT_TRUE(grid.SetNumberRows(64000));
    EXPECT_FALSE(grid.IsUniformRowHeight());
    ASSERT_TRUE(grid.SetRowHeight(5, 30));
    EXPECT_EQ(grid.GetRowHeight(5), 30);
    EXPECT_EQ(grid.GetRowHeight(6), 20);

    ASSERT_TRUE(grid.SetNumberRows(99999));
    EXPECT_TRUE(grid.IsUniformRowHeight());
    for (long row = 0; row < 99999; ++row)
        grid.QuickSetText(0, row, QStringLiteral("line %1").arg(row));
    EXPECT_EQ(grid.QuickGetText(0, 99998), "line 99998");
    EXPECT_EQ(grid.GetRowHeight(5), grid.GetRowHeight(99998));
    ASSERT_TRUE(grid.SetRowHeight(10, 25));
    EXPECT_EQ(grid.GetRowHeight(0), 25);
    EXPECT_EQ(grid.GetRowHeight(99998), 25);
    EXPECT_TRUE(grid.GotoRow(99998));
    EXPECT_EQ(grid.GetCurrentRow(), 99998);
    EXPECT_FALSE(grid.QuickSetText(0, 99999, "beyond"));
    EXPECT_EQ(grid.GetRowHeight(99999), -1);
}

TEST(GridCtrl, NumbersAreFormattedAndParsed) {
    Grid grid(2, 4);
    ASSERT_TRUE(grid.QuickSetNumber(0, 0, 3.14159));
    EXPECT_EQ(grid.QuickGetText(0, 0), "3.141590");
    ASSERT_TRUE(grid.QuickSetNumber(0, 1, 3.14159, 2));
    EXPECT_EQ(grid.QuickGetText(0, 1), "3.14");
    ASSERT_TRUE(grid.QuickSetNumber(0, 2, -2.5, 0));
    EXPECT_EQ(grid.QuickGetText(0, 2), "-2");
    EXPECT_FALSE(grid.QuickSetNumber(0, 3, 1.0, 21));
    EXPECT_EQ(grid.QuickGetText(0, 3), QString());

    GridCell cell;
    ASSERT_TRUE(grid.GetCell(0, 1, &cell));
    EXPECT_TRUE(cell.HasNumber());
    EXPECT_DOUBLE_EQ(cell.GetNumber(), 3.14);
    cell.SetNumberDecimals(4);
    EXPECT_EQ(cell.GetText(), "3.1416");
    EXPECT_EQ(GridCell::FormatNumber(1e300).size(), 308); // no cut, no overrun
}

TEST(GridCtrl, EditorsHonourReadOnlyAndDropListCells) {
    Grid grid(2, 2, {300, 200});
    grid.QuickSetText(0, 0, "fixed");
    ASSERT_TRUE(grid.QuickSetReadOnly(0, 0, true));
    const QModelIndex locked = grid.model()->index(0, 0);
    EXPECT_FALSE(grid.model()->flags(locked) & Qt::ItemIsEditable);
    EXPECT_FALSE(grid.model()->setData(locked, "changed", Qt::EditRole));
    grid.edit(locked);
    EXPECT_EQ(grid.viewport()->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(grid.QuickGetText(0, 0), "fixed");
    const QModelIndex open = grid.model()->index(0, 1);
    EXPECT_TRUE(grid.model()->flags(open) & Qt::ItemIsEditable);
    grid.setCurrentIndex(open);
    grid.edit(open);
    EXPECT_NE(grid.viewport()->findChild<QLineEdit*>(), nullptr);

    GridCell list;
    list.cellType = GridCellType::DropList;
    list.choices = QStringList{"Engedélyezö lista", "Tiltó lista"};
    list.SetText("Tiltó lista");
    ASSERT_TRUE(grid.SetCell(1, 1, list));
    grid.setCurrentIndex(grid.model()->index(1, 1)); // closes the text editor
    grid.edit(grid.model()->index(1, 1));
    auto* box = grid.viewport()->findChild<QComboBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentText(), "Tiltó lista");
    box->setCurrentIndex(0);
    grid.itemDelegate()->setModelData(box, grid.model(), grid.model()->index(1, 1));
    EXPECT_EQ(grid.QuickGetText(1, 1), "Engedélyezö lista");
}

TEST(GridCtrl, CellsTakeColumnAndGridDefaultsAndHeadingsAreNegativeIndices) {
    Grid grid(2, 3);
    GridCell def;
    def.textColor = QColor(Qt::red);
    grid.SetGridDefault(def);
    GridCell colDef;
    colDef.textColor = QColor(Qt::blue);
    ASSERT_TRUE(grid.SetColDefault(1, colDef));
    grid.QuickSetTextColor(1, 1, QColor(Qt::green));

    GridCell c;
    grid.GetCell(0, 0, &c);
    EXPECT_EQ(*c.textColor, QColor(Qt::red));
    grid.GetCell(1, 0, &c);
    EXPECT_EQ(*c.textColor, QColor(Qt::blue));
    grid.GetCell(1, 1, &c);
    EXPECT_EQ(*c.textColor, QColor(Qt::green));
    EXPECT_EQ(*c.cellType, GridCellType::Normal);

    GridCell box;
    box.cellType = GridCellType::CheckBox;
    box.SetText("1");
    ASSERT_TRUE(grid.SetCell(0, 1, box));
    EXPECT_EQ(grid.model()->index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_TRUE(
        grid.model()->setData(grid.model()->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(grid.QuickGetText(0, 1), "0");

    // Headings are the negative rows and columns.
    ASSERT_TRUE(grid.QuickSetText(0, -1, "Név"));
    EXPECT_FALSE(grid.QuickSetText(0, -2, "Top")); // one heading row only
    ASSERT_TRUE(grid.SetTH_NumberRows(2));
    ASSERT_TRUE(grid.QuickSetText(0, -2, "Top"));
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Top\nNév");
    ASSERT_TRUE(grid.QuickSetText(-1, 2, "3."));
    EXPECT_EQ(grid.model()->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), "3.");
    EXPECT_EQ(grid.QuickGetText(0, -1), "Név");
    EXPECT_FALSE(grid.QuickSetText(2, -1, "no column"));
}

class SetupGrid : public GridCtrl {
  public:
    int setups = 0;
    void OnSetup() override {
        ++setups;
        SetNumberCols(3);
        SetNumberRows(10);
    }
};

TEST(GridCtrl, AttachTakesThePlaceholdersPlaceAndRunsSetup) {
    QWidget page;
    auto* placeholder = new QLabel(&page);
    placeholder->setObjectName("gridPlaceholder");
    placeholder->setGeometry(10, 20, 300, 200);
    SetupGrid grid;
    EXPECT_FALSE(grid.AttachGrid(&page, "missing"));
    EXPECT_EQ(grid.setups, 0);
    ASSERT_TRUE(grid.AttachGrid(&page, "gridPlaceholder"));
    EXPECT_EQ(grid.parentWidget(), &page);
    EXPECT_EQ(grid.geometry(), QRect(10, 20, 300, 200));
    EXPECT_TRUE(placeholder->isHidden());
    EXPECT_EQ(grid.setups, 1);
    EXPECT_EQ(grid.GetNumberCols(), 3);
    grid.setParent(nullptr); // the grid lives on the stack, not owned by the page
}

TEST(GridCtrl, FindShowsItemNotFound) {
    Grid grid(2, 3);
    grid.QuickSetText(0, 0, "alpha");
    grid.QuickSetText(1, 1, "Beta line");
    grid.QuickSetText(0, 2, "beta again");

    EXPECT_TRUE(grid.FindNext("beta"));
    EXPECT_EQ(grid.GetCurrentCol(), 1);
    EXPECT_EQ(grid.GetCurrentRow(), 1);
    EXPECT_FALSE(grid.FindNext("Beta", true));        // the next one is lower case
    EXPECT_TRUE(grid.FindNext("alpha", false, true)); // searching up
    EXPECT_EQ(grid.GetCurrentRow(), 0);

    GridFindDialog* dialog = grid.FindDialog();
    EXPECT_TRUE(dialog->isVisible());
    dialog->findEdit()->setText("gamma");
    dialog->findNextButton()->click();
    ASSERT_EQ(MessageBox::shown().size(), 2);
    EXPECT_EQ(MessageBox::lastShown().title, "Not Found");
    EXPECT_EQ(MessageBox::lastShown().text, "Item not found");
    EXPECT_EQ(MessageBox::lastShown().kind, MessageBox::Information);
}

TEST(GridCtrl, HintWindowShowsTheCellPosition) {
    EXPECT_EQ(GridCtrl::HintText(3, 99998L), "Col:3 Row:99998");
    Grid grid(3, 5, {400, 300});
    const QRect cell = grid.visualRect(grid.model()->index(2, 1));
    grid.ShowHintAt(cell.center());
    EXPECT_EQ(grid.hintWindow()->text(), "Col:1 Row:2");
    EXPECT_TRUE(grid.hintWindow()->isVisible());
    grid.ShowHintAt(QPoint(390, 290)); // below the last row: no cell, no hint
    EXPECT_FALSE(grid.hintWindow()->isVisible());
}
