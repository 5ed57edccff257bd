// Message-box seam: real QMessageBox dialogs, or the answer queue's answers, and a record for
// tests.
#include "widgets/messagebox.h"

#include <QMessageBox>

#include "widgets/dialog_answers.h"

namespace {

struct SeamState {
    QList<MessageBox::Shown> shown;
};

SeamState& state() {
    static SeamState s;
    return s;
}

MessageBox::Button firstButton(MessageBox::Buttons buttons) {
    return buttons == MessageBox::OkOnly || buttons == MessageBox::OkCancel ? MessageBox::Ok
                                                                            : MessageBox::Yes;
}

QMessageBox::StandardButtons standardButtons(MessageBox::Buttons buttons) {
    switch (buttons) {
    case MessageBox::OkOnly:
        return QMessageBox::Ok;
    case MessageBox::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageBox::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageBox::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

MessageBox::Button fromStandard(int result, MessageBox::Buttons buttons) {
    switch (result) {
    case QMessageBox::Ok:
        return MessageBox::Ok;
    case QMessageBox::Yes:
        return MessageBox::Yes;
    case QMessageBox::No:
        return MessageBox::No;
    case QMessageBox::Cancel:
        return MessageBox::Cancel;
    default:
        break;
    }
    if (buttons == MessageBox::YesNo) return MessageBox::No;
    return buttons == MessageBox::OkOnly ? MessageBox::Ok : MessageBox::Cancel;
}

} // namespace

MessageBox::Button MessageBox::show(Kind kind, QWidget* parent, const QString& title,
                                    const QString& text, Buttons buttons) {
    SeamState& s = state();
    Shown record{kind, title, text, buttons, NoButton};
    if (auto answer = DialogAnswers::take(DialogAnswers::Dialog::MessageBox)) {
        record.answer = static_cast<Button>(answer->button);
    } else if (DialogAnswers::testMode()) {
        record.answer = firstButton(buttons);
    } else {
        static const QMessageBox::Icon icons[] = {QMessageBox::Information, QMessageBox::Question,
                                                  QMessageBox::Warning, QMessageBox::Critical,
                                                  QMessageBox::NoIcon};
        QMessageBox box(icons[kind], title, text, standardButtons(buttons), parent);
        record.answer = fromStandard(box.exec(), buttons);
    }
    s.shown.append(record);
    return record.answer;
}

MessageBox::Button MessageBox::information(QWidget* parent, const QString& title,
                                           const QString& text, Buttons buttons) {
    return show(Information, parent, title, text, buttons);
}

MessageBox::Button MessageBox::question(QWidget* parent, const QString& title, const QString& text,
                                        Buttons buttons) {
    return show(Question, parent, title, text, buttons);
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& title, const QString& text,
                                       Buttons buttons) {
    return show(Warning, parent, title, text, buttons);
}

MessageBox::Button MessageBox::critical(QWidget* parent, const QString& title, const QString& text,
                                        Buttons buttons) {
    return show(Critical, parent, title, text, buttons);
}

MessageBox::Shown MessageBox::lastShown() {
    const SeamState& s = state();
    return s.shown.isEmpty() ? Shown{} : s.shown.last();
}

QList<MessageBox::Shown> MessageBox::shown() {
    return state().shown;
}

void MessageBox::clearShown() {
    state().shown.clear();
}

MessageBox::Button MessageBox::plain(QWidget* parent, const QString& title, const QString& text,
                                     Buttons buttons) {
    return show(Plain, parent, title, text, buttons);
}
