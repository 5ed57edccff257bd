// The editor pages against a stopped reference server: their remote work runs on the console's
// worker, the window keeps answering, and each operation fails within the call limit without
// leaving anything behind on either side.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "app/remote_runner.h"
#include "lib/vx_err.h"
#include "pages/editors/users_page.h"
#include "remote/vx_remote.h"
#include "tests/gui/editor_fixture.h"
#include "tests/gui/stall_probe.h"
#include "widgets/buttons.h"

namespace {

constexpr int kLimitMs = 1000;

// Lets the event loop run until check holds; false when it does not within ms.
template <class Check> bool settles(Check check, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!check()) {
        if (clock.elapsed() > ms) return false;
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return true;
}

// How often the server's log says `what`.
size_t logCount(const TestServer& server, const std::string& what) {
    const std::string log = server.logText();
    size_t n = 0;
    for (size_t at = 0; (at = log.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

class EditorStallTest : public EditorTest {
  protected:
    void TearDown() override {
        server.resume();
        vxSetCallTimeout(0);
        EditorTest::TearDown();
    }
    // The page shown and its first load for viewing done.
    void shown(UsersPage& page) {
        ASSERT_TRUE(waitRemoteIdle());
        page.command(CMD_PAGE_SHOWN);
    }
    // Stops the server and clicks the button; the operation is on the worker at once, the page's
    // buttons are locked and a second click does nothing. Returns the milliseconds until its
    // outcome was shown and the longest stall of the UI thread meanwhile.
    void stalled(UsersPage& page, EditorPage::Button button, qint64* took, qint64* stall) {
        vxSetCallTimeout(kLimitMs);
        server.pause();
        vxClearError();
        StallProbe probe;
        QElapsedTimer clock;
        clock.start();
        page.button(button)->click();
        EXPECT_TRUE(page.running());
        EXPECT_TRUE(RemoteRunner::instance()->busy());
        for (int b = 0; b < EditorPage::ButtonCount; b++)
            EXPECT_FALSE(page.button(EditorPage::Button(b))->isEnabled()) << b;
        page.loadForEditing();
        page.save();
        page.abandon();
        ASSERT_TRUE(waitRemoteIdle(30 * kLimitMs));
        *took = clock.elapsed();
        *stall = probe.longest();
        EXPECT_FALSE(page.running());
    }
    // After the server goes on: no checkout lock, and every instance handed out is released
    // again (the spare workers stay registered).
    void nothingLeftOnTheServer() {
        server.resume();
        auto balanced = [this] {
            return logCount(server, " 5 ASK -> ") == logCount(server, " released (");
        };
        EXPECT_TRUE(settles(balanced)) << server.logText();
        EXPECT_GT(logCount(server, " 5 ASK -> "), 0u);
        EXPECT_EQ(lockCopies(), "");
    }
};

// A load for editing: nothing is checked out, no working copy is left, the page stays in viewing
// with the timed-out call as the failure's cause; once the server goes on, the next load edits.
TEST_F(EditorStallTest, ALoadFailsInTimeAndLeavesNothingBehind) {
    UsersPage page(entryAt(1, 1), &owner);
    shown(page);
    qint64 took = 0, stall = 0;
    stalled(page, EditorPage::Load, &took, &stall);
    EXPECT_LT(took, 3 * kLimitMs + 1000);
    EXPECT_LT(stall, StallProbe::kTickMs + 100);
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    // A checkout that gets no answer looks like one another console holds: the detail line
    // names the cause.
    EXPECT_EQ(page.statusText(), "Konkurens használat !");
    EXPECT_NE(page.statusDetail().indexOf("RPC: Timed out"), -1)
        << page.statusDetail().toStdString();
    EXPECT_FALSE(page.editing());
    EXPECT_TRUE(owner.commands.isEmpty());
    EXPECT_TRUE(page.button(EditorPage::Load)->isEnabled());
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
    nothingLeftOnTheServer();

    vxSetCallTimeout(0);
    page.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    ASSERT_TRUE(page.editing()) << page.statusText().toStdString();
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(lockCopies(), "");
}

// A save: the server's files stay as they were, the edit stays open with its locks so that it
// can be saved again or abandoned, and the abandon after the server goes on releases everything.
TEST_F(EditorStallTest, ASaveFailsInTimeAndTheServerFilesStay) {
    UsersPage page(entryAt(1, 1), &owner);
    startEditing(page);
    page.selectUser(0);
    DialogAnswers::button(MessageBox::Ok);
    page.button(EditorPage::Delete)->click();
    shownTexts();
    qint64 took = 0, stall = 0;
    stalled(page, EditorPage::Save, &took, &stall);
    EXPECT_LT(took, 3 * kLimitMs + 1000);
    EXPECT_LT(stall, StallProbe::kTickMs + 100);
    EXPECT_EQ(vxLastError().kind, VX_KIND_RPC) << vxLastError().text;
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    EXPECT_NE(page.statusDetail().indexOf("RPC: Timed out"), -1)
        << page.statusDetail().toStdString();
    EXPECT_TRUE(page.editing());
    EXPECT_EQ(owner.commands, QList<int>{CMD_LOCK_TREE});
    EXPECT_EQ(column(page.sheet(), 1), "béla|||||||||||");

    server.resume();
    vxSetCallTimeout(0);
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
    EXPECT_EQ(file("/l/apache/etc/userdata"), kUserData);
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
    nothingLeftOnTheServer();
}

// A page that goes (the window closing) while its load waits for the stopped server: the load is
// cancelled at once rather than waited for, and nothing stays checked out.
TEST_F(EditorStallTest, APageGoneWhileItsLoadRunsCancelsItAndLeavesNoLock) {
    auto* page = new UsersPage(entryAt(1, 1), &owner);
    shown(*page);
    server.pause();
    page->button(EditorPage::Load)->click();
    ASSERT_TRUE(page->running());
    QEventLoop wait; // the worker is waiting for the server by now
    QTimer::singleShot(300, &wait, &QEventLoop::quit);
    wait.exec();
    QElapsedTimer took;
    took.start();
    delete page;
    // The cancelled checkout's own release waits at most its limit.
    EXPECT_LT(took.elapsed(), VX_RELEASE_TIMEOUT_MS + 500);
    ASSERT_TRUE(waitRemoteIdle(5000));
    EXPECT_TRUE(owner.commands.isEmpty());
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
    nothingLeftOnTheServer();
}

// A page that goes while it edits (the window closing) releases its locks before it is gone.
TEST_F(EditorStallTest, APageGoneWhileItEditsReleasesItsLocks) {
    auto* page = new UsersPage(entryAt(1, 1), &owner);
    startEditing(*page);
    EXPECT_TRUE(locked("/l/apache/etc/users"));
    EXPECT_TRUE(locked("/l/apache/etc/userdata"));
    delete page;
    EXPECT_FALSE(RemoteRunner::instance()->busy());
    EXPECT_EQ(lockCopies(), "");
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
}

} // namespace
