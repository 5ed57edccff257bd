// The log pages' frame: the group box, the grid and the frame buttons (help and refresh).
#include "log_page.h"

#include <QFont>

#include "gridctrl.h"
#include "panels.h"

LogPage::LogPage(Log log, const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_log(log) {
    m_group = addGroup(log == SystemLog ? QStringLiteral("Rendszerlog adatok")
                                        : QStringLiteral("Daemon log file"),
                       QRect(5, 10, 600, 355));
    // One column of fixed-pitch lines, no headings, read-only, room for 10,000 lines.
    m_grid = new GridCtrl(this);
    m_grid->setObjectName(QStringLiteral("logGrid"));
    m_grid->setGeometry(10, 40, 590, 318);
    m_grid->SetNumberCols(1);
    m_grid->SetColWidth(0, 473);
    m_grid->SetSH_Width(0);
    m_grid->SetTH_Height(0);
    m_grid->SetNumberRows(10000);
    m_grid->SetDefRowHeight(16);
    m_grid->setFont(QFont(QStringLiteral("Fixedsys"), 10));
    addFrameButtons();
}
