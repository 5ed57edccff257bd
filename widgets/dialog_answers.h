// The answer queue of the console's dialogs: message boxes, file dialogs, the text input dialog
// and the password dialog take their answer from here before they would show anything, so a test
// answers them in advance, in the order it expects them to appear.
//
//     DialogAnswers::fileName("/tmp/lista.txt");        // the open dialog
//     DialogAnswers::button(MessageBox::Yes);           // then the confirmation
//     page.importList();
//     EXPECT_EQ(DialogAnswers::pending(), 0);
//     EXPECT_EQ(DialogAnswers::unexpected(), QStringList());
//
// A form dialog of the console's own (a QDialog that the user fills in) takes answers that act on
// it, typing and clicking, until one of them closes it:
//
//     DialogAnswers::form<GroupDialog>([](GroupDialog& d) { d.nameEdit()->setText("x"); ... });
#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

class QDialog;

class DialogAnswers {
  public:
    enum class Dialog { MessageBox, FileDialog, TextInput, Password, Form };

    struct Answer {
        Dialog dialog = Dialog::MessageBox;
        int button = 0;    // message box: the MessageBox::Button pressed
        bool ok = true;    // text input and password dialogs: OK (true) or Cancel
        QStringList texts; // file dialog: {path} (empty: cancelled); text input: {typed};
                           // password dialog: {old, new, confirmation}
        std::function<void(QDialog&)> act; // form: what the answer does on the open dialog
        QString formClass;                 // form: the class of dialog it answers
    };

    // Queue the answer of the next dialog of a kind (answers are used in the order queued).
    static void button(int messageBoxButton);
    static void fileName(const QString& path); // an empty path answers "cancelled"
    static void text(const QString& typed);    // typed, then OK
    static void textCancel();
    // The password dialog: one password (entry mode; the confirmation field), or all three fields.
    static void password(const QString& password);
    static void passwords(const QString& oldText, const QString& newText,
                          const QString& confirmText);
    static void passwordCancel();
    // One answer of a form dialog of class D: act runs on the open dialog.
    template <class D> static void form(std::function<void(D&)> act) {
        Answer answer;
        answer.dialog = Dialog::Form;
        answer.formClass = QString::fromLatin1(D::staticMetaObject.className());
        answer.act = [act = std::move(act)](QDialog& dialog) { act(static_cast<D&>(dialog)); };
        queue(std::move(answer));
    }

    // The form dialog's side, called by its exec(): runs the queued answers of its class on it
    // while it stays open (closed turns true when an answer closes it); answers queued while one
    // runs (a message box or password answer for what it clicks) come before those queued
    // earlier. False when the queue's head answers no form dialog: the real dialog is shown. A
    // dialog still open when its answers ran out is recorded as unexpected.
    static bool runForm(QDialog& dialog, const bool& closed);

    // The seams' side: the queue's head when it answers this kind of dialog (it is taken off the
    // queue); nothing when the queue is empty or its head answers another kind of dialog (the
    // head stays). A dialog without a default answer (answerRequired: the text input and
    // password dialogs) that gets nothing is recorded as unexpected: always when another kind's
    // answer is at the head, in test mode also when the queue is empty. Message boxes and file
    // dialogs take their default instead; an answer they leave unused stays pending.
    static std::optional<Answer> take(Dialog dialog, bool answerRequired = false);

    // Test mode: no dialog ever appears. A dialog without an answer takes its default: the first
    // button of a message box, "cancelled" for the others.
    static void setTestMode(bool on);
    static bool testMode();

    // Answers not yet used, and the text input and password dialogs that appeared without their
    // answer ("password dialog before message box answer", "text input dialog without an
    // answer").
    static int pending();
    static QStringList unexpected();
    // Forgets the queued answers and the unexpected dialogs.
    static void clear();

  private:
    static void queue(Answer answer);
};
