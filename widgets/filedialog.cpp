// File-dialog seam: real QFileDialog dialogs, or queued names and a record for tests.
#include "filedialog.h"

#include <QQueue>

namespace {

struct SeamState {
    bool testMode = false;
    QQueue<QString> names;
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
    if (!s.names.isEmpty()) return s.names.dequeue();
    if (s.testMode) return QString();
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

void FileDialog::setNextFileName(const QString& name) {
    state().names.enqueue(name);
}
void FileDialog::setTestMode(bool on) {
    state().testMode = on;
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
    state().names.clear();
}
