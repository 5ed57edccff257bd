// The page frame and the common dialogs: password and text input dialogs, status label, file
// dialogs, header codes, help window, the page base and its Enter/Escape filter.
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include "app_fixture.h"
#include "buttons.h"
#include "commands.h"
#include "frame_buttons.h"
#include "page.h"
#include "sheet_printing.h"
#include "status_label.h"
#include "text_file_dialogs.h"
#include "vcf1.h"

namespace {

using FrameTest = AppTest;

TEST_F(FrameTest, PasswordDialogShowsTheFieldsOfItsMode) {
    PasswordDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Password");
    // Which fields each mode shows: old (change only), new (not for one password), confirmation.
    const char* expected[3] = {
        "new: Új jelszó: | confirm: Jelszó megerõsítés:",
        "old: Régi jelszó: | new: Új jelszó: | confirm: Jelszó megerõsítés:", "confirm: Password:"};
    for (int mode : {0, 1, 2, 3, -1}) {
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
        EXPECT_EQ(dialog.mode(), stored) << mode;
        EXPECT_EQ(shown.join(" | "), expected[stored]) << mode;
        for (QLineEdit* field : {dialog.oldField(), dialog.newField(), dialog.confirmField()})
            EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        // Every shown part fits the dialog.
        for (QWidget* part : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (part->isHidden()) continue;
            EXPECT_TRUE(dialog.rect().contains(part->geometry())) << mode;
        }
    }
}

TEST_F(FrameTest, PasswordDialogShowsAtItsPlaceWithTheFocusOnTheFirstField) {
    PasswordDialog dialog;
    dialog.setMode(1);
    dialog.show();
    EXPECT_EQ(dialog.pos(), QPoint(100, 100));
    EXPECT_EQ(dialog.focusWidget(), dialog.oldField());
    dialog.hide();
    dialog.setMode(2);
    dialog.show();
    EXPECT_EQ(dialog.focusWidget(), dialog.confirmField());
}

TEST_F(FrameTest, PasswordDialogStoresWhatItsModeShowsAndCutsAt255) {
    const QString long300(300, QLatin1Char('a'));
    {
        PasswordDialog dialog;
        dialog.setMode(2);
        DialogAnswers::passwords("old", "new", long300);
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.confirmation(), QString(255, QLatin1Char('a')));
        EXPECT_EQ(dialog.confirmationBytes(), QByteArray(255, 'a'));
        EXPECT_EQ(dialog.oldPassword(), ""); // not shown in mode 2
        EXPECT_EQ(dialog.newPassword(), "");
    }
    {
        PasswordDialog dialog;
        dialog.setMode(1);
        DialogAnswers::passwords("régi", "Új ő", "");
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.oldPassword(), "régi");
        EXPECT_EQ(dialog.newPassword(), "Új ő");
        EXPECT_EQ(dialog.newPasswordBytes(), QByteArray("\xDAj \xF5"));
        EXPECT_EQ(dialog.confirmation(), ""); // an empty field is an empty password
    }
    {
        PasswordDialog dialog;
        dialog.setMode(0);
        DialogAnswers::passwords("old", "n", "n");
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.oldPassword(), "");
        EXPECT_EQ(dialog.newPassword(), "n");
        EXPECT_EQ(dialog.confirmation(), "n");
    }
    {
        PasswordDialog dialog;
        dialog.setMode(1);
        DialogAnswers::passwordCancel();
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_EQ(dialog.oldPassword() + dialog.newPassword() + dialog.confirmation(), "");
    }
    EXPECT_EQ(shownTexts(), "");
}

TEST_F(FrameTest, PasswordDialogRefusesCharactersWithoutAWindows1250Byte) {
    PasswordDialog dialog;
    dialog.setMode(2);
    DialogAnswers::password(QString::fromUtf8("jelsz\u00f1"));
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.confirmation(), "");
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(MessageBox::lastShown().text,
              "A jelszóban olyan karakter van, amely a Windows-1250 kódlapon nem írható le !");
}

TEST_F(FrameTest, TextInputDialogCutsAt255AndCancelEmpties) {
    TextInputDialog dialog;
    dialog.setTitle("Uj lista elem:");
    dialog.setText(QString(300, QLatin1Char('x')));
    EXPECT_EQ(dialog.textLength(), 255);
    EXPECT_EQ(dialog.field()->text(), QString(255, QLatin1Char('x')));
    EXPECT_EQ(dialog.okButton()->text(), "&Ok");
    EXPECT_EQ(dialog.cancelButton()->text(), "&Mégsem");
    EXPECT_TRUE(dialog.okButton()->isDefault());

    DialogAnswers::text(QString(256, QLatin1Char('y')) + "z");
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), QString(255, QLatin1Char('y')));
    EXPECT_EQ(dialog.windowTitle(), "Uj lista elem:");

    dialog.setText("www.example.hu");
    DialogAnswers::textCancel();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.text(), "");
    EXPECT_EQ(dialog.textLength(), 0);
}

TEST_F(FrameTest, DialogsWithoutTheirAnswerAreCancelledAndReported) {
    PasswordDialog password;
    password.setMode(2);
    TextInputDialog input;
    input.setText("www.example.hu");
    // The test expected the text input first: the password dialog does not take its answer.
    DialogAnswers::text("www.example.org");
    EXPECT_EQ(password.exec(), QDialog::Rejected);
    EXPECT_EQ(input.exec(), QDialog::Accepted);
    EXPECT_EQ(input.text(), "www.example.org");
    EXPECT_EQ(input.exec(), QDialog::Rejected);
    EXPECT_EQ(input.text(), "");
    EXPECT_EQ(DialogAnswers::unexpected(),
              QStringList({"password dialog before text input dialog answer",
                           "text input dialog without an answer"}));
    DialogAnswers::clear();
}

TEST_F(FrameTest, StatusLabelBlinksRedAndBlackOnceASecond) {
    StatusLabel label;
    SetupStatusLabel(&label);
    EXPECT_EQ(label.alignment(), Qt::AlignCenter);
    EXPECT_EQ(label.backgroundOn(), QColor(192, 192, 192));
    EXPECT_EQ(label.backgroundOff(), QColor(192, 192, 192));
    EXPECT_TRUE(label.border());
    EXPECT_TRUE(label.sunken());
    EXPECT_EQ(label.font().family(), "Arial");
    EXPECT_EQ(label.font().pointSize(), 16);
    EXPECT_EQ(label.font().weight(), QFont::Bold);
    EXPECT_TRUE(label.flashing());
    EXPECT_EQ(label.flashPeriod(), 1.0);
    EXPECT_TRUE(label.flashState());
    EXPECT_EQ(label.currentTextColour(), QColor(255, 0, 0));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(255, 0, 0));

    label.flashTick();
    EXPECT_FALSE(label.flashState());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 0));

    // The timer toggles it back by itself (generous bound: only the toggling is asserted).
    QTRY_COMPARE_WITH_TIMEOUT(label.flashState(), true, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(label.flashState(), false, 5000);

    // Stopped, the state is the one given, and stays.
    label.setFlashing(false, 1.0, true);
    EXPECT_TRUE(label.flashState());
    QTest::qWait(1300);
    EXPECT_TRUE(label.flashState());
    EXPECT_EQ(label.currentTextColour(), QColor(255, 0, 0));

    label.setStatusText("OK !");
    EXPECT_EQ(label.text(), "OK !");
}

TEST_F(FrameTest, FileDialogsKeepTheirOwnNamesAndTheCurrentDirectory) {
    const QString before = QDir::currentPath();
    QString path = "unchanged";
    DialogAnswers::fileName(""); // cancelled
    EXPECT_EQ(AskOpenTextFile(nullptr, &path), -1);
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(QDir::currentPath(), before);
    FileDialog::Request open = FileDialog::lastRequest();
    EXPECT_FALSE(open.save);
    EXPECT_EQ(open.caption, "Open a File");
    EXPECT_EQ(open.dir, "");
    EXPECT_EQ(open.filter, "Text files (*.txt);;Bin Files (*.bin);;All Files (*)");

    DialogAnswers::fileName(before + "/users.txt");
    EXPECT_EQ(AskOpenTextFile(nullptr, &path), 0);
    EXPECT_EQ(path, before + "/users.txt");
    EXPECT_EQ(QDir::currentPath(), before);

    // The second open dialog offers the first one's file; the save dialog has its own memory,
    // and a name typed without an extension gets ".txt".
    DialogAnswers::fileName(before + "/export");
    EXPECT_EQ(AskSaveTextFile(nullptr, &path), 0);
    EXPECT_EQ(FileDialog::lastRequest().caption, "Save a File");
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

TEST_F(FrameTest, HeaderAndFooterCodesAreRendered) {
    const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9));
    PrintHeaderParts header = RenderPrintCodes("&L&D &T &C Felhasználók&R&P / &N", 2, 3, now);
    EXPECT_EQ(header.left, "2024.03.05 14:07 ");
    EXPECT_EQ(header.centre, " Felhasználók");
    EXPECT_EQ(header.right, "2 / 3");
    PrintHeaderParts plain = RenderPrintCodes("A && B &X&", 1, 1, now); // unknown codes drop
    EXPECT_EQ(plain.left, "");
    EXPECT_EQ(plain.centre, "A & B &");
    EXPECT_EQ(plain.right, "");
}

TEST_F(FrameTest, CommonButtonsTakeTheirPlacesAndLooks) {
    QWidget page;
    RoundButton help(&page), print(&page), refresh(&page), action(&page);
    SetupHelpButton(&help, QIcon());
    EXPECT_EQ(help.text(), "&Súgó");
    EXPECT_EQ(help.geometry(), QRect(5, 385, 100, 40));
    EXPECT_EQ(help.GetButtonColor(), QColor(184, 181, 118));
    EXPECT_EQ(help.GetHorizontalAlignment(), Qt::AlignRight);
    EXPECT_EQ(help.GetOuterRadius(), 14);
    EXPECT_EQ(help.GetInnerRadius(), 8);
    EXPECT_EQ(help.GetShadingParameter(RoundButton::ShadingCoefficient), 10.0);
    EXPECT_EQ(help.GetContentMargins(), QPoint(-5, 0));
    SetupPrintButton(&print, QIcon());
    EXPECT_EQ(print.text(), "&Nyomtat");
    EXPECT_EQ(print.geometry(), QRect(490, 385, 120, 40));
    EXPECT_EQ(print.GetButtonColor(), QColor(120, 140, 210));
    SetupRefreshButton(&refresh, QIcon());
    EXPECT_EQ(refresh.text(), "&Frissít");
    EXPECT_EQ(refresh.GetTextColor(), QColor(Qt::white));
    EXPECT_EQ(refresh.GetButtonColor(), QColor(0, 128, 0));
    EXPECT_EQ(refresh.GetHorizontalAlignment(), Qt::AlignLeft);
    // Radii smaller than the ones set before are taken too.
    SetupActionButton(&help, 10, 20, 30, 40, "&Mentés", Qt::blue, Qt::red, 4, 2);
    EXPECT_EQ(help.geometry(), QRect(10, 20, 30, 40));
    EXPECT_EQ(help.GetOuterRadius(), 4);
    EXPECT_EQ(help.GetInnerRadius(), 2);
    EXPECT_EQ(help.GetHorizontalAlignment(), Qt::AlignHCenter);
}

// A page that records its commands and how it was told to apply the access rule.
class ProbePage : public Page {
  public:
    using Page::Page;
    void applyAccess(bool editing) override { access.append(editing ? "edit" : "view"); }
    int helpContext() const override { return HELP_USERS; }
    void send(int id, quintptr param) { sendToMain(id, param); }
    QStringList access;
};

class Receiver : public QWidget, public CommandTarget {
  public:
    void command(int id, quintptr param) override { received.append({id, param}); }
    QList<QPair<int, quintptr>> received;
};

TEST_F(FrameTest, PagesApplyTheAccessRuleAndReachTheirMainWindow) {
    Receiver main;
    QWidget inner(&main);
    ProbePage page(&inner);
    EXPECT_TRUE(page.isHidden());
    page.command(CMD_PAGE_SHOWN);
    page.command(CMD_PAGE_HIDDEN);
    serverData.SelectedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    serverData.GrantedLevel = 1;
    page.command(CMD_PAGE_SHOWN);
    serverData.SelectedLevel = 0;
    page.command(CMD_PAGE_SHOWN);
    EXPECT_EQ(page.access, QStringList({"view", "view", "edit", "view"}));

    page.send(CMD_LOCK_TREE, 0);
    page.send(CMD_SHOW_PAGE, 0x20002);
    ASSERT_EQ(main.received.size(), 2);
    EXPECT_EQ(main.received[0].first, CMD_LOCK_TREE);
    EXPECT_EQ(main.received[1].first, CMD_SHOW_PAGE);
    EXPECT_EQ(main.received[1].second, quintptr(0x20002));
    EXPECT_EQ(showPageParam(2, 2), 0x20002u);
    EXPECT_EQ(showPageParam(0, 4), 0x40000u);
}

TEST_F(FrameTest, EnterAndEscapeAreSwallowedExceptWhereTurnedOff) {
    QWidget window;
    ProbePage page(&window);
    page.show();
    QLineEdit field(&page);
    field.show();
    QSignalSpy entered(&field, &QLineEdit::returnPressed);
    window.show();
    QTest::keyClick(&field, Qt::Key_Return);
    QTest::keyClick(&field, Qt::Key_Enter);
    EXPECT_EQ(entered.count(), 0);
    QTest::keyClick(&field, Qt::Key_A);
    EXPECT_EQ(field.text(), "a");
    page.setSwallowEnterEscape(false);
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(entered.count(), 1);
}

TEST_F(FrameTest, HelpOpensAtThePageContextAndCloses) {
    ProbePage page(nullptr);
    page.showHelp();
    HelpWindow* help = HelpWindow::instance();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->context(), HELP_USERS);
    EXPECT_EQ(help->anchor(), "ctx262");
    EXPECT_FALSE(help->browser()->toPlainText().isEmpty());
    EXPECT_EQ(HelpWindow::showContext(0), help); // one window, another place
    EXPECT_EQ(help->anchor(), "general");
    HelpWindow::closeHelp();
    EXPECT_EQ(HelpWindow::instance(), nullptr);
}

} // namespace

namespace {

std::string pdfText(const std::string& pdf) {
    std::string command = "pdftotext -layout '" + pdf + "' - 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

TEST_F(FrameTest, PrintSheetToPdfCarriesTheHeaderAndFooter) {
    CVCF1 sheet;
    sheet.SetTextRC(1, 1, "Kovács Péter");
    sheet.SetTextRC(2, 1, "Szabó Éva");
    sheet.SetTextRC(3, 2, "kívül"); // outside the printed range
    const std::string pdf = (dir / "sheet.pdf").string();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    ASSERT_EQ(PrintSheet(&sheet, 1, 1, 2, 1, "Felhasználók", "Orvelan & társai", &printer), 0);
    EXPECT_EQ(sheet.GetPrintHeader(), "&L&D &T &C Felhasználók&R&P / &N");
    EXPECT_EQ(sheet.GetPrintFooter(), "&L&D &T &COrvelan && társai");

    std::string text = pdfText(pdf);
    EXPECT_NE(text.find("Felhasználók"), std::string::npos) << text;
    std::string squeezed = text;
    std::erase(squeezed, ' ');
    EXPECT_NE(squeezed.find("1/1"), std::string::npos) << text; // "1 / 1", spaced by the layout
    EXPECT_NE(text.find("Orvelan & társai"), std::string::npos) << text;
    EXPECT_NE(text.find("Kovács Péter"), std::string::npos) << text;
    EXPECT_NE(text.find("Szabó Éva"), std::string::npos) << text;
    EXPECT_EQ(text.find("kívül"), std::string::npos) << text;
    const std::string today = QDate::currentDate().toString("yyyy.MM.dd").toStdString();
    EXPECT_NE(text.find(today), std::string::npos) << text;

    // Without a title and footer the sheet keeps the ones it had.
    printer.setOutputFileName(QString::fromStdString((dir / "again.pdf").string()));
    ASSERT_EQ(PrintSheet(&sheet, 1, 1, 1, 1, nullptr, nullptr, &printer), 0);
    EXPECT_EQ(sheet.GetPrintHeader(), "&L&D &T &C Felhasználók&R&P / &N");
    EXPECT_EQ(sheet.GetPrintFooter(), "&L&D &T &COrvelan && társai");
    EXPECT_NE(pdfText((dir / "again.pdf").string()).find("Felhasználók"), std::string::npos);
}

} // namespace
