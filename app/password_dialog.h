// The dialog that asks for passwords: a new one (mode 0), a change (mode 1) or one password
// (mode 2).
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    enum Mode { NewPassword = 0, ChangePassword = 1, EnterPassword = 2 };

    explicit PasswordDialog(QWidget* parent = nullptr);

    // Values outside 0 to 2 are stored as 0. Takes effect when the dialog opens.
    void setMode(int mode);
    int mode() const { return m_mode; }

    // What OK stored (at most 255 characters each): the old password (mode 1 only), the new
    // one (modes 0 and 1), the confirmation (modes 0 and 1) or the one password (mode 2). All
    // empty after Cancel.
    QString oldPassword() const { return m_old; }
    QString newPassword() const { return m_new; }
    QString confirmation() const { return m_confirm; }
    // The same in Windows-1250, as the server stores them (OK refuses text it cannot represent).
    QByteArray oldPasswordBytes() const;
    QByteArray newPasswordBytes() const;
    QByteArray confirmationBytes() const;

    // Lays the dialog out for its mode (done when it is shown).
    void layOut();

    QLineEdit* oldField() const { return m_oldField; }
    QLineEdit* newField() const { return m_newField; }
    QLineEdit* confirmField() const { return m_confirmField; }
    QLabel* oldLabel() const { return m_oldLabel; }
    QLabel* newLabel() const { return m_newLabel; }
    QLabel* confirmLabel() const { return m_confirmLabel; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    void accept() override;
    void reject() override;

    // Shows the dialog modally. An answer of the answer queue (DialogAnswers::password,
    // passwords, passwordCancel) is taken instead without showing anything: its texts (old, new,
    // confirmation; mode 2 uses the confirmation as its one password) are typed into the fields
    // and OK (through the same checks) or Cancel is pressed. In the queue's test mode a dialog
    // without an answer is cancelled.
    int exec() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    int m_mode = 0;
    QString m_old, m_new, m_confirm;
    QLineEdit *m_oldField, *m_newField, *m_confirmField;
    QLabel *m_oldLabel, *m_newLabel, *m_confirmLabel;
    QPushButton *m_ok, *m_cancel;
};
