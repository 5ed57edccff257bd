// The editor pages' frames: panels, sheets, the message panel, help and print.
#include "editor_page.h"

#include "panels.h"
#include "vcf1.h"

EditorPage::EditorPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {}

void EditorPage::addSheet(const QString& title, const QRect& geometry, int cols, int rows,
                          const QRect& sheetGeometry) {
    m_sheetPanel = addPanel(title, geometry);
    m_sheetPanel->setObjectName(QStringLiteral("sheetPanel"));
    m_sheet = new CVCF1(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->SetMaxCol(cols);
    m_sheet->SetMaxRow(rows);
    if (sheetGeometry.isValid()) {
        m_sheet->setGeometry(sheetGeometry);
        m_sheet->raise();
    } else {
        m_sheetPanel->SetWidget(m_sheet);
    }
}

void EditorPage::addMessagesAndButtons(const QRect& geometry) {
    m_messagePanel = addPanel(QStringLiteral("Üzenetek"), geometry);
    m_messagePanel->setObjectName(QStringLiteral("messagePanel"));
    addStatusLabel(QRect(), QString(), false, m_messagePanel);
    addFrameButtons();
}

UserGroupsPage::UserGroupsPage(const PageEntry& entry, QWidget* parent)
    : EditorPage(entry, parent) {
    // The column header panels stand between the panel's title band and the sheet.
    addSheet(QStringLiteral("Felhasználói csoportok"), QRect(5, 5, 445, 300), 2, 11,
             QRect(10, 50, 435, 250));
    auto* nameHeader = addPanel(QStringLiteral("Csoport név"), QRect(10, 27, 216, 22));
    auto* kindHeader = addPanel(QStringLiteral("Engedélyezö lista"), QRect(228, 27, 217, 22));
    nameHeader->setObjectName(QStringLiteral("nameHeader"));
    kindHeader->setObjectName(QStringLiteral("kindHeader"));
    addMessagesAndButtons(QRect(5, 310, 445, 65));
}

UsersPage::UsersPage(const PageEntry& entry, QWidget* parent) : EditorPage(entry, parent) {
    addSheet(QStringLiteral("        Név                       Csoport       P  M  S "),
             QRect(5, 5, 300, 370), 5, 12);
    m_dataPanel = addPanel(QStringLiteral("A felhasználó adatok"), QRect(310, 5, 295, 200));
    m_dataPanel->setObjectName(QStringLiteral("dataPanel"));
    addMessagesAndButtons(QRect(310, 290, 295, 85));
}

UrlControlPage::UrlControlPage(const PageEntry& entry, QWidget* parent)
    : EditorPage(entry, parent) {
    addSheet(QStringLiteral("URL nevek"), QRect(5, 5, 300, 370), 1, 12);
    m_groupPanel = addPanel(QStringLiteral("Csoport kiválasztás"), QRect(310, 5, 295, 90));
    m_groupPanel->setObjectName(QStringLiteral("groupPanel"));
    addMessagesAndButtons(QRect(310, 290, 295, 85));
}
