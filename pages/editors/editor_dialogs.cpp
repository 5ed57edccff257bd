// The user data dialog and the group dialog.
#include "pages/editors/editor_dialogs.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextCursor>

#include "app/frame_buttons.h"
#include "app/password_dialog.h"
#include "pages/editors/refusal_texts.h"
#include "params/def.h"
#include "widgets/buttons.h"
#include "widgets/cp1250.h"
#include "widgets/dialog_answers.h"
#include "widgets/messagebox.h"

namespace {

const QString ERROR_TITLE = QStringLiteral("Hiba !!");

// Converts to the server's code page; false when a character has no byte there.
bool toBytes(const QString& text, QByteArray* out) {
    std::string bytes;
    if (!toCp1250(text, bytes)) return false;
    *out = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return true;
}

QString notCp1250(const QString& label) {
    return QStringLiteral("%1 olyan karaktert tartalmaz, amely a Windows-1250 kódlapon nem írható "
                          "le !")
        .arg(label);
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, int w = 155) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 22);
    return l;
}

// The MAIL_NAME_2 parameter's value, or an empty text when there is none.
QString mailDomain() {
    const char* domain = vxGetParam("MAIL_NAME_2");
    return domain ? fromCp1250(domain) : QString();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// UserDataDialog

UserDataDialog::UserDataDialog(PasswordChange change, QWidget* parent)
    : QDialog(parent), m_changePassword(std::move(change)) {
    setWindowTitle(QStringLiteral("Felhasználó adatok"));
    resize(420, 370);
    const struct {
        const char* text;
        int max;
    } edits[5] = {{"Usernév:", kNameMax},
                  {"Teljes név:", kFullNameMax},
                  {"Telefon szám:", kPhoneMax},
                  {"Munkahelyi telefonszám:", kWorkPhoneMax},
                  {"Szobaszám:", kRoomMax}};
    for (int i = 0; i < 5; i++) {
        label(this, QString::fromUtf8(edits[i].text), 10, 10 + 30 * i);
        m_edits[i] = new QLineEdit(this);
        m_edits[i]->setMaxLength(edits[i].max);
        m_edits[i]->setGeometry(170, 10 + 30 * i, 235, 22);
    }
    m_edits[0]->setObjectName(QStringLiteral("nameEdit"));
    label(this, QStringLiteral("Megjegyzés:"), 10, 160);
    m_comment = new QPlainTextEdit(this);
    m_comment->setObjectName(QStringLiteral("commentEdit"));
    m_comment->setGeometry(170, 160, 235, 44);
    // Typing stops at the record's capacity: nothing is cut after the fact.
    connect(m_comment, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_comment->toPlainText();
        if (text.size() <= kCommentMax) return;
        QSignalBlocker block(m_comment);
        const int at = std::min<int>(m_comment->textCursor().position(), kCommentMax);
        m_comment->setPlainText(text.left(kCommentMax));
        QTextCursor cursor = m_comment->textCursor();
        cursor.setPosition(at);
        m_comment->setTextCursor(cursor);
    });
    label(this, QStringLiteral("Csoport:"), 10, 212);
    m_group = new QComboBox(this);
    m_group->setObjectName(QStringLiteral("groupList"));
    m_group->setGeometry(170, 212, 235, 24);
    m_proxy = new QCheckBox(QStringLiteral("Proxy"), this);
    m_mail = new QCheckBox(QStringLiteral("Mail"), this);
    m_super = new QCheckBox(QStringLiteral("Super"), this);
    m_proxy->setGeometry(20, 245, 90, 22);
    m_mail->setGeometry(130, 245, 90, 22);
    m_super->setGeometry(240, 245, 90, 22);
    connect(m_mail, &QCheckBox::clicked, this, &UserDataDialog::mailClicked);
    m_mailLabel = label(this, QStringLiteral("Email:"), 10, 280, 60);
    m_mailEdit = new QLineEdit(this);
    m_mailEdit->setObjectName(QStringLiteral("mailEdit"));
    m_mailEdit->setMaxLength(kMailMax);
    m_mailEdit->setGeometry(70, 280, 160, 22);
    m_domainLabel = label(this, QString(), 232, 280, 180);
    m_domainLabel->setObjectName(QStringLiteral("domainLabel"));

    m_ok = new RoundButton(this);
    m_cancel = new RoundButton(this);
    m_password = new RoundButton(this);
    m_password->setObjectName(QStringLiteral("button1032"));
    SetupActionButton(m_ok, 20, 320, 110, 35, QStringLiteral("&Ok"), Qt::black,
                      QColor(150, 150, 150), 8, 4);
    SetupActionButton(m_cancel, 155, 320, 110, 35, QStringLiteral("&Mégsem"), Qt::black,
                      QColor(80, 130, 130), 8, 4);
    SetupActionButton(m_password, 290, 320, 110, 35, QStringLiteral("Password"), Qt::black,
                      QColor(230, 90, 80), 8, 4);
    connect(m_ok, &RoundButton::clicked, this, &UserDataDialog::accept);
    connect(m_cancel, &RoundButton::clicked, this, &UserDataDialog::reject);
    connect(m_password, &RoundButton::clicked, this, &UserDataDialog::changePassword);
    setMailShown(false);
}

void UserDataDialog::setRecord(Mode mode, const UserRecord& record, const char* storedPassword) {
    m_mode = mode;
    m_storedPassword = QByteArray(storedPassword ? storedPassword : "");
    m_group->clear();
    for (int i = 0; i < serverData.groups.Count(); i++)
        m_group->addItem(fromCp1250(serverData.groups[i].name));
    if (mode == NewUser) {
        m_record = UserRecord{};
        m_record.group = -1;
        setWindowTitle(QStringLiteral("Új felhasználó adatai"));
        for (QLineEdit* edit : m_edits)
            edit->clear();
        m_comment->clear();
        m_group->setCurrentIndex(m_group->count() > 0 ? 0 : -1);
        m_proxy->setChecked(false);
        m_mail->setChecked(false);
        m_super->setChecked(false);
        m_mailEdit->clear();
        setMailShown(false);
        return;
    }
    m_record = record;
    setWindowTitle(QStringLiteral("Felhasználó adatainak módosítása"));
    const char* texts[5] = {record.name, record.fullName, record.phone, record.workPhone,
                            record.room};
    for (int i = 0; i < 5; i++)
        m_edits[i]->setText(fromCp1250(texts[i]));
    m_comment->setPlainText(fromCp1250(record.comment));
    m_group->setCurrentIndex(record.group >= 0 && record.group < m_group->count() ? record.group
                                                                                  : -1);
    m_proxy->setChecked(record.proxy != 0);
    m_mail->setChecked(record.mail != 0);
    m_super->setChecked(record.super != 0);
    // The address is kept without the right too (the details show it): ticking "Mail" offers it.
    m_mailEdit->setText(fromCp1250(record.mailName));
    m_domainLabel->setText(mailDomain());
    setMailShown(record.mail != 0);
}

void UserDataDialog::setMailShown(bool shown) {
    m_mailEdit->setVisible(shown);
    m_mailLabel->setVisible(shown);
    m_domainLabel->setVisible(shown);
}

void UserDataDialog::mailClicked(bool checked) {
    // Unticked, the address is hidden but kept in the edit until the dialog closes, so that
    // ticking again brings it back; only a ticked "Mail" saves it.
    if (checked) m_domainLabel->setText(mailDomain());
    setMailShown(checked);
}

void UserDataDialog::changePassword() {
    PasswordDialog dialog(this);
    dialog.setMode(m_mode == ModifyUser ? PasswordDialog::ChangePassword
                                        : PasswordDialog::NewPassword);
    if (dialog.exec() != QDialog::Accepted) return;
    if (dialog.newPassword() != dialog.confirmation()) {
        MessageBox::warning(this, QStringLiteral("Hiba !!!"),
                            QStringLiteral("Az ellenorzo password megadasa hibas!"));
        return;
    }
    QByteArray oldPlain = m_mode == ModifyUser ? dialog.oldPasswordBytes() : QByteArray();
    QByteArray newPlain = dialog.newPasswordBytes();
    char encrypted[sizeof m_record.password];
    std::snprintf(encrypted, sizeof encrypted, "%s", m_storedPassword.constData());
    int rc =
        m_changePassword(oldPlain.constData(), newPlain.constData(), encrypted, sizeof encrypted);
    if (rc < 0) {
        MessageBox::warning(this, QStringLiteral("Orvelan"),
                            QStringLiteral("Hiba a proxy szerveren !"));
    } else if (rc == 0) {
        MessageBox::warning(this, QStringLiteral("Hiba !!!"),
                            QStringLiteral("A regi password megadasa hibas!"));
    } else {
        std::memcpy(m_record.password, encrypted, sizeof m_record.password);
    }
}

// Reads the edits into out; false (with a message box shown) when a field cannot be stored.
bool UserDataDialog::readRecord(UserRecord* out) {
    UserRecord r = m_record;
    const struct {
        const char* label;
        QString text;
        char* member;
        size_t size;
    } fields[] = {
        {"Usernév", m_edits[0]->text(), r.name, sizeof r.name},
        {"Teljes név", m_edits[1]->text(), r.fullName, sizeof r.fullName},
        {"Telefon szám", m_edits[2]->text(), r.phone, sizeof r.phone},
        {"Munkahelyi telefonszám", m_edits[3]->text(), r.workPhone, sizeof r.workPhone},
        {"Szobaszám", m_edits[4]->text(), r.room, sizeof r.room},
        {"Megjegyzés", m_comment->toPlainText().left(kCommentMax), r.comment, sizeof r.comment},
        {"Email", m_mail->isChecked() ? m_mailEdit->text() : QString(), r.mailName,
         sizeof r.mailName},
    };
    for (const auto& f : fields) {
        QString name = QString::fromUtf8(f.label);
        QByteArray bytes;
        if (!toBytes(f.text, &bytes)) {
            MessageBox::warning(this, ERROR_TITLE, notCp1250(name));
            return false;
        }
        // Each text is cut to its capacity (one byte a character in the server's code page).
        bytes.truncate(static_cast<qsizetype>(f.size) - 1);
        QString refusal = f.member == r.name ? NameRefusal(QStringLiteral("A usernév"), bytes)
                                             : UserFieldRefusal(name, bytes);
        if (!refusal.isEmpty()) {
            MessageBox::warning(this, ERROR_TITLE, refusal);
            return false;
        }
        std::memcpy(f.member, bytes.constData(), static_cast<size_t>(bytes.size()));
        f.member[bytes.size()] = '\0';
    }
    r.group = m_group->currentIndex();
    r.proxy = m_proxy->isChecked() ? 1 : 0;
    r.mail = m_mail->isChecked() ? 1 : 0;
    r.super = m_super->isChecked() ? 1 : 0;
    *out = r;
    return true;
}

void UserDataDialog::accept() {
    if (m_edits[0]->text().isEmpty()) {
        MessageBox::warning(this, ERROR_TITLE, QStringLiteral("Nincs Usernév"));
        return;
    }
    if (m_mail->isChecked() && m_mailEdit->text().trimmed().isEmpty()) {
        MessageBox::warning(this, ERROR_TITLE, QStringLiteral("Nincs Email cím"));
        m_mailEdit->setFocus();
        return;
    }
    UserRecord r;
    if (!readRecord(&r)) return;
    if (m_check) {
        QString refusal = m_check(r);
        if (!refusal.isEmpty()) {
            MessageBox::warning(this, ERROR_TITLE, refusal);
            return;
        }
    }
    m_record = r;
    QDialog::accept();
}

void UserDataDialog::done(int result) {
    m_closed = true;
    QDialog::done(result);
}

int UserDataDialog::exec() {
    m_closed = false;
    setResult(Rejected);
    if (DialogAnswers::runForm(*this, m_closed)) return result();
    return QDialog::exec();
}

// ---------------------------------------------------------------------------------------------
// GroupDialog

GroupDialog::GroupDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString());
    resize(300, 130);
    label(this, QStringLiteral("Csoport név:"), 10, 12, 100);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_nameEdit->setMaxLength(255);
    m_nameEdit->setGeometry(110, 12, 180, 22);
    label(this, QStringLiteral("URL engedély:"), 10, 46, 100);
    m_allowBox = new QCheckBox(this);
    m_allowBox->setObjectName(QStringLiteral("allowBox"));
    m_allowBox->setGeometry(110, 46, 22, 22);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setDefault(true);
    m_ok->setGeometry(40, 90, 100, 28);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setGeometry(160, 90, 100, 28);
    connect(m_ok, &QPushButton::clicked, this, &GroupDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &GroupDialog::reject);
}

void GroupDialog::setName(const QByteArray& name) {
    m_name = name;
    m_nameEdit->setText(fromCp1250(std::string_view(name.constData(), name.size())));
}

void GroupDialog::setAllow(bool allow) {
    m_allow = allow;
    m_allowBox->setChecked(allow);
}

void GroupDialog::accept() {
    QByteArray name;
    if (!toBytes(m_nameEdit->text(), &name)) {
        MessageBox::warning(this, ERROR_TITLE, notCp1250(QStringLiteral("A csoportnév")));
        return;
    }
    if (m_check) {
        QString refusal = m_check(name);
        if (!refusal.isEmpty()) {
            MessageBox::warning(this, ERROR_TITLE, refusal);
            return;
        }
    }
    m_name = name;
    m_allow = m_allowBox->isChecked();
    QDialog::accept();
}

void GroupDialog::done(int result) {
    m_closed = true;
    QDialog::done(result);
}

int GroupDialog::exec() {
    m_closed = false;
    setResult(Rejected);
    if (DialogAnswers::runForm(*this, m_closed)) return result();
    return QDialog::exec();
}
