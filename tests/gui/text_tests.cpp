// Windows-1250 codec, the message-box and file-dialog seams and the wait cursor.
#include <gtest/gtest.h>

#include <QApplication>

#include "widgets/cp1250.h"
#include "widgets/dialog_answers.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/waitcursor.h"

TEST(Cp1250, TextAndEveryByteRoundTripAndUnrepresentableInputIsRefused) {
    const QString name = "Kovács Jánosné őrző űr";
    std::string bytes;
    ASSERT_TRUE(toCp1250(name, bytes));
    EXPECT_EQ(bytes, std::string("Kov\xE1"
                                 "cs J\xE1nosn\xE9 \xF5rz\xF5 \xFBr"));
    EXPECT_EQ(fromCp1250(bytes), name);
    EXPECT_EQ(fromCp1250(bytes.c_str()), name);
    EXPECT_EQ(fromCp1250(static_cast<const char*>(nullptr)), QString());

    ASSERT_TRUE(toCp1250("€", bytes));
    EXPECT_EQ(bytes, std::string("\x80"));

    // Every byte comes back unchanged, the ones Windows-1250 leaves undefined too.
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(char(b));
    const QString text = fromCp1250(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text[0x81], QChar(0x81));  // undefined in Windows-1250, kept as is
    EXPECT_EQ(text[0x8A], QChar(0x160)); // Š
    std::string back;
    ASSERT_TRUE(toCp1250(text, back));
    EXPECT_EQ(back, all);

    std::string out = "kept";
    qsizetype bad = -1;
    EXPECT_FALSE(toCp1250("año", out, &bad));
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(out, "kept");
    EXPECT_FALSE(toCp1250("ab中", out, &bad));
    EXPECT_EQ(bad, 2);
    EXPECT_FALSE(toCp1250(QString::fromUcs4(U"\U0001F600"), out, &bad));
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(out, "kept");
}

TEST(DialogAnswers, OneQueueAnswersTheDialogsInTheOrderQueued) {
    DialogAnswers::fileName("/tmp/a.txt");
    DialogAnswers::button(MessageBox::Cancel);
    DialogAnswers::fileName(QString()); // cancelled
    EXPECT_EQ(DialogAnswers::pending(), 3);
    // A box before its answer's turn takes its first button, is recorded, and leaves the file
    // name waiting.
    EXPECT_EQ(MessageBox::question(nullptr, "Q", "early?"), MessageBox::Yes);
    EXPECT_EQ(DialogAnswers::pending(), 3);
    EXPECT_EQ(FileDialog::getOpenFileName(nullptr, "Open a File", QString(), "Text files (*.txt)"),
              "/tmp/a.txt");
    EXPECT_EQ(FileDialog::lastRequest().filter, "Text files (*.txt)");
    EXPECT_EQ(MessageBox::question(nullptr, "Orvelan", "Mentsem?", MessageBox::OkCancel),
              MessageBox::Cancel);
    EXPECT_EQ(FileDialog::getSaveFileName(nullptr, QString(), "old.txt", QString()), QString());
    EXPECT_EQ(DialogAnswers::pending(), 0);
    EXPECT_TRUE(FileDialog::lastRequest().save);
    EXPECT_EQ(FileDialog::lastRequest().dir, "old.txt");
    ASSERT_EQ(MessageBox::shown().size(), 2);
    EXPECT_EQ(MessageBox::lastShown().kind, MessageBox::Question);
    EXPECT_EQ(MessageBox::lastShown().title, "Orvelan");
    EXPECT_EQ(MessageBox::lastShown().text, "Mentsem?");
    EXPECT_EQ(MessageBox::lastShown().buttons, MessageBox::OkCancel);
    // Message boxes and file dialogs have defaults: nothing unexpected.
    EXPECT_EQ(DialogAnswers::unexpected(), QStringList());
}

TEST(WaitCursor, NestsAndRestores) {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    {
        WaitCursor outer;
        {
            WaitCursor inner;
            ASSERT_NE(QApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
