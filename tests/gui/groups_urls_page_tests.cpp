// The user groups page and the URL control page against the reference server.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "app/commands.h"
#include "app/status_label.h"
#include "pages/editors/url_control_page.h"
#include "pages/editors/user_groups_page.h"
#include "tests/gui/editor_fixture.h"
#include "widgets/buttons.h"

namespace {

// Answers the next group dialog with a name and the allow box.
void answerGroup(const QString& name, bool allow) {
    DialogAnswers::form<GroupDialog>([name, allow](GroupDialog& d) {
        d.nameEdit()->setText(name);
        d.allowBox()->setChecked(allow);
        d.okButton()->click();
    });
}

using UserGroupsPageTest = EditorTest;

TEST_F(UserGroupsPageTest, AddChangeDeleteAndSaveWithMembersFollowingTheirGroup) {
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);

    answerGroup("kulso", false);
    page.button(EditorPage::Add)->click();
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|kulso||||||||");
    EXPECT_EQ(page.sheet()->GetTextColorRC(3, 2), QColor(155, 0, 0));

    // tanar becomes a deny list.
    page.sheet()->setCurrentCell(1, 0);
    DialogAnswers::form<GroupDialog>([](GroupDialog& d) {
        EXPECT_EQ(d.nameEdit()->text(), "tanar");
        EXPECT_TRUE(d.allowBox()->isChecked());
        d.allowBox()->setChecked(false);
        d.okButton()->click();
    });
    page.button(EditorPage::Change)->click();
    EXPECT_EQ(column(page.sheet(), 2), "Tiltó lista|Tiltó lista|Tiltó lista||||||||");

    // diak has a member (anna): refused with its name; kulso has none.
    page.sheet()->setCurrentCell(0, 0);
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(page.statusText(), "diak csoport nem törölhető !");
    EXPECT_EQ(shownTexts(), "");
    page.sheet()->setCurrentCell(2, 0);
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(page.statusText(), "");
    EXPECT_EQ(MessageBox::lastShown().text, " kulso group törlés következik! \nRENDBEN !?");
    EXPECT_EQ(MessageBox::lastShown().title, "Figyelem!");
    shownTexts();
    answerGroup("ujak", true);
    page.button(EditorPage::Add)->click();

    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(file("/l/apache/etc/groups"), "diak d \"/l/apache/etc/permit/diak.deny\"\r\n"
                                            "tanar d \"/l/apache/etc/permit/tanar.deny\"\r\n"
                                            "ujak a \"/l/apache/etc/permit/ujak.allow\"\r\n");
    EXPECT_EQ(lockCopies(), "");
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|ujak||||||||");
    EXPECT_NE(file("/etc/squid/orvelan/orvelan.conf").find("ujak"), std::string::npos);
}

TEST_F(UserGroupsPageTest, MembersFollowTheirGroupThroughRenameAndSort) {
    // The reference post-save command refuses users of a group that is gone, so this save
    // runs a command that accepts anything.
    serverConfig("GROUPPROC ./post_ok");
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    page.sheet()->setCurrentCell(1, 0);
    answerGroup("oktato", true);
    page.button(EditorPage::Change)->click();
    answerGroup("alap", false);
    page.button(EditorPage::Add)->click();
    // béla's group (tanar, renamed oktato) is still protected by its members.
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(page.statusText(), "oktato csoport nem törölhető !");

    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(column(page.sheet(), 1), "alap|diak|oktato||||||||");
    EXPECT_EQ(serverData.users[0].group, 1); // anna: diak
    EXPECT_EQ(serverData.users[1].group, 2); // béla: oktato
}

// The refused save had renumbered the users along the new table; the abandon gives every user
// (and the URL page's group) back the group it had, so deletion is refused for the right group.
TEST_F(UserGroupsPageTest, AbandonAfterARefusedSaveGivesTheUsersBackTheirGroups) {
    serverConfig("GROUPPROC ./post_fail");
    serverData.urls.currentGroup = 1; // tanar
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    answerGroup("alap", false); // sorted first: every group moves down one
    page.button(EditorPage::Add)->click();
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    EXPECT_EQ(serverData.users[0].group, 1);
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|||||||||");
    EXPECT_EQ(serverData.users[0].group, 0); // anna: diak
    EXPECT_EQ(serverData.users[1].group, 1); // béla: tanar
    EXPECT_EQ(serverData.urls.currentGroup, 1);

    // The same with the server gone before the abandon (the list cannot be loaded again).
    startEditing(page);
    answerGroup("alap", false);
    page.button(EditorPage::Add)->click();
    server.stop();
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    ASSERT_EQ(serverData.groups.Count(), 2);
    EXPECT_STREQ(serverData.groups.NameOf(serverData.users[0].group), "diak");
    EXPECT_STREQ(serverData.groups.NameOf(serverData.users[1].group), "tanar");

    ASSERT_TRUE(server.restart()) << server.error();
    ASSERT_TRUE(connectConsole(server));
    startEditing(page);
    page.sheet()->setCurrentCell(0, 0);
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(page.statusText(), "diak csoport nem törölhető !");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(lockCopies(), "");
}

// A renamed group keeps its members on the server: the user list follows in the same save (the
// reference post-save command checks that every user's group exists). While another console
// holds the user list, the save waits for it like any other checkout.
TEST_F(UserGroupsPageTest, RenamedGroupsKeepTheirMembersInTheSavedUserList) {
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    page.sheet()->setCurrentCell(0, 0);
    answerGroup("zdiak", false);
    page.button(EditorPage::Change)->click();
    page.sheet()->setCurrentCell(1, 0);
    answerGroup("oktato", true);
    page.button(EditorPage::Change)->click();

    const std::filesystem::path firstDir = std::filesystem::current_path();
    std::filesystem::create_directories(dir / "second");
    std::filesystem::current_path(dir / "second");
    ASSERT_EQ(serverData.lock.Checkout("/l/apache/etc/users", "held.txt"), 1);
    std::filesystem::current_path(firstDir);
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    EXPECT_TRUE(page.editing());
    EXPECT_EQ(file("/l/apache/etc/groups"), kGroups);
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
    std::filesystem::current_path(dir / "second");
    ASSERT_EQ(serverData.lock.Release("/l/apache/etc/users", "held.txt"), 1);
    std::filesystem::current_path(firstDir);
    EXPECT_EQ(lockCopies(), "groups._vx_lck_ ");

    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    ASSERT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(file("/l/apache/etc/groups"), "oktato a \"/l/apache/etc/permit/oktato.allow\"\r\n"
                                            "zdiak d \"/l/apache/etc/permit/zdiak.deny\"\r\n");
    EXPECT_EQ(file("/l/apache/etc/users"), "anna:zdiak:wjabcdefghijk:p:e::anna:\r\n"
                                           "b\xE9la:oktato::p::s::\r\n");
    EXPECT_EQ(file("/l/apache/etc/userdata"), kUserData);
    EXPECT_EQ(lockCopies(), "");
    EXPECT_NE(file("/etc/squid/orvelan/orvelan.conf").find("oktato"), std::string::npos);
    EXPECT_STREQ(serverData.groups.NameOf(serverData.users[0].group), "zdiak");
    EXPECT_STREQ(serverData.groups.NameOf(serverData.users[1].group), "oktato");
}

// A save the post-save command refuses says why: the command's own last error line, fetched
// from the server, in a line under the status text and in the status line's tool tip.
TEST_F(UserGroupsPageTest, RefusedSaveShowsThePostSaveCommandsErrorLine) {
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    auto* detail = page.findChild<QLabel*>("statusDetail");
    ASSERT_NE(detail, nullptr);
    EXPECT_FALSE(detail->isVisibleTo(&page));
    ASSERT_TRUE(server.writeFile("/l/apache/etc/users", "x:nincs::p:::\r\n"));
    answerGroup("ujak", true);
    page.button(EditorPage::Add)->click();
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    const QString cause = "post-save command \"./grouppen\" failed with exit status 1: grouppen: "
                          "/l/apache/etc/users:1: unknown group nincs of user x";
    EXPECT_EQ(page.statusDetail(), cause);
    EXPECT_EQ(page.statusLabel()->toolTip(), cause);
    EXPECT_TRUE(detail->isVisibleTo(&page));
    // The line shows the end of the cause, where the command says why.
    EXPECT_TRUE(detail->text().endsWith("unknown group nincs of user x"))
        << detail->text().toStdString();
    // The server's own error output still has it.
    EXPECT_NE(server.stderrText().find("unknown group nincs of user x"), std::string::npos);

    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusDetail(), "");
    EXPECT_FALSE(detail->isVisibleTo(&page));
}

TEST_F(UserGroupsPageTest, DialogRefusalsAndTheFirstEmptyRowEndingTheList) {
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    DialogAnswers::form<GroupDialog>([](GroupDialog& d) { d.okButton()->click(); });
    answerGroup("diak", true);
    answerGroup(QString(32, QLatin1Char('g')), true);
    answerGroup("rm;x", true);
    answerGroup("a b", true);
    DialogAnswers::form<GroupDialog>([](GroupDialog& d) {
        EXPECT_EQ(d.nameEdit()->text(), "a b"); // what was typed is still there
        d.cancelButton()->click();
    });
    page.button(EditorPage::Add)->click();
    const QString unsafe =
        "A csoportnév nem tartalmazhat szóközt, vezérlő karaktert és a következőket: / \\ \" ' "
        "` $ & | ; < > ( ) [ ] { } * ? ! # ~ ^ % = : ,; nem kezdődhet ponttal vagy kötőjellel !";
    EXPECT_EQ(shownTexts(), "Hiba ...(nincs csoportnév)|A csoport már szerepel a listában|"
                            "A csoportnév legfeljebb 31 karakter lehet !|" +
                                unsafe + "|" + unsafe);
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|||||||||");

    // 31 bytes are accepted; a changed row may keep its own name.
    answerGroup(QString(31, QLatin1Char('g')), true);
    page.button(EditorPage::Add)->click();
    page.sheet()->setCurrentCell(0, 0);
    answerGroup("diak", true);
    page.button(EditorPage::Change)->click();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(page.sheet()->GetTextRC(1, 2), "Engedélyezö lista");

    // An emptied third row ends the list: the rows after it are dropped.
    answerGroup("zz", false);
    page.button(EditorPage::Add)->click();
    page.sheet()->SetTextRC(3, 1, QString());
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(file("/l/apache/etc/groups"), "diak a \"/l/apache/etc/permit/diak.allow\"\r\n"
                                            "tanar a \"/l/apache/etc/permit/tanar.allow\"\r\n");
}

TEST_F(UserGroupsPageTest, KindColoursWhileEditingImportAndExport) {
    UserGroupsPage page(entryAt(1, 0), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.sheet()->GetMaxRow(), 11);
    EXPECT_EQ(column(page.sheet(), 2), "Tiltó lista|Engedélyezö lista|||||||||");
    EXPECT_EQ(page.sheet()->GetTextColorRC(1, 2), QColor(0, 0, 0)); // one style in viewing
    startEditing(page);
    EXPECT_EQ(page.sheet()->GetTextColorRC(1, 2), QColor(155, 0, 0));
    EXPECT_EQ(page.sheet()->GetTextColorRC(2, 2), QColor(0, 155, 0));
    EXPECT_EQ(page.nameList()->count(), 2);
    EXPECT_TRUE(locked("/l/apache/etc/groups"));

    std::string exported = (dir / "groups.txt").string();
    DialogAnswers::fileName(QString::fromStdString(exported));
    page.button(EditorPage::Export)->click();
    EXPECT_EQ(page.statusText(), "OK '");
    EXPECT_EQ(get(exported), "diak d\r\ntanar a\r\n");

    page.sheet()->SetTextRC(3, 1, "uj");      // an edit not saved yet, kept in the sheet only
    page.button(EditorPage::Import)->click(); // cancelled: nothing changes
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "");
    EXPECT_EQ(page.sheet()->GetTextRC(3, 1), "uj");
    page.sheet()->SetTextRC(3, 1, "");
    put("import.txt", "tanar d\nvendeg a\n");
    DialogAnswers::fileName(QString::fromStdString((dir / "import.txt").string()));
    page.button(EditorPage::Import)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|vendeg||||||||");
    EXPECT_EQ(page.sheet()->GetTextColorRC(3, 2), QColor(0, 155, 0));

    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(lockCopies(), "");
    EXPECT_EQ(column(page.sheet(), 1), "diak|tanar|||||||||"); // the server's list again
    EXPECT_EQ(page.sheet()->GetTextColorRC(1, 2), QColor(0, 0, 0));
}

using UrlControlPageTest = EditorTest;

TEST_F(UrlControlPageTest, ChoosingAGroupLoadsItsListAndAbandonShowsItAgain) {
    UrlControlPage page(entryAt(1, 2), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.groupSelector()->count(), 2);
    EXPECT_EQ(page.groupSelector()->currentIndex(), -1);
    EXPECT_EQ(page.kindLabel()->text(), "");
    page.command(CMD_PAGE_SHOWN);
    page.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Válasszon felhasználói csoportot !");
    EXPECT_FALSE(page.editing());
    EXPECT_TRUE(owner.commands.isEmpty());

    page.groupSelector()->setCurrentIndex(0);
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(serverData.urls.currentGroup, 0);
    EXPECT_EQ(page.kindLabel()->text(), "Tiltó lista");
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(column(page.sheet(), 1), "games.example.com|www.chat.example.org||||||||||");
    EXPECT_EQ(page.sheet()->GetTextColorRC(1, 1), QColor(0, 0, 255));
    page.groupSelector()->setCurrentIndex(1);
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.kindLabel()->text(), "Engedélyezö lista");
    EXPECT_EQ(column(page.sheet(), 1), "www.school.example.hu|||||||||||");
    EXPECT_EQ(lockCopies(), ""); // viewing locks nothing

    // An imported list abandoned: the server's list again, and the group can be chosen.
    startEditing(page);
    put("urls.txt", "www.school.example.hu\nnew.example.hu\n");
    DialogAnswers::fileName(QString::fromStdString((dir / "urls.txt").string()));
    page.button(EditorPage::Import)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(column(page.sheet(), 1), "www.school.example.hu|new.example.hu||||||||||");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    EXPECT_TRUE(page.groupSelector()->isEnabled());
    EXPECT_EQ(lockCopies(), "");
    EXPECT_EQ(column(page.sheet(), 1), "www.school.example.hu|||||||||||");
}

TEST_F(UrlControlPageTest, EditingRoundWithDuplicatesAndAnEmptiedRow) {
    UrlControlPage page(entryAt(1, 2), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    page.chooseGroup(0);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    EXPECT_FALSE(page.groupSelector()->isEnabled());
    EXPECT_TRUE(locked("/l/apache/etc/permit/diak.deny"));

    DialogAnswers::text("games.example.com"); // already in the list
    DialogAnswers::text("bad url");
    DialogAnswers::text("zz.example.net");
    page.button(EditorPage::Add)->click();
    EXPECT_EQ(shownTexts(), "Az URL már szerepel a listában|"
                            "Az URL nem tartalmazhat szóközt és vezérlő karaktert !");
    EXPECT_EQ(column(page.sheet(), 1),
              "games.example.com|www.chat.example.org|zz.example.net|||||||||");

    page.sheet()->setCurrentCell(1, 0);
    DialogAnswers::text("www.chat.example.org"); // its own text: no change
    page.button(EditorPage::Change)->click();
    DialogAnswers::text("games.example.com");
    DialogAnswers::text("chat.example.org");
    page.button(EditorPage::Change)->click();
    EXPECT_EQ(shownTexts(), "Az URL már szerepel a listában");
    EXPECT_EQ(page.sheet()->GetTextRC(2, 1), "chat.example.org");

    page.sheet()->setCurrentCell(0, 0);
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(MessageBox::lastShown().text, "Törlés következik! \nRENDBEN !?");
    shownTexts();
    page.sheet()->setCurrentCell(6, 0); // an empty row: nothing to delete
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(column(page.sheet(), 1), "chat.example.org|zz.example.net||||||||||");

    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_TRUE(page.groupSelector()->isEnabled());
    EXPECT_EQ(file("/l/apache/etc/permit/diak.deny"), "chat.example.org\nzz.example.net\n");
    EXPECT_EQ(lockCopies(), "");
    EXPECT_NE(file("/etc/squid/orvelan/groups/diak.urls").find("zz"), std::string::npos);

    // A row emptied in the middle ends the saved list there.
    startEditing(page);
    page.sheet()->SetTextRC(1, 1, QString());
    serverData.urls.modified = 1;
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(file("/l/apache/etc/permit/diak.deny"), "");
}

// A save the table cannot take leaves the table whole (an export writes every URL) and says why.
TEST_F(UrlControlPageTest, RefusedSaveKeepsTheTableAndNamesTheCause) {
    UrlControlPage page(entryAt(1, 2), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    page.chooseGroup(0);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    const std::string exported = (dir / "urls.txt").string();
    auto exportText = [&] {
        DialogAnswers::fileName(QString::fromStdString(exported));
        page.button(EditorPage::Export)->click();
        return get(exported);
    };
    const std::string whole = "games.example.com\r\nwww.chat.example.org\r\n";
    ASSERT_EQ(exportText(), whole);

    page.sheet()->SetTextRC(3, 1, "bad url"); // typed into the sheet
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "3. sor: Az URL nem tartalmazhat szóközt és vezérlő karaktert !");
    EXPECT_TRUE(page.editing());
    EXPECT_EQ(exportText(), whole);

    page.sheet()->SetTextRC(3, 1, QString(512, QLatin1Char('u')));
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "3. sor: Az URL legfeljebb 511 karakter lehet !");

    // 70 URLs of 500 bytes are more than the table's text room; 1025 short ones too many.
    page.sheet()->SetMaxRow(1100);
    for (int r = 1; r <= 70; r++)
        page.sheet()->SetTextRC(r, 1,
                                QStringLiteral("%1.").arg(r) + QString(496, QLatin1Char('x')));
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Az URL lista nem fér el (legfeljebb 32758 bájt) !");
    EXPECT_EQ(exportText(), whole);
    for (int r = 1; r <= 1025; r++)
        page.sheet()->SetTextRC(r, 1, QStringLiteral("u%1.example.hu").arg(r));
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Az URL lista nem fér el (legfeljebb 1024 URL) !");
    EXPECT_EQ(exportText(), whole);
    EXPECT_EQ(serverData.urls.modified, 0);
    EXPECT_EQ(file("/l/apache/etc/permit/diak.deny"), kDiakDeny);
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(lockCopies(), "");
}

} // namespace
