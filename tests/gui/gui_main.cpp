// Shared main of the GUI test programs: offscreen QApplication, seams that never wait on a person,
// tickers that tick only when a test advances them.
#include <gtest/gtest.h>

#include <QApplication>

#include "widgets/dialog_answers.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/ticker.h"

namespace {

// Every test starts with no recorded boxes or dialogs and no queued answers.
class SeamReset : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        MessageBox::clearShown();
        FileDialog::clearRequests();
        DialogAnswers::clear();
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DialogAnswers::setTestMode(true);
    Ticker::setTestMode(true);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SeamReset);
    return RUN_ALL_TESTS();
}
