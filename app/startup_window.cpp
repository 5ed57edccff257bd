// The window side of the start-up: its message box and exit code.
#include "app/startup_window.h"

#include <QString>

#include "serverdata/startup.h"
#include "widgets/messagebox.h"

int ShowStartupOutcome(const StartupResult& result) {
    if (result.messageText)
        MessageBox::plain(nullptr,
                          QString::fromUtf8(result.messageTitle ? result.messageTitle : "Orvelan"),
                          QString::fromUtf8(result.messageText));
    return result.exitCode >= 0 ? result.exitCode : -1;
}
