// Wait cursor for the length of a scope, over the application's override-cursor stack.
#include "widgets/waitcursor.h"

#include <QApplication>
#include <QCursor>

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}
WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}
