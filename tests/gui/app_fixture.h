// Fixture of the application shell's GUI tests: a fresh working directory and registry store per
// test, the process-wide state emptied, and every message box and dialog answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include <filesystem>
#include <ostream>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "def.h"
#include "filedialog.h"
#include "help_window.h"
#include "messagebox.h"
#include "page_frame.h"
#include "password_dialog.h"
#include "server_data.h"
#include "startup.h"
#include "vx_err.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        home = std::filesystem::current_path();
        dir = std::filesystem::temp_directory_path() /
              ("vxapp-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        setenv("ORVELAN_REGISTRY", (dir / "registry.reg").c_str(), 1);
        vxResetParams();
        vxClearError();
        serverData.Reset();
        noServer = 0;
        MessageBox::setTestMode(true);
        MessageBox::clearShown();
        FileDialog::setTestMode(true);
        FileDialog::clearRequests();
        PasswordDialog::clearAnswers();
        TextInputDialog::clearAnswers();
    }
    void TearDown() override {
        HelpWindow::closeHelp();
        EXPECT_EQ(PasswordDialog::queuedAnswers(), 0) << "a queued dialog answer was not used";
        PasswordDialog::clearAnswers();
        std::filesystem::current_path(home);
        unsetenv("ORVELAN_REGISTRY");
        std::filesystem::remove_all(dir);
        noServer = 0;
    }
    static std::string get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Texts of the message boxes shown since the last call, joined by "|".
    static QString shownTexts() {
        QStringList texts;
        for (const MessageBox::Shown& s : MessageBox::shown())
            texts << s.text;
        MessageBox::clearShown();
        return texts.join(QLatin1Char('|'));
    }
    std::filesystem::path home, dir;
};
