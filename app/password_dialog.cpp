// The password dialog: three masked fields laid out by mode, read into at most 255 characters.
#include "app/password_dialog.h"

#include <optional>
#include <string>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "widgets/cp1250.h"
#include "widgets/dialog_answers.h"
#include "widgets/messagebox.h"

namespace {

constexpr int PASSWORD_MAX = 255; // the fields' 256-byte buffers, NUL included

const QString PASSWORD_NOT_CP1250 =
    QStringLiteral("A jelszóban olyan karakter van, amely a Windows-1250 kódlapon nem írható le !");

QLineEdit* passwordField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setEchoMode(QLineEdit::Password);
    field->setMaxLength(PASSWORD_MAX);
    return field;
}

QLabel* fieldLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QByteArray bytesOf(const QString& text) {
    std::string out;
    if (!toCp1250(text, out)) return {};
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Password"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    m_oldLabel = fieldLabel(this, "label1035", QStringLiteral("Régi jelszó:"));
    m_oldField = passwordField(this, "field1034");
    m_newLabel = fieldLabel(this, "label1037", QStringLiteral("Új jelszó:"));
    m_newField = passwordField(this, "field1061");
    m_confirmLabel = fieldLabel(this, "label1039", QStringLiteral("Jelszó megerõsítés:"));
    m_confirmField = passwordField(this, "field1011");
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(m_ok, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &PasswordDialog::reject);
    layOut();
}

void PasswordDialog::setMode(int mode) {
    m_mode = mode >= 0 && mode <= 2 ? mode : 0;
}

void PasswordDialog::layOut() {
    bool change = m_mode == ChangePassword, single = m_mode == EnterPassword;
    m_oldLabel->setVisible(change);
    m_oldField->setVisible(change);
    m_newLabel->setVisible(!single);
    m_newField->setVisible(!single);
    m_confirmLabel->setText(single ? QStringLiteral("Password:")
                                   : QStringLiteral("Jelszó megerõsítés:"));
    if (m_mode == NewPassword) {
        m_newLabel->setGeometry(10, 25, 200, 14);
        m_newField->setGeometry(54, 48, 180, 24);
        m_confirmLabel->setGeometry(10, 85, 200, 14);
        m_confirmField->setGeometry(54, 108, 180, 24);
        m_ok->setGeometry(10, 150, 120, 25);
        m_cancel->setGeometry(150, 150, 120, 25);
        setFixedSize(300, 210);
        m_newField->setFocus();
    } else if (change) {
        m_oldLabel->setGeometry(10, 10, 200, 14);
        m_oldField->setGeometry(54, 25, 180, 20);
        m_newLabel->setGeometry(10, 55, 200, 14);
        m_newField->setGeometry(54, 70, 180, 20);
        m_confirmLabel->setGeometry(10, 100, 200, 14);
        m_confirmField->setGeometry(54, 115, 180, 20);
        m_ok->setGeometry(10, 155, 110, 30);
        m_cancel->setGeometry(140, 155, 110, 30);
        setFixedSize(280, 220);
        m_oldField->setFocus();
    } else {
        m_confirmLabel->setGeometry(10, 5, 200, 14);
        m_confirmField->setGeometry(54, 28, 180, 24);
        m_ok->setGeometry(10, 75, 120, 25);
        m_cancel->setGeometry(150, 75, 120, 25);
        setFixedSize(300, 135);
        m_confirmField->setFocus();
    }
}

void PasswordDialog::showEvent(QShowEvent* event) {
    layOut();
    move(100, 100);
    QDialog::showEvent(event);
}

void PasswordDialog::accept() {
    QString oldText = m_mode == ChangePassword ? m_oldField->text().left(PASSWORD_MAX) : QString();
    QString newText = m_mode != EnterPassword ? m_newField->text().left(PASSWORD_MAX) : QString();
    QString confirmText = m_confirmField->text().left(PASSWORD_MAX);
    // The server keeps Windows-1250 bytes: a character without one is refused, not changed.
    for (const QString& text : {oldText, newText, confirmText}) {
        std::string bytes;
        if (!toCp1250(text, bytes)) {
            MessageBox::warning(this, QStringLiteral("Orvelan"), PASSWORD_NOT_CP1250);
            return;
        }
    }
    m_old = oldText;
    m_new = newText;
    m_confirm = confirmText;
    QDialog::accept();
}

void PasswordDialog::reject() {
    m_old.clear();
    m_new.clear();
    m_confirm.clear();
    QDialog::reject();
}

QByteArray PasswordDialog::oldPasswordBytes() const {
    return bytesOf(m_old);
}
QByteArray PasswordDialog::newPasswordBytes() const {
    return bytesOf(m_new);
}
QByteArray PasswordDialog::confirmationBytes() const {
    return bytesOf(m_confirm);
}

int PasswordDialog::exec() {
    std::optional<DialogAnswers::Answer> answer =
        DialogAnswers::take(DialogAnswers::Dialog::Password, true);
    if (!answer && !DialogAnswers::testMode()) return QDialog::exec();
    layOut();
    setResult(Rejected);
    if (!answer) { // test mode without an answer: cancelled
        reject();
        return result();
    }
    m_oldField->setText(answer->texts.value(0));
    m_newField->setText(answer->texts.value(1));
    m_confirmField->setText(answer->texts.value(2));
    if (answer->ok)
        accept();
    else
        reject();
    return result();
}
