// The dialogs' answer queue: one queue, taken in order, with a record of the dialogs that
// appeared without their answer.
#include "widgets/dialog_answers.h"

#include <QQueue>

namespace {

struct QueueState {
    bool testMode = false;
    QQueue<DialogAnswers::Answer> answers;
    QStringList unexpected;
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
    }
    return {};
}

} // namespace

void DialogAnswers::queue(Answer answer) {
    state().answers.enqueue(std::move(answer));
}

void DialogAnswers::button(int messageBoxButton) {
    queue({Dialog::MessageBox, messageBoxButton, true, {}});
}

void DialogAnswers::fileName(const QString& path) {
    queue({Dialog::FileDialog, 0, !path.isEmpty(), {path}});
}

void DialogAnswers::text(const QString& typed) {
    queue({Dialog::TextInput, 0, true, {typed}});
}

void DialogAnswers::textCancel() {
    queue({Dialog::TextInput, 0, false, {QString()}});
}

void DialogAnswers::password(const QString& password) {
    passwords(QString(), QString(), password);
}

void DialogAnswers::passwords(const QString& oldText, const QString& newText,
                              const QString& confirmText) {
    queue({Dialog::Password, 0, true, {oldText, newText, confirmText}});
}

void DialogAnswers::passwordCancel() {
    queue({Dialog::Password, 0, false, {QString(), QString(), QString()}});
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
    return s.answers.dequeue();
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
