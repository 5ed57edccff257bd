// The text file dialogs: filters, default extension, the last name of each and the current
// directory kept.
#include "app/text_file_dialogs.h"

#include <QDir>
#include <QFileInfo>

#include "widgets/filedialog.h"

namespace {

const QString TEXT_FILE_FILTERS =
    QStringLiteral("Text files (*.txt);;Bin Files (*.bin);;All Files (*)");

// The name each dialog chose last, for the whole run.
QString lastOpenName, lastSaveName;

int askTextFile(bool save, QWidget* owner, QString* path) {
    const QString before = QDir::currentPath();
    QString selected = TEXT_FILE_FILTERS.section(QStringLiteral(";;"), 0, 0);
    QString& last = save ? lastSaveName : lastOpenName;
    QString chosen = save ? FileDialog::getSaveFileName(owner, QStringLiteral("Save a File"), last,
                                                        TEXT_FILE_FILTERS, &selected)
                          : FileDialog::getOpenFileName(owner, QStringLiteral("Open a File"), last,
                                                        TEXT_FILE_FILTERS, &selected);
    QDir::setCurrent(before);
    if (chosen.isEmpty()) return -1;
    // The default extension: a name typed without one gets ".txt".
    if (save && QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".txt");
    chosen = QFileInfo(chosen).absoluteFilePath();
    last = chosen;
    if (path) *path = chosen;
    return 0;
}

} // namespace

int AskOpenTextFile(QWidget* owner, QString* path) {
    return askTextFile(false, owner, path);
}

int AskSaveTextFile(QWidget* owner, QString* path) {
    return askTextFile(true, owner, path);
}
