// The users page and the user data dialog against the reference server.

#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include "app/commands.h"
#include "pages/editors/users_page.h"
#include "remote/vx_remote.h"
#include "tests/gui/editor_fixture.h"
#include "tests/gui/stall_probe.h"
#include "widgets/buttons.h"
#include "widgets/gridctrl.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"

namespace {

class UsersPageTest : public EditorTest {
  protected:
    // The selected user's data grid, "label:value" a row.
    static QString data(UsersPage& page) {
        QStringList texts;
        for (int row = 0; row < 6; row++)
            texts << page.dataGrid()->QuickGetText(0, row) + page.dataGrid()->QuickGetText(1, row);
        return texts.join(QLatin1Char('|'));
    }
};

TEST_F(UsersPageTest, ViewingShowsTheUsersTheirDataAndOnlyLoadForTheAdministrator) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "");
    EXPECT_EQ(page.sheet()->GetMaxRow(), 12); // 2 users, never fewer than 12 rows
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    EXPECT_EQ(column(page.sheet(), 2), "diak|tanar||||||||||");
    EXPECT_EQ(column(page.sheet(), 3), "X|X||||||||||");
    EXPECT_EQ(column(page.sheet(), 4), "X|||||||||||");
    EXPECT_EQ(column(page.sheet(), 5), "|X||||||||||");
    ASSERT_EQ(page.nameList()->count(), 2);
    EXPECT_EQ(page.nameList()->item(1)->text(), "béla");
    EXPECT_EQ(page.selectedIndex(), 0);
    EXPECT_EQ(data(page), "Teljes név:Kiss Anna|Telefonszám:123|Szoba szám:12|Munkah. tel.:456|"
                          "Email:anna@example.hu|Megjegyzés:megj");

    // The name list and the sheet keep one selection.
    page.nameList()->setCurrentRow(1);
    EXPECT_EQ(page.selectedIndex(), 1);
    EXPECT_EQ(data(page), "Teljes név:Nagy Béla|Telefonszám:|Szoba szám:|Munkah. tel.:|Email:|"
                          "Megjegyzés:");
    page.sheet()->setCurrentCell(0, 2);
    EXPECT_EQ(page.nameList()->currentRow(), 0);

    // Not shown yet, no button works; in viewing only "&Behívás", and that for the administrator.
    for (int b = 0; b < EditorPage::ButtonCount; b++)
        EXPECT_FALSE(page.button(EditorPage::Button(b))->isEnabled()) << b;
    serverData.session.SelectedLevel = 0;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_FALSE(page.button(EditorPage::Load)->isEnabled());
    serverData.session.SelectedLevel = 1;
    serverData.session.GrantedLevel = 0;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_FALSE(page.button(EditorPage::Load)->isEnabled());
    page.loadForEditing(); // the rule holds for the step itself too
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    serverData.session.GrantedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_TRUE(page.button(EditorPage::Load)->isEnabled());
    EXPECT_FALSE(page.button(EditorPage::Save)->isEnabled());
    EXPECT_TRUE(owner.commands.isEmpty());
}

// The panel's title is the sheet's column head: each head word stands over its column, and a
// group name of fifteen letters is shown whole.
TEST_F(UsersPageTest, TheTitleHeadsStandOverTheirColumns) {
    UsersPage page(entryAt(1, 1), &owner);
    page.resize(634, 476);
    page.show();
    QCoreApplication::processEvents();
    const CzCThreeDPanel* panel = page.sheetPanel();
    const QString title = panel->GetTitle();
    const QFontMetrics metrics(panel->font());
    CVCF1* sheet = page.sheet();
    const struct {
        const char* head;
        int column;
    } heads[] = {{"Név", 0}, {"Csoport", 1}, {"P", 2}, {"M", 3}, {"S", 4}};
    for (const auto& h : heads) {
        SCOPED_TRACE(h.head);
        const QString head = QString::fromUtf8(h.head);
        const qsizetype at = title.lastIndexOf(head);
        ASSERT_GE(at, 0);
        const int centre = CzCThreeDPanel::kTitleX + metrics.horizontalAdvance(title.left(at)) +
                           metrics.horizontalAdvance(head) / 2;
        const int left =
            sheet->viewport()->mapTo(panel, QPoint(sheet->columnViewportPosition(h.column), 0)).x();
        EXPECT_GE(centre, left);
        EXPECT_LT(centre, left + sheet->columnWidth(h.column));
    }
    const QFontMetrics cells(QFont(QStringLiteral("Arial"), 10));
    EXPECT_GE(sheet->columnWidth(1),
              cells.horizontalAdvance(QStringLiteral("ugyfelszolgalat")) + 6);
}

TEST_F(UsersPageTest, AddChangeDeleteAndSaveWriteBothFilesAndTheSquidPasswords) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(owner.commands, QList<int>{CMD_LOCK_TREE});
    EXPECT_TRUE(locked("/l/apache/etc/users"));
    EXPECT_TRUE(locked("/l/apache/etc/userdata"));
    for (int b = 0; b < EditorPage::ButtonCount; b++)
        EXPECT_EQ(page.button(EditorPage::Button(b))->isEnabled(), b != EditorPage::Load) << b;

    // A new user with a password from the server's crypt (mode 0: new and confirmation).
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Új felhasználó adatai");
        EXPECT_EQ(d.groupList()->count(), 2);
        EXPECT_EQ(d.groupList()->currentIndex(), 0);
        EXPECT_TRUE(d.mailEdit()->isHidden());
        d.nameEdit()->setText("cecil");
        d.fullNameEdit()->setText("Cecil Cukor");
        d.groupList()->setCurrentIndex(1);
        d.proxyBox()->setChecked(true);
        DialogAnswers::passwords("", "jelszo", "jelszo");
        d.passwordButton()->click();
        d.okButton()->click();
    });
    page.button(EditorPage::Add)->click();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla|cecil|||||||||");
    EXPECT_EQ(page.selectedIndex(), 2);
    EXPECT_EQ(data(page).section('|', 0, 0), "Teljes név:Cecil Cukor");
    EXPECT_EQ(serverData.users.modified, 1);

    // Change béla: mail on (the e-mail edit shows with the domain), another full name.
    page.selectUser(1);
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Felhasználó adatainak módosítása");
        EXPECT_EQ(d.nameEdit()->text(), "béla");
        EXPECT_EQ(d.groupList()->currentIndex(), 1);
        EXPECT_TRUE(d.superBox()->isChecked());
        EXPECT_TRUE(d.mailEdit()->isHidden());
        d.mailBox()->click();
        EXPECT_FALSE(d.mailEdit()->isHidden());
        EXPECT_EQ(d.domainLabel()->text(), "@example.hu");
        d.mailEdit()->setText("bela.nagy");
        d.fullNameEdit()->setText("Nagy Béla Péter");
        d.okButton()->click();
    });
    page.button(EditorPage::Change)->click();
    EXPECT_EQ(page.selectedIndex(), 1);
    EXPECT_EQ(column(page.sheet(), 4), "X|X||||||||||");
    EXPECT_EQ(data(page).section('|', 4, 4), "Email:bela.nagy@example.hu");

    // Delete anna (Cancel first keeps her).
    page.selectUser(0);
    DialogAnswers::button(MessageBox::Cancel);
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(serverData.users.Count(), 3);
    page.button(EditorPage::Delete)->click();
    MessageBox::Shown box = MessageBox::lastShown();
    EXPECT_EQ(box.title, "Figyelem!");
    EXPECT_EQ(box.text, "Törlés következik! \nRENDBEN !?");
    EXPECT_EQ(box.kind, MessageBox::Critical);
    EXPECT_EQ(box.buttons, MessageBox::OkCancel);
    shownTexts();
    EXPECT_EQ(column(page.sheet(), 1), "béla|cecil||||||||||");
    // The next user is selected, and its data shows beside it.
    EXPECT_EQ(page.selectedIndex(), 0);
    EXPECT_EQ(data(page).section('|', 0, 0), "Teljes név:Nagy Béla Péter");

    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(owner.commands, (QList<int>{CMD_LOCK_TREE, CMD_UNLOCK_TREE}));
    EXPECT_TRUE(page.button(EditorPage::Load)->isEnabled());
    EXPECT_FALSE(page.button(EditorPage::Add)->isEnabled());
    const std::string cecil = crypted("jelszo");
    EXPECT_EQ(file("/l/apache/etc/users"),
              "b\xE9la:tanar::p:e:s:bela.nagy:\r\ncecil:tanar:" + cecil + ":p::::\r\n");
    EXPECT_EQ(file("/l/apache/etc/userdata"),
              "b\xE9la :Nagy B\xE9la P\xE9ter : : : : \r\ncecil :Cecil Cukor : : : : \r\n");
    EXPECT_EQ(lockCopies(), "");
    EXPECT_EQ(file("/etc/squid/orvelan/passwd"), "cecil:" + cecil + "\n");
    // Viewing again from the server.
    EXPECT_EQ(column(page.sheet(), 1), "béla|cecil||||||||||");
    EXPECT_FALSE(exists("vx_users.txt"));
}

TEST_F(UsersPageTest, SecondConsoleIsRefusedUntilTheFirstSaves) {
    // Another console: its own working directory, the same server. (Both pages share this
    // process's user table, so the second one is opened before the first edits.)
    std::filesystem::path firstDir = std::filesystem::current_path();
    std::filesystem::path secondDir = dir / "second";
    std::filesystem::create_directories(secondDir);
    CommandRecorder secondOwner;
    UsersPage second(entryAt(1, 1), &secondOwner);
    ASSERT_TRUE(waitRemoteIdle());
    second.command(CMD_PAGE_SHOWN);

    UsersPage first(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(first);
    first.selectUser(1);
    first.button(EditorPage::Delete)->click();

    std::filesystem::current_path(secondDir);
    second.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(second.statusText(), "Konkurens használat !");
    EXPECT_FALSE(second.editing());
    EXPECT_TRUE(secondOwner.commands.isEmpty());
    EXPECT_FALSE(exists("vx_userdata.txt"));
    EXPECT_EQ(serverData.users.Count(), 1); // the refused load left the first console's table alone

    std::filesystem::current_path(firstDir);
    first.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(first.statusText(), "OK !");
    EXPECT_EQ(file("/l/apache/etc/users"), "anna:diak:wjabcdefghijk:p:e::anna:\r\n");

    std::filesystem::current_path(secondDir);
    second.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(second.statusText(), "OK !");
    EXPECT_TRUE(second.editing());
    EXPECT_EQ(column(second.sheet(), 1), "anna|||||||||||");
    second.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    std::filesystem::current_path(firstDir);
    EXPECT_EQ(lockCopies(), "");
}

TEST_F(UsersPageTest, ImportExportCancelledImportAndAbandon) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    std::string exported = (dir / "export.txt").string();
    DialogAnswers::fileName(QString::fromStdString(exported));
    page.button(EditorPage::Export)->click();
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(get(exported), "anna:diak:wjabcdefghijk:p:e::Kiss Anna :123 :12 :456 :megj \r\n"
                             "b\xE9la:tanar::p::s:Nagy B\xE9la : : : : \r\n");

    // A cancelled import still marks the table changed.
    serverData.users.modified = 0;
    page.button(EditorPage::Import)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "");
    EXPECT_EQ(serverData.users.modified, 1);

    put("import.txt", "anna:diak::::::\r\ndora:diak::p:::Dora D:1:2:3:4\r\n");
    DialogAnswers::fileName(QString::fromStdString((dir / "import.txt").string()));
    page.button(EditorPage::Import)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "OK !");
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla|dora|||||||||");

    // A line that stops the import: the lines before it are in the table and shown.
    put("bad.txt", "emil:diak\r\n" + std::string(200, 'x') + ":diak\r\nfero:diak\r\n");
    DialogAnswers::fileName(QString::fromStdString((dir / "bad.txt").string()));
    page.button(EditorPage::Import)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "File olvasási hiba !");
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla|dora|emil||||||||");

    DialogAnswers::fileName(QString::fromStdString((dir / "missing" / "x.txt").string()));
    page.button(EditorPage::Export)->click();
    EXPECT_EQ(page.statusText(), "File írási hiba '");

    // Abandon releases both files and shows the server's list again.
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "");
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(owner.commands, (QList<int>{CMD_LOCK_TREE, CMD_UNLOCK_TREE}));
    EXPECT_EQ(lockCopies(), "");
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    EXPECT_EQ(serverData.users.modified, 0);
}

TEST_F(UsersPageTest, FailedPostSaveCommandKeepsEditingWithTheLocksAndRestoresTheFiles) {
    serverConfig("USERPROC ./post_fail");
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    page.selectUser(0);
    page.button(EditorPage::Delete)->click();
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    EXPECT_TRUE(page.editing());
    EXPECT_EQ(owner.commands, QList<int>{CMD_LOCK_TREE});
    EXPECT_TRUE(locked("/l/apache/etc/users"));
    EXPECT_TRUE(locked("/l/apache/etc/userdata"));
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
    EXPECT_EQ(file("/l/apache/etc/userdata"), kUserData);
    EXPECT_EQ(column(page.sheet(), 1), "béla|||||||||||");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(lockCopies(), "");
}

// The server stops during the edit: the save and the release fail. The abandon drops the edit
// all the same (the list shows what the server has), and the locks still held are released by
// the next "&Behívás", which then edits again.
TEST_F(UsersPageTest, AbandonWithTheServerDownDropsTheEditAndTheNextLoadReleasesTheLocks) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    page.selectUser(0);
    page.button(EditorPage::Delete)->click();
    server.stop();
    page.button(EditorPage::Save)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !"); // the list could not be loaded
    EXPECT_EQ(owner.commands, (QList<int>{CMD_LOCK_TREE, CMD_UNLOCK_TREE}));
    ASSERT_EQ(serverData.users.Count(), 2);
    EXPECT_STREQ(serverData.users[0].name, "anna");
    EXPECT_EQ(serverData.users.modified, 0);
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    EXPECT_TRUE(locked("/l/apache/etc/users"));

    // Still down: the retried release fails and nothing is edited.
    page.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_FALSE(page.editing());
    EXPECT_EQ(page.statusText(), "Hiba a proxy szerveren !");

    ASSERT_TRUE(server.restart()) << server.error();
    ASSERT_TRUE(connectConsole(server));
    page.button(EditorPage::Load)->click();
    ASSERT_TRUE(waitRemoteIdle());
    ASSERT_TRUE(page.editing()) << page.statusText().toStdString();
    EXPECT_EQ(column(page.sheet(), 1), "anna|béla||||||||||");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
    EXPECT_EQ(page.statusText(), "");
    EXPECT_EQ(lockCopies(), "");
    EXPECT_EQ(file("/l/apache/etc/users"), kUsers);
}

TEST_F(UsersPageTest, DialogRefusesWithoutLosingWhatWasTypedAndWorksWithoutGroups) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.fullNameEdit()->setText("Valaki");
        d.okButton()->click(); // no name
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        EXPECT_EQ(d.fullNameEdit()->text(), "Valaki");
        d.nameEdit()->setText("anna"); // another user's name
        d.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.nameEdit()->setText("ki:be"); // a field separator
        d.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.nameEdit()->setText("ki be"); // a blank: the proxy's password file cannot hold it
        d.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.nameEdit()->setText("kibe");
        d.commentEdit()->setPlainText("két\nsor"); // a line end
        d.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.commentEdit()->setPlainText(QString(70, QLatin1Char('c')));
        EXPECT_EQ(d.commentEdit()->toPlainText(), QString(63, QLatin1Char('c'))); // typing stops
        d.fullNameEdit()->setText(QStringLiteral("ñandu")); // not in Windows-1250
        d.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        EXPECT_EQ(d.nameEdit()->text(), "kibe");
        d.fullNameEdit()->setText("Anna"); // "Anna" differs from "anna" in case only
        d.nameEdit()->setText("Anna");
        d.okButton()->click();
    });
    page.button(EditorPage::Add)->click();
    MessageBox::Shown first = MessageBox::shown().value(0);
    EXPECT_EQ(first.title, "Hiba !!");
    const QString unsafe =
        "A usernév nem tartalmazhat szóközt, vezérlő karaktert és a következőket: / \\ \" ' ` "
        "$ & | ; < > ( ) [ ] { } * ? ! # ~ ^ % = : ,; nem kezdődhet ponttal vagy kötőjellel !";
    EXPECT_EQ(shownTexts(),
              "Nincs Usernév|A user már szerepel a listában|" + unsafe + "|" + unsafe +
                  "|"
                  "Megjegyzés nem tartalmazhat kettőspontot (:), aposztrófot (') és sorvéget !|"
                  "Teljes név olyan karaktert tartalmaz, amely a Windows-1250 kódlapon nem írható "
                  "le !");
    ASSERT_EQ(serverData.users.Count(), 3);
    const UserRecord& added = serverData.users[2];
    EXPECT_STREQ(added.name, "Anna");
    EXPECT_EQ(std::string(added.comment), std::string(63, 'c')); // cut to its capacity
    EXPECT_EQ(added.group, 0);

    // The edits hold no more than the user record's fields.
    UserDataDialog d([](const char*, const char*, char*, size_t) { return -1; });
    EXPECT_EQ(QList<int>({d.nameEdit()->maxLength(), d.fullNameEdit()->maxLength(),
                          d.phoneEdit()->maxLength(), d.workPhoneEdit()->maxLength(),
                          d.roomEdit()->maxLength(), d.mailEdit()->maxLength()}),
              QList<int>({255, 63, 31, 31, 15, 31}));

    // "Mail" needs an address; a user's kept address comes back when "Mail" is ticked.
    UserRecord kept{};
    std::strcpy(kept.name, "kiss");
    std::strcpy(kept.mailName, "kiss.anna");
    d.setRecord(UserDataDialog::ModifyUser, kept, "");
    EXPECT_TRUE(d.mailEdit()->isHidden());
    d.mailBox()->click();
    EXPECT_FALSE(d.mailEdit()->isHidden());
    EXPECT_EQ(d.mailEdit()->text(), "kiss.anna");
    d.mailBox()->click();
    d.mailBox()->click();
    EXPECT_EQ(d.mailEdit()->text(), "kiss.anna");
    d.mailEdit()->clear();
    d.okButton()->click();
    EXPECT_EQ(shownTexts(), "Nincs Email cím");
    EXPECT_NE(d.result(), QDialog::Accepted);

    // Changing a user to another user's name is refused; keeping its own name is accepted.
    page.selectUser(1);
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d2) {
        d2.nameEdit()->setText("anna");
        d2.okButton()->click();
    });
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d2) {
        EXPECT_EQ(d2.nameEdit()->text(), "anna");
        d2.nameEdit()->setText("béla");
        d2.roomEdit()->setText("7");
        d2.okButton()->click();
    });
    page.button(EditorPage::Change)->click();
    EXPECT_EQ(shownTexts(), "A user már szerepel a listában");
    EXPECT_STREQ(serverData.users[1].room, "7");

    // An empty selection does nothing.
    page.sheet()->setCurrentCell(8, 0);
    page.button(EditorPage::Change)->click();
    page.button(EditorPage::Delete)->click();
    EXPECT_EQ(shownTexts(), "");
    EXPECT_EQ(serverData.users.Count(), 3);

    // Without a group list a new user's group stays empty.
    serverData.groups.Clear();
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d2) {
        EXPECT_EQ(d2.groupList()->count(), 0);
        d2.nameEdit()->setText("zoli");
        d2.okButton()->click();
    });
    page.button(EditorPage::Add)->click();
    ASSERT_EQ(serverData.users.Count(), 4);
    EXPECT_EQ(serverData.users[3].group, -1);
    EXPECT_EQ(page.sheet()->GetTextRC(4, 2), "");
    page.button(EditorPage::Abandon)->click();
    ASSERT_TRUE(waitRemoteIdle());
}

TEST_F(UsersPageTest, PasswordThroughTheServersCryptInBothModes) {
    UsersPage page(entryAt(1, 1), &owner);
    ASSERT_TRUE(waitRemoteIdle());
    startEditing(page);
    // anna's stored password is checked in modify mode (mode 1: old, new, confirmation).
    std::string stored = crypted("regi");
    UserRecord anna = serverData.users[0];
    std::snprintf(anna.password, sizeof anna.password, "%s", stored.c_str());
    ASSERT_EQ(serverData.users.Set(0, anna), 0);
    page.selectUser(0);
    DialogAnswers::form<UserDataDialog>([&](UserDataDialog& d) {
        DialogAnswers::passwords("rossz", "uj", "uj");
        d.passwordButton()->click();
        EXPECT_STREQ(d.record().password, stored.c_str());
        DialogAnswers::passwords("regi", "uj", "mas");
        d.passwordButton()->click();
        DialogAnswers::passwordCancel();
        d.passwordButton()->click();
        EXPECT_STREQ(d.record().password, stored.c_str());
        DialogAnswers::passwords("regi", "uj", "uj");
        d.passwordButton()->click();
        d.okButton()->click();
    });
    page.button(EditorPage::Change)->click();
    QList<MessageBox::Shown> boxes = MessageBox::shown();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0].title, "Hiba !!!");
    EXPECT_EQ(boxes[0].text, "A regi password megadasa hibas!");
    EXPECT_EQ(boxes[1].title, "Hiba !!!");
    EXPECT_EQ(boxes[1].text, "Az ellenorzo password megadasa hibas!");
    MessageBox::clearShown();
    EXPECT_EQ(std::string(serverData.users[0].password), crypted("uj"));

    // A server that does not answer.
    server.stop();
    DialogAnswers::form<UserDataDialog>([](UserDataDialog& d) {
        d.nameEdit()->setText("emil");
        DialogAnswers::passwords("", "x", "x");
        d.passwordButton()->click();
        d.cancelButton()->click();
    });
    page.button(EditorPage::Add)->click();
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !");
    EXPECT_EQ(serverData.users.Count(), 2);
}

// A stalled server: the password's crypt waits on the remote worker while the window keeps its
// beat, and fails within the call limit with the message of a server that does not answer.
TEST_F(UsersPageTest, PasswordCryptWithAStalledServerFailsInTime) {
    UsersPage page(entryAt(1, 1), &owner);
    startEditing(page);
    vxSetCallTimeout(1000);
    server.pause();
    vxClearError();
    StallProbe probe;
    QElapsedTimer took;
    DialogAnswers::form<UserDataDialog>([&](UserDataDialog& d) {
        d.nameEdit()->setText("emil");
        DialogAnswers::passwords("", "x", "x");
        took.start();
        d.passwordButton()->click();
        EXPECT_LT(took.elapsed(), 3000);
        d.cancelButton()->click();
    });
    page.button(EditorPage::Add)->click();
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
    EXPECT_LT(probe.longest(), StallProbe::kTickMs + 100);
    EXPECT_EQ(shownTexts(), "Hiba a proxy szerveren !");
    server.resume();
    vxSetCallTimeout(0);
    page.button(EditorPage::Abandon)->click();
    waitRemoteIdle();
    EXPECT_FALSE(page.editing());
}

} // namespace
