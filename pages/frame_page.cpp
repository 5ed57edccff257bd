// The frame shared by the console's pages.
#include "pages/frame_page.h"

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/resources.h"
#include "app/status_label.h"
#include "widgets/buttons.h"
#include "widgets/panels.h"

FramePage::FramePage(const PageEntry& entry, QWidget* parent) : Page(parent), m_entry(entry) {}

void FramePage::addFrameButtons() {
    if (m_entry.helpContext != HELP_NONE) {
        m_help = new RoundButton(this);
        m_help->setObjectName(QStringLiteral("button%1").arg(ID_HELP_BUTTON));
        SetupHelpButton(m_help, orvelanIcon(RES_HELP_ICON));
        connect(m_help, &RoundButton::clicked, this, &Page::showHelp);
    }
    switch (m_entry.rightButton) {
    case FrameButton::None:
        break;
    case FrameButton::Print:
    case FrameButton::HiddenPrint:
        m_print = new RoundButton(this);
        m_print->setObjectName(QStringLiteral("button%1").arg(ID_PRINT_BUTTON));
        SetupPrintButton(m_print, orvelanIcon(RES_PRINT_ICON));
        if (m_entry.rightButton == FrameButton::HiddenPrint) m_print->hide();
        connect(m_print, &RoundButton::clicked, this, &FramePage::printRequested);
        break;
    case FrameButton::Refresh:
    case FrameButton::HiddenRefresh:
        m_refresh = new RoundButton(this);
        m_refresh->setObjectName(QStringLiteral("button%1").arg(ID_REFRESH_BUTTON));
        SetupRefreshButton(m_refresh, orvelanIcon(RES_REFRESH_ICON));
        // Hidden explicitly, it stays hidden when the page is shown.
        if (m_entry.rightButton == FrameButton::HiddenRefresh) m_refresh->hide();
        connect(m_refresh, &RoundButton::clicked, this, &FramePage::refreshRequested);
        break;
    }
}

CzCExtGroup* FramePage::addGroup(const QString& caption, const QRect& geometry, int captionFlag) {
    auto* group = new CzCExtGroup(caption, geometry, this);
    if (captionFlag >= 0) SetGroupCaptionFont(group, captionFlag);
    return group;
}

CzCThreeDPanel* FramePage::addPanel(const QString& title, const QRect& geometry) {
    return new CzCThreeDPanel(title, geometry, this);
}

StatusLabel* FramePage::addStatusLabel(const QRect& geometry, const QString& text, bool bold,
                                       CzCThreeDPanel* panel) {
    m_status = new StatusLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    SetupStatusLabel(m_status);
    if (!bold) m_status->setFontSpec(QStringLiteral("Arial"), 16, 400);
    m_status->setStatusText(text);
    if (panel)
        panel->SetWidget(m_status);
    else
        m_status->setGeometry(geometry);
    return m_status;
}
