// Tests of the registry store: paths, roots, types and conversions, result codes, the file format.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "lib/vx_err.h"
#include "tests/support/temp_dir.h"
#include "winlib/vx_reg.h"

namespace fs = std::filesystem;

namespace {

using Got = std::pair<int, std::string>;

const std::string kSetup =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup";

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
        store = (dir / "sub" / "registry.reg").string();
        setenv("ORVELAN_REGISTRY", store.c_str(), 1);
        vxClearError();
    }
    void TearDown() override { unsetenv("ORVELAN_REGISTRY"); }
    std::string storeText() { return readFileBytes(store); }
    static int write(const std::string& path, const char* value, int type = REG_SZ) {
        return vxWriteRegistryKey(nullptr, 0, path.c_str(), value, type);
    }
    // The result code and the value read.
    static std::pair<int, std::string> read(const std::string& path) {
        char out[256];
        int rc = vxReadRegistryKey(nullptr, 0, path.c_str(), out, sizeof out);
        return {rc, rc >= 0 ? out : ""};
    }
    TempDir tmp{"vxreg"};
    fs::path dir;
    std::string store;
};

TEST(RegRoot, NamesAnywhereInThePathAndGivenRoots) {
    const char* below = nullptr;
    EXPECT_EQ(vxRegRoot(0, "HKEY_CURRENT_USER", &below), HKEY_CURRENT_USER);
    EXPECT_STREQ(below, "");
    EXPECT_EQ(vxRegRoot(0, "HKEY_LOCAL_MACHINE\\Software\\X", &below), HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(below, "Software\\X");
    EXPECT_EQ(vxRegRoot(0, "\\\\machine\\HKEY_USERS\\A", &below), HKEY_USERS);
    EXPECT_STREQ(below, "A");
    EXPECT_EQ(vxRegRoot(0, "SOFTWARE\\X", &below), 0u);
    EXPECT_EQ(vxRegRoot(HKEY_CLASSES_ROOT, "a\\b", &below), HKEY_CLASSES_ROOT);
    EXPECT_STREQ(below, "a\\b");
}

TEST_F(RegistryTest, WriteCreatesThenReplacesAndReadsBack) {
    EXPECT_EQ(read(kSetup + "\\Set").first, -2);
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(vxLastError().severity, 6);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_EQ(std::string(vxLastError().text),
              "The registry key " + kSetup + "\\Set does not exist !");

    EXPECT_EQ(write(kSetup + "\\Set", "X"), 1);
    EXPECT_EQ(write(kSetup + "\\ProxyServerName", "proxy \"main\" C:\\x"), 1);
    EXPECT_EQ(read(kSetup + "\\Set"), Got(REG_SZ, "X"));
    EXPECT_EQ(write(kSetup + "\\Set", "Y"), 0);
    EXPECT_EQ(read(kSetup + "\\Set"), Got(REG_SZ, "Y"));
    // Keys and value names are matched without regard to case, as the registry does.
    EXPECT_EQ(read("HKEY_LOCAL_MACHINE\\software\\TARNWELL\\Varrow Remote Administrator\\"
                   "Setup\\proxyservername"),
              Got(REG_SZ, "proxy \"main\" C:\\x"));

    // The file is REGEDIT4 text that a person can read.
    EXPECT_EQ(storeText(), "REGEDIT4\r\n\r\n[" + kSetup +
                               "]\r\n\"Set\"=\"Y\"\r\n"
                               "\"ProxyServerName\"=\"proxy \\\"main\\\" C:\\\\x\"\r\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator{}), 1);
}

TEST_F(RegistryTest, TypesAndConversions) {
    std::string base = "HKEY_CURRENT_USER\\Software\\T\\";
    EXPECT_EQ(write(base + "Count", "5", REG_DWORD), 1);
    EXPECT_EQ(read(base + "Count"), Got(REG_DWORD, "5"));
    // REG_SZ over an existing DWORD keeps REG_DWORD and converts the text.
    EXPECT_EQ(write(base + "Count", "-12"), 0);
    EXPECT_EQ(read(base + "Count"), Got(REG_DWORD, "-12"));
    EXPECT_EQ(write(base + "Big", "7", REG_DWORD_BIG_ENDIAN), 1);
    EXPECT_EQ(read(base + "Big"), Got(REG_DWORD_BIG_ENDIAN, "7"));
    EXPECT_EQ(write(base + "Exp", "%HOME%\\x", REG_EXPAND_SZ), 1);
    EXPECT_EQ(read(base + "Exp"), Got(REG_EXPAND_SZ, "%HOME%\\x")); // not expanded

    // Values written by hand in regedit's forms.
    const std::string hand = "HKEY_CURRENT_USER\\Software\\Hand\\";
    std::ofstream(store, std::ios::app) << "\r\n[HKEY_CURRENT_USER\\Software\\Hand]\r\n"
                                           "; a comment\r\n"
                                           "\"Word\"=dword:0000002a\r\n"
                                           "\"Multi\"=hex(7):61,00,62,63,00,\\\r\n"
                                           "  00\r\n"
                                           "\"Bin\"=hex:41,42\r\n"
                                           "@=\"default\"\r\n";
    EXPECT_EQ(read(hand + "Word"), Got(REG_DWORD, "42"));
    char out[16] = {};
    EXPECT_EQ(vxReadRegistryKey(nullptr, 0, (hand + "Multi").c_str(), out, sizeof out),
              REG_MULTI_SZ);
    EXPECT_EQ(std::string(out, 6), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(read(hand + "Bin"), Got(REG_BINARY, "AB"));
    EXPECT_EQ(read(hand), Got(REG_SZ, "default"));

    // A later write keeps the hand-written values.
    EXPECT_EQ(write(base + "New", "n"), 1);
    EXPECT_EQ(read(hand + "Multi").first, REG_MULTI_SZ);
    EXPECT_EQ(read(hand + "Word"), Got(REG_DWORD, "42"));
}

TEST_F(RegistryTest, BadPathsMachinesAndSmallBuffers) {
    EXPECT_EQ(read("NoBackslash").first, -1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(vxLastError().severity, 5);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in vxReadRegistryKey");
    EXPECT_EQ(read("SOFTWARE\\X\\Y").first, -1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(write("HKEY_PERFORMANCE_DATA\\X\\Y", "1"), -1);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in vxReadRegistryKey");

    char out[4];
    EXPECT_EQ(vxReadRegistryKey("otherpc", 0, (kSetup + "\\Set").c_str(), out, sizeof out), -1);
    EXPECT_EQ(std::string(vxLastError().text),
              "Connection refused (SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup, "
              "vxReadRegistryKey,RegConnectRegistry) !");
    EXPECT_EQ(vxWriteRegistryKey("otherpc", 0, (kSetup + "\\Set").c_str(), "X", REG_SZ), -1);

    ASSERT_EQ(write(kSetup + "\\Long", "abcd"), 1);
    EXPECT_EQ(vxReadRegistryKey(nullptr, 0, (kSetup + "\\Long").c_str(), out, sizeof out), -1);
    EXPECT_EQ(vxLastError().code, ENOBUFS);

    // A write that fails records the same message as a read that fails.
    std::string huge(VX_REG_VALUE_MAX + 1, 'h');
    EXPECT_EQ(write(kSetup + "\\Huge", huge.c_str()), -1);
    EXPECT_EQ(std::string(vxLastError().text),
              "File too large (SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup, "
              "vxReadRegistryKey,RegOpenKey) !");
}

TEST_F(RegistryTest, CorruptStoreIsRefusedAndLeftUntouched) {
    fs::create_directories(dir / "sub");
    const std::string text =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"ok\"=\"1\"\r\nbroken line\r\n";
    std::ofstream(store, std::ios::binary) << text;
    EXPECT_EQ(read("HKEY_CURRENT_USER\\A\\ok").first, -1);
    EXPECT_EQ(vxLastError().code, 101);
    EXPECT_EQ(std::string(vxLastError().text), "Corrupted registry store " + store + " (line 5) !");
    EXPECT_EQ(write("HKEY_CURRENT_USER\\A\\new", "2"), -1);
    EXPECT_EQ(storeText(), text);
}

TEST_F(RegistryTest, UnwritableDirectoryFailsWithoutDamage) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write into any directory";
    fs::create_directories(dir / "sub");
    ASSERT_EQ(write("HKEY_CURRENT_USER\\A\\v", "1"), 1);
    fs::permissions(dir / "sub", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(write("HKEY_CURRENT_USER\\A\\v", "2"), -1);
    EXPECT_EQ(vxLastError().code, EACCES);
    EXPECT_STREQ(vxLastError().text, "Permission denied (A, vxReadRegistryKey,RegOpenKey) !");
    fs::permissions(dir / "sub", fs::perms::owner_all);
    EXPECT_EQ(read("HKEY_CURRENT_USER\\A\\v"), Got(REG_SZ, "1"));
}

} // namespace
