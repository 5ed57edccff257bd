// The statistics pages' frames: the query's groups and message line; the table's grid and the
// chart, each in its group box; help, and print on the result pages.
#include "stats_pages.h"

#include <QFont>

#include "chartfx.h"
#include "gridctrl.h"
#include "panels.h"

SelectionPage::SelectionPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    addGroup(QStringLiteral("Dátumtól:"), QRect(10, 10, 200, 215));
    addGroup(QStringLiteral("Dátumig:"), QRect(220, 10, 200, 215));
    addGroup(QStringLiteral("Felbontás:"), QRect(430, 10, 165, 175));
    addGroup(QStringLiteral("Feldolgozás módja:"), QRect(430, 195, 165, 120));
    addGroup(QStringLiteral("Szűkítés:"), QRect(10, 230, 410, 87));
    addStatusLabel(QRect(9, 325, 589, 35), QStringLiteral("..."));
    addFrameButtons();
}

TablePage::TablePage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    m_group = addGroup(QStringLiteral("Táblázat:"), QRect(5, 10, 600, 355));
    // Fixed-pitch lines in the first of 20 columns, no headings, 15 rows to start with.
    m_grid = new GridCtrl(this);
    m_grid->setObjectName(QStringLiteral("tableGrid"));
    m_grid->setGeometry(10, 40, 588, 318);
    m_grid->SetNumberCols(20);
    m_grid->SetColWidth(0, 150);
    m_grid->SetSH_Width(0);
    m_grid->SetTH_Height(0);
    m_grid->SetNumberRows(15);
    m_grid->SetDefRowHeight(16);
    m_grid->setFont(QFont(QStringLiteral("Fixedsys"), 10));
    addFrameButtons();
}

ChartPage::ChartPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    m_group = addGroup(QStringLiteral("Adatforgalom:"), QRect(5, 10, 600, 355));
    m_chart = new CChartfx(this);
    m_chart->setObjectName(QStringLiteral("chart"));
    m_chart->setGeometry(10, 40, 588, 318);
    m_chart->SetAxisTitle(QStringLiteral("Byte"));
    addFrameButtons();
}
