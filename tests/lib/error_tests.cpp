// Tests of the error recorder, its severity table and the formatted file write.
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "lib/vx_err.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ErrorRecorder, KeepsLastErrorCutsLongTextsAndCallsTheHandler) {
    vxSetError(101, 4, 8, "first");
    vxSetError(22, 2, 8, std::string(300, 'x').c_str());
    const VxError& e = vxLastError();
    EXPECT_EQ(e.code, 22);
    EXPECT_EQ(e.severity, 2);
    EXPECT_EQ(e.kind, 8);
    EXPECT_EQ(std::string(e.text), std::string(255, 'x'));

    // A handler sees the error, and its result is returned.
    static std::string seen;
    VxErrorHandler previous = vxSetErrorHandler([](int code, int, int, const char* text) {
        seen = std::to_string(code) + " " + text;
        return 42;
    });
    EXPECT_EQ(vxSetError(110, 5, 8, "Object not found"), 42);
    EXPECT_EQ(seen, "110 Object not found");
    vxSetErrorHandler(previous);
    EXPECT_EQ(vxSetError(110, 5, 8, "again"), 0);
}

// A quiet thread records nothing; other threads, and the same one afterwards, record as before.
TEST(ErrorRecorder, AQuietThreadRecordsNothing) {
    vxClearError();
    std::thread quiet([] {
        VxQuietErrors hush;
        EXPECT_TRUE(vxErrorsQuiet());
        vxSetError(5, 2, VX_KIND_RPC, "from the quiet thread");
        errno = ENOENT;
        vxSysError("quiet");
    });
    quiet.join();
    EXPECT_EQ(vxLastError().code, 0);
    EXPECT_FALSE(vxErrorsQuiet());
    {
        VxQuietErrors hush;
        vxSetError(7, 2, VX_KIND_LIB, "hushed");
    }
    vxSetError(8, 2, VX_KIND_LIB, "heard");
    EXPECT_EQ(vxLastError().code, 8);
    EXPECT_STREQ(vxLastError().text, "heard");
}

TEST(ErrorTable, SeveritiesByCodeAndKind) {
    // {code, kind, severity}; (0, 1) is the end marker, no row.
    const int rows[][3] = {{2, 1, 5},   {2, 7, 4},     {111, 7, -1}, {28, 1, 2},
                           {100, 5, 6}, {-1226, 5, 4}, {107, 8, 5},  {0, 1, -1}};
    for (const auto& r : rows)
        EXPECT_EQ(vxErrorSeverity(r[0], r[1]), r[2]) << r[0] << "/" << r[1];
    EXPECT_STREQ(vxErrorStandardText(2, 1), "The object does not exeist !");
    EXPECT_STREQ(vxErrorStandardText(109, 8), "Time out");
    EXPECT_EQ(vxErrorStandardText(6, 1), nullptr);
}

TEST(SystemErrors, TextSubjectAndSeverity) {
    FILE* f = fopen("/nonexistent-orvelan-dir/file", "r");
    ASSERT_EQ(f, nullptr);
    vxSysError("/nonexistent-orvelan-dir/file");
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(vxLastError().severity, 5);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_STREQ(vxLastError().text, "No such file or directory (/nonexistent-orvelan-dir/file) !");

    vxWinError(EMFILE, nullptr); // 24: severity 2 from the table
    EXPECT_EQ(vxLastError().severity, 2);
    EXPECT_STREQ(vxLastError().text, "Too many open files !");

    vxWinError(EPIPE, "x"); // no table row: severity 3
    EXPECT_EQ(vxLastError().severity, 3);

    vxSetError(7, 7, 7, "unchanged");
    errno = 0;
    EXPECT_EQ(vxSysError("nothing"), 0);
    vxWinError(0, "nothing");
    EXPECT_STREQ(vxLastError().text, "unchanged");
}

TEST(PrintToFile, ReplacesOrAppendsAndReportsOpenFailure) {
    TempDir dir("vxprint");
    ASSERT_TRUE(dir.ok());
    std::string path = dir.file("attandance.txt");
    EXPECT_EQ(vxPrintToFile(path.c_str(), 1, "%02d:%02d - %s\n", 8, 0, "16:30"), 14);
    EXPECT_EQ(vxPrintToFile(path.c_str(), 0, "%d\n", 7), 2);
    EXPECT_EQ(readFileBytes(path), "08:00 - 16:30\n7\n");
    EXPECT_EQ(vxPrintToFile(path.c_str(), 1, "x"), 1);
    EXPECT_EQ(readFileBytes(path), "x");

    std::string bad = dir.file("missing/f");
    EXPECT_EQ(vxPrintToFile(bad.c_str(), 1, "x"), -1);
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(std::string(vxLastError().text),
              "No such file or directory (vxPrintToFile: " + bad + ") !");
}

TEST(FixedBuffers, FormatAndCopyReportWhatDoesNotFit) {
    char buf[6]; // strlen("12345") + 1
    EXPECT_TRUE(vxCopy(buf, sizeof buf, "12345"));
    EXPECT_STREQ(buf, "12345");
    EXPECT_FALSE(vxCopy(buf, sizeof buf, "123456"));
    EXPECT_STREQ(buf, "12345"); // untouched
    EXPECT_TRUE(vxFormat(buf, sizeof buf, "%d", 12345));
    EXPECT_FALSE(vxFormat(buf, sizeof buf, "%d", 123456));
}

} // namespace
