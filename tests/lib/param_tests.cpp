// Tests of the parameter table and its sources, environment expansion, PutEnv and local commands.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "lib/vx_err.h"
#include "params/def.h"
#include "tests/support/temp_dir.h"
#include "winlib/vx_reg.h"

namespace fs = std::filesystem;

namespace {

class ParamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
        setenv("ORVELAN_REGISTRY", (dir / "registry.reg").c_str(), 1);
        vxResetParams();
        vxClearError();
    }
    void TearDown() override { unsetenv("ORVELAN_REGISTRY"); }
    std::string write(const std::string& name, const std::string& content) {
        return tmp.write(name, content);
    }
    TempDir tmp{"vxparam"};
    fs::path dir;
};

TEST_F(ParamTest, FileEntriesFirstOccurrenceWins) {
    std::string file = write("orvelan.cnf", "MainPasswdFile /l/apache/etc/empasswd two more\r\n"
                                            "single\n"
                                            "\n"
                                            "USERPROC \"./kaka -v\"\n"
                                            "MainPasswdFile /other\n");
    EXPECT_EQ(vxLoadParamFile(file.c_str()), 0);
    EXPECT_STREQ(vxGetParam("MainPasswdFile"), "/l/apache/etc/empasswd");
    EXPECT_STREQ(vxGetParam("USERPROC"), "./kaka -v");
    EXPECT_EQ(vxGetParam("single"), nullptr);
    EXPECT_EQ(vxLastError().code, 107);
    EXPECT_EQ(vxLastError().severity, 5);
    EXPECT_STREQ(vxLastError().text, "No parameter single in parameter file !");
    EXPECT_EQ(vxGetParam("mainpasswdfile"), nullptr); // case-sensitive

    // A second load appends; names already there keep their first value.
    std::string second = write("second", "MainPasswdFile /late\nGROUPLISTFIL /l/g\n");
    EXPECT_EQ(vxLoadParamFile(second.c_str()), 0);
    EXPECT_STREQ(vxGetParam("MainPasswdFile"), "/l/apache/etc/empasswd");
    EXPECT_STREQ(vxGetParam("GROUPLISTFIL"), "/l/g");
}

TEST_F(ParamTest, ExpansionJoinsWithoutDoubleSlashAndAMissingVariableStopsTheLoad) {
    char out[VX_PARAM_VALUE_MAX + 1];
    setenv("VXT_HOME", "/home/admin/", 1);
    EXPECT_EQ(vxExpandEnv("$VXT_HOME/etc", out), 0);
    EXPECT_STREQ(out, "/home/admin/etc");
    setenv("VXT_A", "/a", 1);
    setenv("VXT_B", "b", 1);
    EXPECT_EQ(vxExpandEnv("x$VXT_A/$VXT_B/y", out), 0);
    EXPECT_STREQ(out, "x/a/b/y");
    EXPECT_EQ(vxExpandEnv("plain", out), 0);
    EXPECT_STREQ(out, "plain");
    unsetenv("VXT_MISSING");
    EXPECT_EQ(vxExpandEnv("$VXT_MISSING/etc", out), -1);
    setenv("VXT_LONG", std::string(70, 'L').c_str(), 1);
    EXPECT_EQ(vxExpandEnv("$VXT_LONG/0123456789", out), -2);
    EXPECT_EQ(vxExpandEnv(std::string(80, 'v').c_str(), out), -2);
    EXPECT_EQ(vxExpandEnv(std::string(79, 'v').c_str(), out), 0);

    // A missing variable in a file stops the load and keeps the entries before it.
    unsetenv("VXT_UNSET");
    std::string file = write("p", "first 1\nPath $VXT_UNSET/etc\nlast 3\n");
    EXPECT_EQ(vxLoadParamFile(file.c_str()), -4);
    EXPECT_EQ(vxLastError().code, 102);
    EXPECT_STREQ(vxLastError().text, "Missing environment variable: $VXT_UNSET/etc");
    EXPECT_STREQ(vxGetParam("first"), "1");
    EXPECT_EQ(vxGetParam("last"), nullptr);
}

TEST_F(ParamTest, SourcesEnvironmentVariableMissingFileAndRegistry) {
    std::string file = write("byenv.cnf", "ProxyServerName proxy1\n");
    setenv("VXT_PARAMFILE", file.c_str(), 1);
    EXPECT_EQ(vxLoadParamFile("VXT_PARAMFILE"), 0);
    EXPECT_STREQ(vxGetParam("ProxyServerName"), "proxy1");
    unsetenv("VXT_PARAMFILE");

    std::string missing = (dir / "nope.cnf").string();
    EXPECT_EQ(vxLoadParamFile(missing.c_str()), -1);
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(std::string(vxLastError().text), "No such file or directory (" + missing + ") !");

    // A registry key: read once, then answered from the table.
    vxResetParams();
    const char* root = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator";
    std::string setup = std::string(root) + "\\Setup";
    ASSERT_EQ(
        vxWriteRegistryKey(nullptr, 0, (setup + "\\ProxyServerName").c_str(), "localhost", REG_SZ),
        1);
    EXPECT_EQ(vxLoadParamFile(setup.c_str()), 0);
    EXPECT_STREQ(vxGetParam("ProxyServerName"), "localhost");
    // A later change in the registry is not seen: the value is served from the table.
    ASSERT_EQ(
        vxWriteRegistryKey(nullptr, 0, (setup + "\\ProxyServerName").c_str(), "other", REG_SZ), 0);
    EXPECT_STREQ(vxGetParam("ProxyServerName"), "localhost");
    EXPECT_EQ(vxGetParam("LanServerForPing"), nullptr);
    EXPECT_STREQ(vxLastError().text, "No parameter LanServerForPing in parameter file !");

    // A registry value that names a file: the file is the parameter source.
    std::string pointed = write("fromreg.cnf", "USERLISTFIL /l/apache/etc/users\n");
    std::string pointer = "HKEY_CURRENT_USER\\Software\\Orvelan\\ParamFile";
    ASSERT_EQ(vxWriteRegistryKey(nullptr, 0, pointer.c_str(), pointed.c_str(), REG_SZ), 1);
    EXPECT_EQ(vxLoadParamFile(pointer.c_str()), 0);
    EXPECT_STREQ(vxGetParam("USERLISTFIL"), "/l/apache/etc/users");
}

TEST_F(ParamTest, BoundsOfTableAndPoolAreEnforced) {
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "k" + std::to_string(i) + " v\n";
    std::string file = write("many", many);
    EXPECT_EQ(vxLoadParamFile(file.c_str()), -4);
    EXPECT_EQ(vxLastError().code, 102);
    EXPECT_STREQ(vxLastError().text, "Parameter table full (256 entries, 8192 bytes): k256");
    EXPECT_STREQ(vxGetParam("k255"), "v");
    EXPECT_EQ(vxGetParam("k256"), nullptr);

    vxResetParams();
    std::string big; // 120 entries of about 78 bytes exceed the 8192-byte pool
    for (int i = 0; i < 120; ++i)
        big += "n" + std::to_string(i) + " " + std::string(70, 'x') + "\n";
    EXPECT_EQ(vxLoadParamFile(write("big", big).c_str()), -4);
    EXPECT_NE(vxGetParam("n100"), nullptr);
    EXPECT_EQ(vxGetParam("n119"), nullptr);

    vxResetParams();
    EXPECT_EQ(vxLoadParamFile(write("long", "v " + std::string(80, 'y') + "\n").c_str()), -4);
    EXPECT_EQ(std::string(vxLastError().text),
              "Parameter value longer than 79 characters: " + std::string(80, 'y'));
}

// A line the reader cannot take whole refuses the file: the parameters after it would be
// missing, and a program would go on without them (a post-save command without the command
// that makes Squid read the new lists).
TEST_F(ParamTest, ALineTooLongOrHoldingNulRefusesTheFile) {
    const std::string after = "SQUIDRECONFIGURE reconfigure\n";
    const struct {
        std::string line;
        const char* error; // after the file name
    } cases[] = {
        {"# a comment" + std::string(4084, ' ') + "\n", ":2: line longer than 4094 bytes"},
        {std::string("\0 comment\n", 11), ":2: a NUL byte in the line"},
        {std::string("X a\0b\n", 7), ":2: a NUL byte in the line"},
    };
    for (const auto& c : cases) {
        vxResetParams();
        vxClearError();
        std::string file = write("cnf", "A 1\n" + c.line + after);
        EXPECT_EQ(vxLoadParamFile(file.c_str()), -4) << c.error;
        EXPECT_EQ(std::string(vxLastError().text), file + c.error);
        EXPECT_STREQ(vxGetParam("A"), "1");
    }
    // The longest line that fits is read, and so is everything after it.
    vxResetParams();
    std::string file = write("cnf", "A 1\n# a comment" + std::string(4083, ' ') + "\n" + after);
    EXPECT_EQ(vxLoadParamFile(file.c_str()), 0);
    EXPECT_STREQ(vxGetParam("SQUIDRECONFIGURE"), "reconfigure");
}

TEST(PutEnvTest, SetsReplacesAndRefuses) {
    PutEnv("VXT_PUT = one");
    EXPECT_STREQ(getenv("VXT_PUT "), " one"); // the text is handed over unchanged
    PutEnv("VXT_PUT2=first");
    PutEnv("VXT_PUT2=a longer second value");
    EXPECT_STREQ(getenv("VXT_PUT2"), "a longer second value");
    PutEnv("VXT_PUT2=x");
    EXPECT_STREQ(getenv("VXT_PUT2"), "x");
    vxClearError();
    PutEnv("no equals sign");
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in PutEnv");
    // The pool is bounded: filling it is an error, never an overrun.
    std::string big(1000, 'z');
    for (int i = 0; i < 4; ++i)
        PutEnv(("VXT_BIG" + std::to_string(i) + "=" + big).c_str());
    EXPECT_STREQ(vxLastError().text, "Environment pool full in PutEnv");
    EXPECT_STREQ(getenv("VXT_PUT2"), "x");
}

TEST(SystemTest, ExitCodesBackgroundAndParentId) {
    EXPECT_EQ(vxSystem(nullptr), 1);
    EXPECT_EQ(vxSystem(""), 1);
    EXPECT_EQ(vxSystem("true"), 0);
    EXPECT_EQ(vxSystem("exit 7"), 7);
    EXPECT_EQ(vxSystem("exit 255"), 255);
    EXPECT_EQ(vxSystem("kill -9 $$"), 128 + 9);

    std::string tooLong = "echo " + std::string(260, 'a');
    vxClearError();
    EXPECT_EQ(vxSystem(tooLong.c_str()), 1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(std::string(vxLastError().text), tooLong.substr(0, 255));

    TempDir tmp("vxppid");
    ASSERT_TRUE(tmp.ok());
    std::string out = tmp.file("ppid");
    EXPECT_EQ(vxSystem(("echo $vxPPID > " + out).c_str()), 0);
    std::string pid;
    std::ifstream(out) >> pid;
    EXPECT_EQ(pid, std::to_string(getpid()));
    fs::remove(out);

    // A background command returns at once, before it has finished.
    EXPECT_EQ(vxSystem(("sleep 2; touch " + out + " &  ").c_str()), 0);
    EXPECT_FALSE(fs::exists(out));
    for (int i = 0; i < 200 && !fs::exists(out); ++i)
        usleep(50000);
    EXPECT_TRUE(fs::exists(out));
    fs::remove(out);
    EXPECT_EQ(vxWaitProcess(999999), -1);
}

} // namespace
