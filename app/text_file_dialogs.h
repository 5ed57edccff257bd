// The pages' text file dialogs.
#pragma once

#include <QString>

class QWidget;

// Standard text file dialogs ("Open a File" / "Save a File") through the file dialog seam: 0 and
// the chosen full path, or -1 when cancelled. Each of the two keeps its own last file name for
// the run; the current directory is restored afterwards, also after a cancel.
int AskOpenTextFile(QWidget* owner, QString* path);
int AskSaveTextFile(QWidget* owner, QString* path);
