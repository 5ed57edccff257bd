// Fixture of the editor pages' GUI tests: a reference server with users, groups and permit lists.
#pragma once

#include <crypt.h>
#include <filesystem>
#include <string>

#include "app/commands.h"
#include "pages/editors/editor_dialogs.h"
#include "pages/editors/editor_page.h"
#include "tests/gui/app_fixture.h"
#include "tests/support/demo_root.h"
#include "widgets/vcf1.h"

class EditorTest : public AppTest {
  protected:
    // The lists the server starts with (Windows-1250 bytes).
    static constexpr const char* kGroups = "diak d \"/l/apache/etc/permit/diak.deny\"\r\n"
                                           "tanar a \"/l/apache/etc/permit/tanar.allow\"\r\n";
    static constexpr const char* kUsers = "anna:diak:wjabcdefghijk:p:e::anna:\r\n"
                                          "b\xE9la:tanar::p::s::\r\n";
    static constexpr const char* kUserData = "anna :Kiss Anna :123 :12 :456 :megj \r\n"
                                             "b\xE9la :Nagy B\xE9la : : : : \r\n";
    static constexpr const char* kDiakDeny = "games.example.com\nwww.chat.example.org\n";
    static constexpr const char* kTanarAllow = "www.school.example.hu\n";

    void SetUp() override { setUpWith(DemoRootOptions{"./kaka", "./grouppen", "./kaka"}); }

    void setUpWith(const DemoRootOptions& options) {
        AppTest::SetUp();
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(buildDemoRoot(server, options));
        ASSERT_TRUE(connectConsole(server));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", kGroups));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/users", kUsers));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/userdata", kUserData));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/permit/diak.deny", kDiakDeny));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/permit/tanar.allow", kTanarAllow));
        serverData.session.SelectedLevel = serverData.session.GrantedLevel = 1;
        serverData.urls.currentGroup = -1;
        // What the main window loads at start-up.
        ASSERT_EQ(serverData.groups.Load(false), 1);
        ASSERT_EQ(serverData.users.Load(false), 1);
    }

    // The page after a successful "&Behívás".
    template <class P> static void startEditing(P& page) {
        ASSERT_TRUE(waitRemoteIdle()); // the page's first load for viewing
        page.command(CMD_PAGE_SHOWN);
        page.button(EditorPage::Load)->click();
        ASSERT_TRUE(waitRemoteIdle());
        ASSERT_TRUE(page.editing()) << page.statusText().toStdString();
    }
    // The server's "orvelan.cnf" set to the line (a post-save command), and the console
    // connected again so that it reads it.
    void serverConfig(const std::string& line) {
        ASSERT_TRUE(server.writeFile("orvelan.cnf", line + "\n"));
        vxResetParams();
        ASSERT_TRUE(connectConsole(server));
    }
    std::string file(const std::string& serverPath) const { return server.readFile(serverPath); }
    bool locked(const std::string& serverPath) const {
        return server.exists(serverPath + "._vx_lck_");
    }
    // Every lock copy left under the server's list directory.
    std::string lockCopies() const {
        std::string found;
        for (const auto& e :
             std::filesystem::recursive_directory_iterator(server.local("/l/apache/etc")))
            if (e.path().string().find("._vx_lck_") != std::string::npos)
                found += e.path().filename().string() + " ";
        return found;
    }
    static std::string crypted(const char* plain) { return crypt(plain, "wj"); }
    // Column texts of a sheet, rows 1 to its row count, joined by "|".
    static QString column(CVCF1* sheet, int col) {
        QStringList texts;
        for (long row = 1; row <= sheet->GetMaxRow(); row++)
            texts << sheet->GetTextRC(row, col);
        return texts.join(QLatin1Char('|'));
    }

    TestServer server;
    CommandRecorder owner;
};
