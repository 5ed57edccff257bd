// The network page's frame: the state and test groups, the status line, help and the hidden
// refresh button.
#include "network_page.h"

#include "panels.h"
#include "status_label.h"

namespace {

// Both group captions: "System" 18, navy.
void networkCaptionFont(CzCExtGroup* group) {
    group->SetCaptionFontFace(QStringLiteral("System"));
    group->SetCaptionFontSize(18);
    group->SetCaptionFontColor(QColor(0, 0, 128));
}

} // namespace

NetworkPage::NetworkPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    const QString subject = QStringLiteral("Hálózati kommunikáció");
    m_state = addGroup(QStringLiteral("%1 állapota").arg(subject), QRect(5, 10, 600, 290));
    m_check = addGroup(QStringLiteral("%1 ellenörzése").arg(subject), QRect(5, 302, 600, 80));
    networkCaptionFont(m_state);
    networkCaptionFont(m_check);
    StatusLabel* status = addStatusLabel(QRect(10, 327, 590, 52), QStringLiteral("OK!"));
    status->setFontSpec(QStringLiteral("System"), 10, 400);
    addFrameButtons();
}
