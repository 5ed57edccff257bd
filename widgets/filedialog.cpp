// File-dialog seam: real QFileDialog dialogs, or the answer queue's names, and a record for tests.
#include "widgets/filedialog.h"

#include "widgets/dialog_answers.h"

namespace {

struct SeamState {
    QList<FileDialog::Request> requests;
};

SeamState& state() {
    static SeamState s;
    return s;
}

} // namespace

QString FileDialog::ask(bool save, QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter, QString* selectedFilter,
                        QFileDialog::Options options) {
    SeamState& s = state();
    s.requests.append(Request{save, caption, dir, filter});
    if (auto answer = DialogAnswers::take(DialogAnswers::Dialog::FileDialog))
        return answer->texts.value(0);
    if (DialogAnswers::testMode()) return QString();
    return save
               ? QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter, options)
               : QFileDialog::getOpenFileName(parent, caption, dir, filter, selectedFilter,
                                              options);
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter, QString* selectedFilter,
                                    QFileDialog::Options options) {
    return ask(false, parent, caption, dir, filter, selectedFilter, options);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter, QString* selectedFilter,
                                    QFileDialog::Options options) {
    return ask(true, parent, caption, dir, filter, selectedFilter, options);
}

FileDialog::Request FileDialog::lastRequest() {
    const SeamState& s = state();
    return s.requests.isEmpty() ? Request{} : s.requests.last();
}

QList<FileDialog::Request> FileDialog::requests() {
    return state().requests;
}

void FileDialog::clearRequests() {
    state().requests.clear();
}
