// The answer queue of the console's dialogs: message boxes, file dialogs, the text input dialog
// and the password dialog take their answer from here before they would show anything, so a test
// answers them in advance, in the order it expects them to appear.
//
//     DialogAnswers::fileName("/tmp/lista.txt");        // the open dialog
//     DialogAnswers::button(MessageBox::Yes);           // then the confirmation
//     page.importList();
//     EXPECT_EQ(DialogAnswers::pending(), 0);
//     EXPECT_EQ(DialogAnswers::unexpected(), QStringList());
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

class DialogAnswers {
  public:
    enum class Dialog { MessageBox, FileDialog, TextInput, Password };

    struct Answer {
        Dialog dialog = Dialog::MessageBox;
        int button = 0;    // message box: the MessageBox::Button pressed
        bool ok = true;    // text input and password dialogs: OK (true) or Cancel
        QStringList texts; // file dialog: {path} (empty: cancelled); text input: {typed};
                           // password dialog: {old, new, confirmation}
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
