// The page frame and the common dialogs, status label, file dialogs, buttons and sheet printing.
#include <optional>

#include <QLineEdit>
#include <QPrinter>
#include <QTest>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/sheet_printing.h"
#include "app/status_label.h"
#include "app/text_file_dialogs.h"
#include "tests/gui/app_fixture.h"
#include "tests/gui/pdf_text.h"
#include "widgets/buttons.h"
#include "widgets/ticker.h"
#include "widgets/vcf1.h"

namespace {

using FrameTest = AppTest;

TEST_F(FrameTest, PasswordDialogShowsTheFieldsOfItsMode) {
    PasswordDialog dialog;
    // Which fields each mode shows: old (change only), new (not for one password), confirmation.
    const char* expected[3] = {
        "new: Új jelszó: | confirm: Jelszó megerõsítés:",
        "old: Régi jelszó: | new: Új jelszó: | confirm: Jelszó megerõsítés:", "confirm: Password:"};
    for (int mode : {0, 1, 2, 3, -1}) {
        SCOPED_TRACE(mode);
        dialog.setMode(mode);
        dialog.layOut();
        QStringList shown;
        if (!dialog.oldField()->isHidden() && !dialog.oldLabel()->isHidden())
            shown << "old: " + dialog.oldLabel()->text();
        if (!dialog.newField()->isHidden() && !dialog.newLabel()->isHidden())
            shown << "new: " + dialog.newLabel()->text();
        if (!dialog.confirmField()->isHidden())
            shown << "confirm: " + dialog.confirmLabel()->text();
        // Out-of-range modes are stored as 0 and lay out as mode 0.
        const int stored = mode >= 0 && mode <= 2 ? mode : 0;
        EXPECT_EQ(dialog.mode(), stored);
        EXPECT_EQ(shown.join(" | "), expected[stored]);
        for (QLineEdit* field : {dialog.oldField(), dialog.newField(), dialog.confirmField()})
            EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        for (QWidget* part : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(part->isHidden() || dialog.rect().contains(part->geometry()));
    }
    // Shown, the focus is on the first field of the mode.
    dialog.setMode(1);
    dialog.show();
    EXPECT_EQ(dialog.focusWidget(), dialog.oldField());
    dialog.hide();
    dialog.setMode(2);
    dialog.show();
    EXPECT_EQ(dialog.focusWidget(), dialog.confirmField());
}

TEST_F(FrameTest, PasswordDialogStoresWhatItsModeShowsAndCutsAt255) {
    const QString long300(300, QLatin1Char('a')), cut(255, QLatin1Char('a'));
    const struct {
        int mode;
        QString typedOld, typedNew, typedConfirm;
        QString old, fresh, confirm; // what the dialog keeps
    } cases[] = {
        {2, "old", "new", long300, "", "", cut}, // only the one field of mode 2
        {1, "régi", "Új ő", "", "régi", "Új ő", ""},
        {0, "old", "n", "n", "", "n", "n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        PasswordDialog dialog;
        dialog.setMode(c.mode);
        DialogAnswers::passwords(c.typedOld, c.typedNew, c.typedConfirm);
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.oldPassword(), c.old);
        EXPECT_EQ(dialog.newPassword(), c.fresh);
        EXPECT_EQ(dialog.confirmation(), c.confirm);
    }
    PasswordDialog dialog;
    dialog.setMode(1);
    DialogAnswers::passwords("régi", "Új ő", "");
    dialog.exec();
    EXPECT_EQ(dialog.newPasswordBytes(), QByteArray("\xDAj \xF5")); // Windows-1250
    DialogAnswers::passwordCancel();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.oldPassword() + dialog.newPassword() + dialog.confirmation(), "");
    EXPECT_EQ(shownTexts(), "");

    // A character without a Windows-1250 byte is refused.
    dialog.setMode(2);
    DialogAnswers::password(QString::fromUtf8("jelsz\u00f1"));
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.confirmation(), "");
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(shownTexts(),
              "A jelszóban olyan karakter van, amely a Windows-1250 kódlapon nem írható le !");
}

TEST_F(FrameTest, TextInputDialogCutsAt255CancelEmptiesAndMissingAnswersAreReported) {
    TextInputDialog dialog;
    dialog.setText(QString(300, QLatin1Char('x')));
    EXPECT_EQ(dialog.textLength(), 255);
    EXPECT_EQ(dialog.field()->text(), QString(255, QLatin1Char('x')));
    EXPECT_TRUE(dialog.okButton()->isDefault());

    DialogAnswers::text(QString(256, QLatin1Char('y')) + "z");
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), QString(255, QLatin1Char('y')));

    dialog.setText("www.example.hu");
    DialogAnswers::textCancel();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.text(), "");
    EXPECT_EQ(dialog.textLength(), 0);

    // A dialog without its answer is cancelled and reported: the test expected the text input
    // first, so the password dialog does not take its answer.
    PasswordDialog password;
    password.setMode(2);
    dialog.setText("www.example.hu");
    DialogAnswers::text("www.example.org");
    EXPECT_EQ(password.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), "www.example.org");
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.text(), "");
    EXPECT_EQ(DialogAnswers::unexpected(),
              QStringList({"password dialog before text input dialog answer",
                           "text input dialog without an answer"}));
    DialogAnswers::clear();
    EXPECT_EQ(DialogAnswers::unexpected(), QStringList());
}

// A form dialog as the console's own dialogs run it: answers act on it until one closes it.
struct FormUnderTest : QDialog {
    bool closed = false;
    int run() {
        closed = false;
        setResult(Rejected);
        return DialogAnswers::runForm(*this, closed) ? result() : -1;
    }
    void done(int r) override {
        closed = true;
        QDialog::done(r);
    }
};

TEST_F(FrameTest, FormAnswersRunUntilTheDialogClosesAndWhatTheyQueueComesFirst) {
    FormUnderTest form;
    std::optional<DialogAnswers::Answer> inner, again;
    DialogAnswers::form<QDialog>([&](QDialog&) {
        // What this answer clicks asks a message box; its answer is queued now, behind the
        // second form answer queued before, and is still the next one taken.
        DialogAnswers::button(7);
        inner = DialogAnswers::take(DialogAnswers::Dialog::MessageBox);
        // And again after that one was used: still ahead of the second form answer.
        DialogAnswers::button(8);
        again = DialogAnswers::take(DialogAnswers::Dialog::MessageBox);
    });
    DialogAnswers::form<QDialog>([](QDialog& d) { d.accept(); });
    EXPECT_EQ(form.run(), QDialog::Accepted);
    ASSERT_TRUE(inner.has_value());
    EXPECT_EQ(inner->button, 7);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->button, 8);
    EXPECT_EQ(DialogAnswers::pending(), 0);

    // Answers that leave it open, and no answer at all: cancelled, and both are reported.
    DialogAnswers::form<QDialog>([](QDialog&) {});
    EXPECT_EQ(form.run(), QDialog::Rejected);
    EXPECT_EQ(form.run(), QDialog::Rejected);
    EXPECT_EQ(DialogAnswers::unexpected(),
              QStringList({"QDialog left open without an answer", "QDialog without an answer"}));
    DialogAnswers::clear();
}

TEST_F(FrameTest, StatusLabelBlinksRedAndBlackOnceASecond) {
    StatusLabel label;
    SetupStatusLabel(&label);
    EXPECT_TRUE(label.flashing());
    EXPECT_TRUE(label.flashState());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(255, 0, 0));
    label.flashTick();
    EXPECT_FALSE(label.flashState());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 0));

    // The flash clock ticks once a second and toggles it back and forth by itself.
    Ticker* clock = label.flashTicker();
    EXPECT_TRUE(clock->isActive());
    EXPECT_EQ(clock->interval(), 1000);
    clock->advance();
    EXPECT_TRUE(label.flashState());
    clock->advance();
    EXPECT_FALSE(label.flashState());
    label.setFlashing(true, 0.25);
    EXPECT_EQ(clock->interval(), 250);

    // Stopped, the state is the one given, and stays.
    label.setFlashing(false, 1.0, true);
    EXPECT_FALSE(clock->isActive());
    clock->advance();
    EXPECT_TRUE(label.flashState());
    EXPECT_EQ(label.currentTextColour(), QColor(255, 0, 0));
}

TEST_F(FrameTest, FileDialogsKeepTheirOwnNamesAndTheCurrentDirectory) {
    const QString before = QDir::currentPath();
    QString path = "unchanged";
    DialogAnswers::fileName(""); // cancelled
    EXPECT_EQ(AskOpenTextFile(nullptr, &path), -1);
    EXPECT_EQ(path, "unchanged");
    EXPECT_FALSE(FileDialog::lastRequest().save);
    EXPECT_EQ(FileDialog::lastRequest().filter,
              "Text files (*.txt);;Bin Files (*.bin);;All Files (*)");

    DialogAnswers::fileName(before + "/users.txt");
    EXPECT_EQ(AskOpenTextFile(nullptr, &path), 0);
    EXPECT_EQ(path, before + "/users.txt");

    // The second open dialog offers the first one's file; the save dialog has its own memory,
    // and a name typed without an extension gets ".txt".
    DialogAnswers::fileName(before + "/export");
    EXPECT_EQ(AskSaveTextFile(nullptr, &path), 0);
    EXPECT_TRUE(FileDialog::lastRequest().save);
    EXPECT_EQ(FileDialog::lastRequest().dir, "");
    EXPECT_EQ(path, before + "/export.txt");

    DialogAnswers::fileName("");
    EXPECT_EQ(AskOpenTextFile(nullptr, &path), -1);
    EXPECT_EQ(FileDialog::lastRequest().dir, before + "/users.txt");
    DialogAnswers::fileName("");
    EXPECT_EQ(AskSaveTextFile(nullptr, &path), -1);
    EXPECT_EQ(FileDialog::lastRequest().dir, before + "/export.txt");
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(FrameTest, ActionButtonsTakeRadiiSmallerThanTheOnesBefore) {
    RoundButton button;
    SetupHelpButton(&button, QIcon()); // outer 14, inner 8
    SetupActionButton(&button, 10, 20, 30, 40, "&Mentés", Qt::blue, Qt::red, 4, 2);
    EXPECT_EQ(button.geometry(), QRect(10, 20, 30, 40));
    EXPECT_EQ(button.GetOuterRadius(), 4);
    EXPECT_EQ(button.GetInnerRadius(), 2);
}

// A page that records how it was told to apply the access rule.
class ProbePage : public Page {
  public:
    using Page::Page;
    void applyAccess(bool editing) override { access.append(editing ? "edit" : "view"); }
    void send(int id, quintptr param) { sendToMain(id, param); }
    QStringList access;
};

TEST_F(FrameTest, PagesApplyTheAccessRuleAndReachTheirMainWindow) {
    CommandRecorder main;
    QWidget inner(&main);
    ProbePage page(&inner);
    page.command(CMD_PAGE_SHOWN);
    page.command(CMD_PAGE_HIDDEN);
    serverData.session.SelectedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    serverData.session.GrantedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    serverData.session.SelectedLevel = 0;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.access, QStringList({"view", "view", "edit", "view"}));

    page.send(CMD_LOCK_TREE, 0);
    page.send(CMD_SHOW_PAGE, 0x20002);
    EXPECT_EQ(main.commands, QList<int>({CMD_LOCK_TREE, CMD_SHOW_PAGE}));
    EXPECT_EQ(main.params.value(1), quintptr(0x20002));
}

TEST_F(FrameTest, PrintSheetToPdfCarriesTheHeaderAndFooter) {
    CVCF1 sheet;
    sheet.SetTextRC(1, 1, "Kovács Péter");
    sheet.SetTextRC(2, 1, "Szabó Éva");
    sheet.SetTextRC(3, 2, "kívül"); // outside the printed range
    const QString pdf = QString::fromStdString((dir / "sheet.pdf").string());
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_EQ(PrintSheet(&sheet, 1, 1, 2, 1, "Felhasználók", "Orvelan & társai", &printer), 0);
    EXPECT_EQ(sheet.GetPrintHeader(), "&L&D &T &C Felhasználók&R&P / &N");
    EXPECT_EQ(sheet.GetPrintFooter(), "&L&D &T &COrvelan && társai");

    const QString text = pdfText(pdf);
    const std::string shown = text.toStdString();
    for (const char* part : {"Felhasználók", "Orvelan & társai", "Kovács Péter", "Szabó Éva"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << "\n" << shown;
    EXPECT_TRUE(QString(text).remove(' ').contains("1/1")) << shown; // "1 / 1", spaced by layout
    EXPECT_FALSE(text.contains("kívül")) << shown;
    EXPECT_TRUE(text.contains(QDate::currentDate().toString("yyyy.MM.dd"))) << shown;

    // Without a title and footer the sheet keeps the ones it had.
    const QString again = QString::fromStdString((dir / "again.pdf").string());
    printer.setOutputFileName(again);
    ASSERT_EQ(PrintSheet(&sheet, 1, 1, 1, 1, nullptr, nullptr, &printer), 0);
    EXPECT_EQ(sheet.GetPrintHeader(), "&L&D &T &C Felhasználók&R&P / &N");
    EXPECT_TRUE(pdfText(again).contains("Felhasználók"));
}

} // namespace
