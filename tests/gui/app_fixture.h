// Fixture of the application shell's GUI tests: fresh state and every dialog answered by the test.
#pragma once

#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include <QEventLoop>
#include <QList>
#include <QTimer>
#include <QWidget>

#include "app/help_window.h"
#include "app/page.h"
#include "app/password_dialog.h"
#include "app/remote_runner.h"
#include "app/text_input_dialog.h"
#include "pages/page_table.h"
#include "serverdata/startup.h"
#include "tests/support/sd_fixture.h"
#include "widgets/dialog_answers.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// The console's page table row at (group, page).
inline const PageEntry& entryAt(int group, int page) {
    return *consolePages().find(group, page);
}

// Stands for the main window: records every command a page sends upwards.
class CommandRecorder : public QWidget, public CommandTarget {
  public:
    void command(int id, quintptr param) override {
        commands << id;
        params << param;
    }
    QList<int> commands;
    QList<quintptr> params;
};

// Waits until the remote worker has handed back every outcome queued so far (the pages' loads,
// saves and queries); false when it is still busy after ms.
inline bool waitRemoteIdle(int ms = 60000) {
    RemoteRunner* runner = RemoteRunner::instance();
    if (!runner->busy()) return true;
    QEventLoop idle;
    QObject::connect(runner, &RemoteRunner::busyChanged, &idle, [&idle](bool busy) {
        if (!busy) idle.quit();
    });
    QTimer::singleShot(ms, &idle, &QEventLoop::quit);
    idle.exec();
    return !runner->busy();
}

// The data layer's fixture (fresh working directory, registry store, parameters and tables); the
// test fails when it leaves a queued dialog answer unused or met a dialog it did not expect.
class AppTest : public DataDirTest {
  protected:
    void SetUp() override {
        DataDirTest::SetUp();
        noServer = 0; // the seams are reset for every test by the shared main
    }
    void TearDown() override {
        HelpWindow::closeHelp();
        EXPECT_EQ(DialogAnswers::pending(), 0) << "a queued dialog answer was not used";
        EXPECT_EQ(DialogAnswers::unexpected(), QStringList());
        DialogAnswers::clear();
        DataDirTest::TearDown();
        noServer = 0;
    }
    // Texts of the message boxes shown since the last call, joined by "|".
    static QString shownTexts() {
        QStringList texts;
        for (const MessageBox::Shown& s : MessageBox::shown())
            texts << s.text;
        MessageBox::clearShown();
        return texts.join(QLatin1Char('|'));
    }
};
