// The Setup page's frame: the outer frame, the server, line-speed and message groups, the status
// line and help. Enter and Escape reach this page's fields.
#include "setup_page.h"

#include "panels.h"

SetupPage::SetupPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    setSwallowEnterEscape(false);
    m_frame = addGroup(QString(), QRect(5, 10, 590, 355));
    m_servers = addGroup(QStringLiteral("Szerverek"), QRect(5, 10, 295, 210), 1);
    m_speeds =
        addGroup(QStringLiteral("Ĺtviteli sebesség [ Kbit / sec ]"), QRect(299, 10, 296, 210), 1);
    // The common caption size would run this caption past its frame.
    m_speeds->SetCaptionFontSize(14);
    m_messages = addGroup(QStringLiteral("Üzenetek"), QRect(5, 293, 590, 75), 1);
    addStatusLabel(QRect(10, 320, 580, 40),
                   QStringLiteral("Elöször a hívja be a szerver beállításait!"));
    addFrameButtons();
}
