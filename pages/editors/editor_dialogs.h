// The editor pages' own dialogs: the user data dialog of the users page and the group dialog of
// the user groups page. Both refuse, with a message box and staying open, what the list files
// cannot hold, so nothing typed is lost.
#pragma once

#include <functional>

#include <QDialog>
#include <QList>
#include <QString>

#include "serverdata/server_data.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class RoundButton;

// One proxy user's record: name, personal data, group, rights, e-mail name and password.
class UserDataDialog : public QDialog {
    Q_OBJECT
  public:
    enum Mode { NewUser, ModifyUser };

    // Called on "&Ok" with the record read from the dialog; returns the refusal text, or an
    // empty text to accept (the users page refuses a name another user has).
    using Check = std::function<QString(const UserRecord&)>;

    // What "Password" runs: the change through the server's crypt, with the contract of
    // ConsolePasswords::Change (encrypted holds the stored password on entry, the new one on 1;
    // 0 the old password is wrong; -1 a failure).
    using PasswordChange = std::function<int(const char* oldPlain, const char* newPlain,
                                             char* encrypted, size_t encryptedSize)>;

    explicit UserDataDialog(PasswordChange change, QWidget* parent = nullptr);

    // New mode: an empty record. Modify mode: a copy of the user's record. storedPassword is
    // what the user table holds for the user ("Password" checks the old password against it).
    void setRecord(Mode mode, const UserRecord& record, const char* storedPassword);
    void setCheck(Check check) { m_check = std::move(check); }
    Mode mode() const { return m_mode; }
    const UserRecord& record() const { return m_record; }

    QLineEdit* nameEdit() const { return m_edits[0]; }
    QLineEdit* fullNameEdit() const { return m_edits[1]; }
    QLineEdit* phoneEdit() const { return m_edits[2]; }
    QLineEdit* workPhoneEdit() const { return m_edits[3]; }
    QLineEdit* roomEdit() const { return m_edits[4]; }
    QPlainTextEdit* commentEdit() const { return m_comment; }
    QComboBox* groupList() const { return m_group; }
    QCheckBox* proxyBox() const { return m_proxy; }
    QCheckBox* mailBox() const { return m_mail; }
    QCheckBox* superBox() const { return m_super; }
    QLineEdit* mailEdit() const { return m_mailEdit; }
    QLabel* mailLabel() const { return m_mailLabel; }
    QLabel* domainLabel() const { return m_domainLabel; }
    RoundButton* okButton() const { return m_ok; }
    RoundButton* cancelButton() const { return m_cancel; }
    RoundButton* passwordButton() const { return m_password; }

    int exec() override;
    void accept() override;
    void done(int result) override;

    // The capacities of the edits in characters (one byte each in the server's code page): what
    // the record's members hold.
    static constexpr int kNameMax = sizeof UserRecord::name - 1,
                         kFullNameMax = sizeof UserRecord::fullName - 1,
                         kPhoneMax = sizeof UserRecord::phone - 1,
                         kWorkPhoneMax = sizeof UserRecord::workPhone - 1,
                         kRoomMax = sizeof UserRecord::room - 1,
                         kCommentMax = sizeof UserRecord::comment - 1,
                         kMailMax = sizeof UserRecord::mailName - 1;

  private:
    void mailClicked(bool checked);
    void setMailShown(bool shown);
    void changePassword();
    bool readRecord(UserRecord* out);

    PasswordChange m_changePassword;
    Mode m_mode = NewUser;
    UserRecord m_record{};
    QByteArray m_storedPassword;
    Check m_check;
    bool m_closed = false;
    QLineEdit* m_edits[5];
    QPlainTextEdit* m_comment;
    QComboBox* m_group;
    QCheckBox *m_proxy, *m_mail, *m_super;
    QLineEdit* m_mailEdit;
    QLabel *m_mailLabel, *m_domainLabel;
    RoundButton *m_ok, *m_cancel, *m_password;
};

// A group's name and whether its list is an allow list.
class GroupDialog : public QDialog {
    Q_OBJECT
  public:
    // Called on "OK" with the name in the server's code page; the refusal text or empty.
    using Check = std::function<QString(const QByteArray& name)>;

    explicit GroupDialog(QWidget* parent = nullptr);

    void setName(const QByteArray& name); // Windows-1250 bytes
    void setAllow(bool allow);
    void setCheck(Check check) { m_check = std::move(check); }
    QByteArray name() const { return m_name; } // after "OK"
    bool allow() const { return m_allow; }

    QLineEdit* nameEdit() const { return m_nameEdit; }
    QCheckBox* allowBox() const { return m_allowBox; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    int exec() override;
    void accept() override;
    void done(int result) override;

  private:
    QByteArray m_name;
    bool m_allow = false;
    Check m_check;
    bool m_closed = false;
    QLineEdit* m_nameEdit;
    QCheckBox* m_allowBox;
    QPushButton *m_ok, *m_cancel;
};
