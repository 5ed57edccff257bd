// The dialogs' answer queue: one queue, taken in order, with a record of the dialogs that
// appeared without their answer.
#include "widgets/dialog_answers.h"

#include <QDialog>
#include <QQueue>

namespace {

struct QueueState {
    bool testMode = false;
    QQueue<DialogAnswers::Answer> answers;
    QStringList unexpected;
    int insertAt = -1; // while a form answer runs: where the answers it queues go
};

QueueState& state() {
    static QueueState s;
    return s;
}

QString dialogName(DialogAnswers::Dialog dialog) {
    switch (dialog) {
    case DialogAnswers::Dialog::MessageBox:
        return QStringLiteral("message box");
    case DialogAnswers::Dialog::FileDialog:
        return QStringLiteral("file dialog");
    case DialogAnswers::Dialog::TextInput:
        return QStringLiteral("text input dialog");
    case DialogAnswers::Dialog::Password:
        return QStringLiteral("password dialog");
    case DialogAnswers::Dialog::Form:
        return QStringLiteral("form dialog");
    }
    return {};
}

DialogAnswers::Answer answerOf(DialogAnswers::Dialog dialog, int button, bool ok,
                               QStringList texts) {
    DialogAnswers::Answer answer;
    answer.dialog = dialog;
    answer.button = button;
    answer.ok = ok;
    answer.texts = std::move(texts);
    return answer;
}

// Takes the queue's head; the place where a running form answer queues moves up with it.
DialogAnswers::Answer takeHead(QueueState& s) {
    if (s.insertAt > 0) s.insertAt--;
    return s.answers.dequeue();
}

} // namespace

void DialogAnswers::queue(Answer answer) {
    QueueState& s = state();
    if (s.insertAt >= 0)
        s.answers.insert(s.insertAt++, std::move(answer));
    else
        s.answers.enqueue(std::move(answer));
}

bool DialogAnswers::runForm(QDialog& dialog, const bool& closed) {
    QueueState& s = state();
    const QString name = QString::fromLatin1(dialog.metaObject()->className());
    if (s.answers.isEmpty() || s.answers.head().dialog != Dialog::Form) {
        if (!s.testMode) return false;
        s.unexpected << QStringLiteral("%1 without an answer").arg(name);
        return true; // in test mode no dialog ever appears: it stays as cancelled
    }
    while (!closed && !s.answers.isEmpty() && s.answers.head().dialog == Dialog::Form) {
        if (s.answers.head().formClass != name) {
            s.unexpected
                << QStringLiteral("%1 before %2 answer").arg(name, s.answers.head().formClass);
            return true;
        }
        Answer answer = takeHead(s);
        const int outer = s.insertAt;
        s.insertAt = 0;
        answer.act(dialog);
        s.insertAt = outer;
    }
    if (!closed) s.unexpected << QStringLiteral("%1 left open without an answer").arg(name);
    return true;
}

void DialogAnswers::button(int messageBoxButton) {
    queue(answerOf(Dialog::MessageBox, messageBoxButton, true, {}));
}

void DialogAnswers::fileName(const QString& path) {
    queue(answerOf(Dialog::FileDialog, 0, !path.isEmpty(), {path}));
}

void DialogAnswers::text(const QString& typed) {
    queue(answerOf(Dialog::TextInput, 0, true, {typed}));
}

void DialogAnswers::textCancel() {
    queue(answerOf(Dialog::TextInput, 0, false, {QString()}));
}

void DialogAnswers::password(const QString& password) {
    passwords(QString(), QString(), password);
}

void DialogAnswers::passwords(const QString& oldText, const QString& newText,
                              const QString& confirmText) {
    queue(answerOf(Dialog::Password, 0, true, {oldText, newText, confirmText}));
}

void DialogAnswers::passwordCancel() {
    queue(answerOf(Dialog::Password, 0, false, {QString(), QString(), QString()}));
}

std::optional<DialogAnswers::Answer> DialogAnswers::take(Dialog dialog, bool answerRequired) {
    QueueState& s = state();
    if (s.answers.isEmpty()) {
        if (s.testMode && answerRequired)
            s.unexpected << QStringLiteral("%1 without an answer").arg(dialogName(dialog));
        return std::nullopt;
    }
    if (s.answers.head().dialog != dialog) {
        if (answerRequired)
            s.unexpected << QStringLiteral("%1 before %2 answer")
                                .arg(dialogName(dialog), dialogName(s.answers.head().dialog));
        return std::nullopt;
    }
    return takeHead(s);
}

void DialogAnswers::setTestMode(bool on) {
    state().testMode = on;
}

bool DialogAnswers::testMode() {
    return state().testMode;
}

int DialogAnswers::pending() {
    return static_cast<int>(state().answers.size());
}

QStringList DialogAnswers::unexpected() {
    return state().unexpected;
}

void DialogAnswers::clear() {
    state().answers.clear();
    state().unexpected.clear();
}
