// The Setup page: the server fields, line speeds and working hours loaded and saved through the
// data layer's setup settings, and the console passwords. Enter and Escape reach this page's
// fields.
#include "pages/system/setup_page.h"

#include <memory>
#include <string>
#include <vector>

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/password_dialog.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "serverdata/line_speeds.h"
#include "serverdata/server_data.h"
#include "serverdata/setup_settings.h"
#include "serverdata/startup.h"
#include "widgets/buttons.h"
#include "widgets/cp1250.h"
#include "widgets/messagebox.h"
#include "widgets/panels.h"
#include "widgets/waitcursor.h"

namespace {

constexpr int FIELD_MAX = 63; // characters read from a server or speed field

const QString APP_NAME = QStringLiteral("Orvelan");

QLabel* label(const QString& text, int x, int y, int w, int h, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, h);
    return l;
}

QLineEdit* field(int id, int x, int y, int w, QWidget* parent) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(QStringLiteral("edit%1").arg(id));
    f->setMaxLength(FIELD_MAX);
    f->setGeometry(x, y, w, 24);
    return f;
}

// A read-only number changed by its up-down buttons (and the arrow keys).
QSpinBox* hourField(int id, int maximum, int x, int y, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(QStringLiteral("hours%1").arg(id));
    s->setRange(0, maximum);
    s->setValue(0);
    s->setGeometry(x, y, 56, 24);
    s->setAlignment(Qt::AlignRight);
    if (auto* edit = s->findChild<QLineEdit*>()) edit->setReadOnly(true);
    return s;
}

// A field's text in Windows-1250, at most FIELD_MAX characters; false with the field named
// when a character has no Windows-1250 byte.
bool fieldBytes(const QLineEdit* f, std::string& out) {
    return toCp1250(f->text().left(FIELD_MAX), out);
}

} // namespace

SetupPage::SetupPage(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
    setSwallowEnterEscape(false);
    m_frame = addGroup(QString(), QRect(5, 10, 590, 355));
    m_servers = addGroup(QStringLiteral("Szerverek"), QRect(5, 10, 295, 210), 1);
    m_speeds =
        addGroup(QStringLiteral("Ĺtviteli sebesség [ Kbit / sec ]"), QRect(299, 10, 296, 210), 1);
    // The common caption size would run this caption past its frame.
    m_speeds->SetCaptionFontSize(14);
    m_messages = addGroup(QStringLiteral("Üzenetek"), QRect(5, 293, 590, 75), 1);
    // The fields in the order of the keyboard's tab.
    addServerFields();
    addSpeedFields();
    addHourFields();

    addStatusLabel(QRect(10, 320, 580, 40),
                   QStringLiteral("Elöször a hívja be a szerver beállításait!"));
    addFrameButtons();
    // Help clears the status line first.
    connect(helpButton(), &RoundButton::pressed, this, [this] { setStatus(QString()); });
    addActionButtons();
}

void SetupPage::addServerFields() {
    const char* serverLabels[4] = {"Varrow", "INTERNET", "LAN", "INTRANET"};
    const int serverIds[4] = {ID_PROXY, ID_INTERNET, ID_LAN, ID_INTRANET};
    for (int i = 0; i < 4; i++) {
        label(QString::fromLatin1(serverLabels[i]), 18, 58 + 40 * i, 80, 24, this);
        m_serverFields[i] = field(serverIds[i], 100, 58 + 40 * i, 185, this);
    }
}

void SetupPage::addSpeedFields() {
    label(QStringLiteral("KI:"), 420, 48, 60, 20, this);
    label(QStringLiteral("BE:"), 510, 48, 60, 20, this);
    const char* lineLabels[3] = {"INTERNET", "LAN", "INTRANET"};
    const int inIds[3] = {ID_INTERNET_IN, ID_LAN_IN, ID_INTRANET_IN};
    const int outIds[3] = {ID_INTERNET_OUT, ID_LAN_OUT, ID_INTRANET_OUT};
    for (int i = 0; i < 3; i++) {
        int y = 78 + 45 * i;
        label(QString::fromLatin1(lineLabels[i]), 312, y, 90, 24, this);
        m_speedFields[3 + i] = field(outIds[i], 410, y, 80, this);
        m_speedFields[i] = field(inIds[i], 500, y, 80, this);
    }
}

void SetupPage::addHourFields() {
    const QString heads = QStringLiteral("  Óra     Perc");
    label(heads, 150, 226, 130, 18, this);
    label(heads, 440, 226, 130, 18, this);
    label(QStringLiteral("Munkaidõ kezdete:"), 18, 248, 130, 24, this);
    label(QStringLiteral("Munkaidõ vége:"), 308, 248, 130, 24, this);
    m_hourFields[0] = ::hourField(ID_START_HOUR, 23, 150, 248, this);
    m_hourFields[1] = ::hourField(ID_START_MINUTE, 59, 212, 248, this);
    m_hourFields[2] = ::hourField(ID_END_HOUR, 23, 440, 248, this);
    m_hourFields[3] = ::hourField(ID_END_MINUTE, 59, 502, 248, this);
}

void SetupPage::addActionButtons() {
    auto action = [this](int id, int x, const QString& text, QColor colour) {
        auto* b = new RoundButton(this);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        SetupActionButton(b, x, 385, 112, 40, text, Qt::black, colour, 14, 8);
        return b;
    };
    m_load = action(ID_LOAD, 115, QStringLiteral("&Behívás"), QColor(120, 170, 120));
    m_save = action(ID_SAVE, 232, QStringLiteral("&Mentés"), QColor(230, 90, 80));
    m_adminPassword =
        action(ID_ADMIN_PASSWORD, 360, QStringLiteral("&Adm jelszó"), QColor(200, 180, 90));
    m_userPassword =
        action(ID_USER_PASSWORD, 477, QStringLiteral("&Usr jelszó"), QColor(200, 180, 90));
    connect(m_load, &RoundButton::clicked, this, &SetupPage::load);
    connect(m_save, &RoundButton::clicked, this, &SetupPage::save);
    connect(m_adminPassword, &RoundButton::clicked, this, [this] { changePassword(1); });
    connect(m_userPassword, &RoundButton::clicked, this, [this] { changePassword(0); });
}

void SetupPage::setStatus(const QString& text) {
    statusLabel()->setStatusText(text);
}

void SetupPage::applyAccess(bool editing) {
    for (RoundButton* b : {m_load, m_save, m_adminPassword, m_userPassword})
        b->setEnabled(editing);
}

void SetupPage::command(int id, quintptr) {
    if (id != CMD_PAGE_SHOWN) return;
    // In the no-server state the buttons keep their state: that is how a console without
    // settings gets pointed at its server.
    if (!noServer) applyAccess(editingAllowed());
    showSpeeds();
    load();
    // The load clears the status line; the no-server state stays in view after it.
    if (noServer) setStatus(QStringLiteral("Konfigurációs hiba !"));
}

void SetupPage::showSpeeds() {
    const double values[6] = {lineSpeeds.internetIn,  lineSpeeds.lanIn,  lineSpeeds.intranetIn,
                              lineSpeeds.internetOut, lineSpeeds.lanOut, lineSpeeds.intranetOut};
    for (int i = 0; i < 6; i++)
        m_speedFields[i]->setText(QString::asprintf("%5.0f", values[i]));
}

void SetupPage::load() {
    WaitCursor wait;
    setStatus(QString());
    SetupLoaded loaded{};
    onWorker([&loaded] { loaded = SetupLoad(); });
    if (loaded.speedsMissing && !noServer)
        MessageBox::information(this, APP_NAME,
                                QStringLiteral("Setup file behívási hiba!, Default setup!!"));
    showSpeeds();
    for (int i = 0; i < 4; i++)
        m_hourFields[i]->setValue(loaded.hours[i]);
    for (int i = 0; i < 4; i++)
        if (loaded.servers[i]) m_serverFields[i]->setText(fromCp1250(loaded.servers[i]));
}

void SetupPage::save() {
    WaitCursor wait;
    setStatus(QString());
    std::string servers[4], speeds[6], hours[4];
    for (int i = 0; i < 4; i++) {
        if (!fieldBytes(m_serverFields[i], servers[i])) {
            MessageBox::warning(this, APP_NAME,
                                QStringLiteral("A szerver nevében olyan karakter van, amely a "
                                               "Windows-1250 kódlapon nem írható le !"));
            m_serverFields[i]->setFocus();
            return;
        }
    }
    for (int i = 0; i < 6; i++)
        if (!fieldBytes(m_speedFields[i], speeds[i])) speeds[i].clear(); // not a number: 0
    for (int i = 0; i < 4; i++)
        hours[i] = std::to_string(m_hourFields[i]->value());
    SetupInput input{};
    for (int i = 0; i < 4; i++) {
        input.servers[i] = servers[i].c_str();
        input.hours[i] = hours[i].c_str();
    }
    for (int i = 0; i < 6; i++)
        input.speeds[i] = speeds[i].c_str();
    const char* outcome = nullptr;
    onWorker([&outcome, &input] { outcome = SetupSave(input); });
    setStatus(QString::fromUtf8(outcome));
}

void SetupPage::onWorker(const std::function<void()>& work) {
    // The load and the save fetch and send the working hours: they run on the remote worker, the
    // window painting meanwhile, with the page's buttons greyed so nothing else starts.
    RoundButton* const buttons[] = {m_load, m_save, m_adminPassword, m_userPassword};
    bool enabled[4];
    for (int i = 0; i < 4; i++) {
        enabled[i] = buttons[i]->isEnabled();
        buttons[i]->setEnabled(false);
    }
    // Without a server nothing goes to it: the work runs here. That is also the start-up's case
    // (the Setup page is the start page then), where an event loop of its own would run the
    // start-up's queued work inside the page's showing.
    if (noServer)
        work();
    else
        RemoteRunner::instance()->runAndWait(work);
    for (int i = 0; i < 4; i++)
        buttons[i]->setEnabled(enabled[i]);
}

void SetupPage::changePassword(int level) {
    if (m_changing) return;
    auto wait = std::make_shared<WaitCursor>();
    PasswordDialog dialog(this);
    dialog.setMode(PasswordDialog::NewPassword);
    if (dialog.exec() != QDialog::Accepted) return;
    if (dialog.newPassword() != dialog.confirmation()) {
        setStatus(QStringLiteral("Hibás jelszó !"));
        return;
    }
    // With no settings the server named in the fields is not confirmed yet: nothing goes to it.
    if (noServer) {
        setStatus(QStringLiteral("Konfigurációs hiba !"));
        return;
    }
    // The change runs on the remote worker; the page's buttons, which would talk to the server
    // too, wait for it.
    RoundButton* const buttons[] = {m_load, m_save, m_adminPassword, m_userPassword};
    auto enabled = std::make_shared<std::vector<bool>>();
    for (RoundButton* b : buttons) {
        enabled->push_back(b->isEnabled());
        b->setEnabled(false);
    }
    m_changing = true;
    auto rc = std::make_shared<int>(-1);
    RemoteRunner::instance()->run(
        this,
        [rc, password = dialog.newPasswordBytes(), level] {
            *rc = serverData.passwords.ChangeConsole(nullptr, password.constData(), level);
        },
        [this, rc, wait, enabled] {
            m_changing = false;
            RoundButton* const again[] = {m_load, m_save, m_adminPassword, m_userPassword};
            for (size_t i = 0; i < enabled->size(); i++)
                again[i]->setEnabled((*enabled)[i]);
            setStatus(*rc == 1 ? QStringLiteral("Password OK !") : QStringLiteral("Távoli hiba !"));
            emit passwordChanged();
        });
}
