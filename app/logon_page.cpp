// The LogOn page: level switch, logon button and picture; the logon against the password files.
#include "app/logon_page.h"

#include <memory>

#include <QCheckBox>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/password_dialog.h"
#include "app/remote_runner.h"
#include "app/resources.h"
#include "serverdata/edit_session.h"
#include "serverdata/server_data.h"
#include "serverdata/startup.h"
#include "widgets/buttons.h"
#include "widgets/messagebox.h"
#include "widgets/waitcursor.h"

LogOnPage::LogOnPage(QWidget* parent)
    : Page(parent), m_switch(new QCheckBox(QStringLiteral("ADMINISTRATOR"), this)),
      m_button(new RoundButton(this)), m_picture(new RoundButton(this)) {
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    // Template place (164, 231), 92 x 14 dialog units of an 8-point "MS Sans Serif" dialog.
    m_switch->setObjectName(QStringLiteral("switch%1").arg(SWITCH_ID));
    m_switch->setGeometry(246, 375, 138, 23);
    m_switch->setLayoutDirection(Qt::RightToLeft); // text left of the box
    connect(m_switch, &QCheckBox::clicked, this, &LogOnPage::levelChanged);

    m_button->setObjectName(QStringLiteral("button%1").arg(BUTTON_ID));
    SetupActionButton(m_button, 230, 280, 180, 45, QStringLiteral("Belépés a rendszerbe"),
                      Qt::black, QColor(230, 90, 80), 8, 4);
    m_button->setFocusPolicy(Qt::NoFocus);
    connect(m_button, &RoundButton::clicked, this, &LogOnPage::logOn);

    m_picture->setObjectName(QStringLiteral("picture%1").arg(PICTURE_ID));
    m_picture->LoadBitmap(orvelanBitmap(RES_LOGON_PICTURE));
    m_picture->SetButtonColor(QColor(128, 128, 128));
    SetRoundButtonRadii(m_picture, 4, 2);
    m_picture->SetShadingCoefficient(10.0);
    m_picture->SetContentMargins(-5, 0);
    m_picture->setGeometry(90, 20, 446, 230);
    m_picture->setFocusPolicy(Qt::NoFocus);
    m_picture->setEnabled(false);

    serverData.session.SelectedLevel = m_switch->isChecked() ? 1 : 0;
}

LogOnPage::~LogOnPage() {
    // Nobody is left to take the running check's outcome.
    if (checking()) RemoteRunner::instance()->cancel();
}

void LogOnPage::command(int, quintptr) {}

void LogOnPage::levelChanged() {
    serverData.session.SelectedLevel = m_switch->isChecked() ? 1 : 0;
    if (serverData.session.SelectedLevel == 0) serverData.session.GrantedLevel = 0;
}

void LogOnPage::logOn() {
    if (checking()) return;
    PasswordDialog dialog(this);
    dialog.setMode(PasswordDialog::EnterPassword);
    if (dialog.exec() != QDialog::Accepted) {
        m_loggedOn = false;
        return;
    }
    if (noServer) { // in the no-server state the server is never asked
        checked(-1);
        return;
    }
    // The check runs on the remote worker; the level may not change under it.
    setChecking(true);
    auto rc = std::make_shared<int>(-1);
    RemoteRunner::instance()->run(
        this,
        [rc, typed = dialog.confirmationBytes()] {
            *rc = serverData.passwords.Check(typed.constData());
        },
        [this, rc] {
            setChecking(false);
            checked(*rc);
        });
}

void LogOnPage::setChecking(bool on) {
    if (on)
        m_wait = std::make_unique<WaitCursor>();
    else
        m_wait.reset();
    m_switch->setEnabled(!on);
    m_button->setEnabled(!on);
}

void LogOnPage::checked(int rc) {
    switch (rc) {
    case 1:
        serverData.session.GrantedLevel = serverData.session.SelectedLevel;
        sendToMain(CMD_SHOW_PAGE, showPageParam(AFTER_LOGON_PAGE));
        m_loggedOn = true;
        break;
    case 0:
        MessageBox::warning(this, QStringLiteral("Orvelan"), QStringLiteral("Hibás jelszó !"));
        break;
    default: // -2 "Lokális file kezelési hiba !", else "Hiba a proxy szerveren !"
        MessageBox::warning(this, QStringLiteral("Orvelan"), QString::fromUtf8(SdResultText(rc)));
        break;
    }
    emit logOnChecked();
}
