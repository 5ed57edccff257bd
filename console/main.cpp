// The console's entry: start-up checks, their message, then the main window with the console's
// pages until it closes.
#include <string>

#include <QApplication>

#include "app/host_key_question.h"
#include "app/main_window.h"
#include "app/startup_window.h"
#include "lib/vx_version.h"
#include "pages/page_table.h"
#include "serverdata/startup.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it works without a display.
    if (vxVersionRequested("orvelan", argc, argv)) return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvelan"));

    // The command line after the program name, as one text (Qt's own options already removed).
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    installHostKeyQuestion();
    int exitCode = ShowStartupOutcome(RunStartup(commandLine.c_str()));
    if (exitCode >= 0) return exitCode;

    MainWindow window(consolePages());
    window.show();
    return app.exec();
}
