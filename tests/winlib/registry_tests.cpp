// Tests of the registry store: paths, roots, types and conversions, result codes, the file format.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "temp_dir.h"
#include "vx_err.h"
#include "vx_reg.h"

namespace fs = std::filesystem;

namespace {

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
    int read(const std::string& path, std::string& value) {
        char out[256];
        int rc = vxReadRegistryKey(nullptr, 0, path.c_str(), out, sizeof out);
        value = rc >= 0 ? out : "";
        return rc;
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
    std::string v;
    EXPECT_EQ(read(kSetup + "\\Set", v), -2);
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(vxLastError().severity, 6);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_EQ(std::string(vxLastError().text),
              "The registry key " + kSetup + "\\Set does not exist !");

    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (kSetup + "\\Set").c_str(), "X", REG_SZ), 1);
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (kSetup + "\\ProxyServerName").c_str(),
                                 "proxy \"main\" C:\\x", REG_SZ),
              1);
    EXPECT_EQ(read(kSetup + "\\Set", v), REG_SZ);
    EXPECT_EQ(v, "X");
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (kSetup + "\\Set").c_str(), "Y", REG_SZ), 0);
    EXPECT_EQ(read(kSetup + "\\Set", v), REG_SZ);
    EXPECT_EQ(v, "Y");
    // Keys and value names are matched without regard to case, as the registry does.
    EXPECT_EQ(read("HKEY_LOCAL_MACHINE\\software\\TARNWELL\\Varrow Remote Administrator\\"
                   "Setup\\proxyservername",
                   v),
              REG_SZ);
    EXPECT_EQ(v, "proxy \"main\" C:\\x");

    // The file is REGEDIT4 text that a person can read.
    EXPECT_EQ(storeText(), "REGEDIT4\r\n\r\n[" + kSetup +
                               "]\r\n\"Set\"=\"Y\"\r\n"
                               "\"ProxyServerName\"=\"proxy \\\"main\\\" C:\\\\x\"\r\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator{}), 1);
}

TEST_F(RegistryTest, TypesAndConversions) {
    std::string v;
    std::string base = "HKEY_CURRENT_USER\\Software\\T\\";
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (base + "Count").c_str(), "5", REG_DWORD), 1);
    EXPECT_EQ(read(base + "Count", v), REG_DWORD);
    EXPECT_EQ(v, "5");
    // REG_SZ over an existing DWORD keeps REG_DWORD and converts the text.
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (base + "Count").c_str(), "-12", REG_SZ), 0);
    EXPECT_EQ(read(base + "Count", v), REG_DWORD);
    EXPECT_EQ(v, "-12");
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (base + "Big").c_str(), "7", REG_DWORD_BIG_ENDIAN), 1);
    EXPECT_EQ(read(base + "Big", v), REG_DWORD_BIG_ENDIAN);
    EXPECT_EQ(v, "7");
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (base + "Exp").c_str(), "%HOME%\\x", REG_EXPAND_SZ),
              1);
    EXPECT_EQ(read(base + "Exp", v), REG_EXPAND_SZ);
    EXPECT_EQ(v, "%HOME%\\x"); // not expanded

    // Values written by hand in regedit's forms.
    std::ofstream(store, std::ios::app) << "\r\n[HKEY_CURRENT_USER\\Software\\Hand]\r\n"
                                           "; a comment\r\n"
                                           "\"Word\"=dword:0000002a\r\n"
                                           "\"Multi\"=hex(7):61,00,62,63,00,\\\r\n"
                                           "  00\r\n"
                                           "\"Bin\"=hex:41,42\r\n"
                                           "@=\"default\"\r\n";
    EXPECT_EQ(read("HKEY_CURRENT_USER\\Software\\Hand\\Word", v), REG_DWORD);
    EXPECT_EQ(v, "42");
    char out[16] = {};
    EXPECT_EQ(
        vxReadRegistryKey(nullptr, 0, "HKEY_CURRENT_USER\\Software\\Hand\\Multi", out, sizeof out),
        REG_MULTI_SZ);
    EXPECT_EQ(std::string(out, 6), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(read("HKEY_CURRENT_USER\\Software\\Hand\\Bin", v), REG_BINARY);
    EXPECT_EQ(v, "AB");
    EXPECT_EQ(read("HKEY_CURRENT_USER\\Software\\Hand\\", v), REG_SZ);
    EXPECT_EQ(v, "default");

    // A later write keeps the hand-written values.
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (base + "New").c_str(), "n", REG_SZ), 1);
    EXPECT_EQ(read("HKEY_CURRENT_USER\\Software\\Hand\\Multi", v), REG_MULTI_SZ);
    EXPECT_EQ(read("HKEY_CURRENT_USER\\Software\\Hand\\Word", v), REG_DWORD);
    EXPECT_EQ(v, "42");
}

TEST_F(RegistryTest, BadPathsMachinesAndSmallBuffers) {
    std::string v;
    EXPECT_EQ(read("NoBackslash", v), -1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(vxLastError().severity, 5);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in vxReadRegistryKey");
    EXPECT_EQ(read("SOFTWARE\\X\\Y", v), -1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, "HKEY_PERFORMANCE_DATA\\X\\Y", "1", REG_SZ), -1);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in vxReadRegistryKey");

    char out[4];
    EXPECT_EQ(vxReadRegistryKey("otherpc", 0, (kSetup + "\\Set").c_str(), out, sizeof out), -1);
    EXPECT_EQ(std::string(vxLastError().text),
              "Connection refused (SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup, "
              "vxReadRegistryKey,RegConnectRegistry) !");
    EXPECT_EQ(vxWriteRegistryKey("otherpc", 0, (kSetup + "\\Set").c_str(), "X", REG_SZ), -1);

    ASSERT_EQ(vxWriteRegistryKey(nullptr, 0, (kSetup + "\\Long").c_str(), "abcd", REG_SZ), 1);
    EXPECT_EQ(vxReadRegistryKey(nullptr, 0, (kSetup + "\\Long").c_str(), out, sizeof out), -1);
    EXPECT_EQ(vxLastError().code, ENOBUFS);

    // A write that fails records the same message as a read that fails.
    std::string huge(VX_REG_VALUE_MAX + 1, 'h');
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, (kSetup + "\\Huge").c_str(), huge.c_str(), REG_SZ),
              -1);
    EXPECT_EQ(std::string(vxLastError().text),
              "File too large (SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup, "
              "vxReadRegistryKey,RegOpenKey) !");
}

TEST_F(RegistryTest, CorruptStoreIsRefusedAndLeftUntouched) {
    fs::create_directories(dir / "sub");
    const std::string text =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"ok\"=\"1\"\r\nbroken line\r\n";
    std::ofstream(store, std::ios::binary) << text;
    std::string v;
    EXPECT_EQ(read("HKEY_CURRENT_USER\\A\\ok", v), -1);
    EXPECT_EQ(vxLastError().code, 101);
    EXPECT_EQ(std::string(vxLastError().text), "Corrupted registry store " + store + " (line 5) !");
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, "HKEY_CURRENT_USER\\A\\new", "2", REG_SZ), -1);
    EXPECT_EQ(storeText(), text);
}

TEST_F(RegistryTest, UnwritableDirectoryFailsWithoutDamage) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write into any directory";
    fs::create_directories(dir / "sub");
    ASSERT_EQ(vxWriteRegistryKey(nullptr, 0, "HKEY_CURRENT_USER\\A\\v", "1", REG_SZ), 1);
    fs::permissions(dir / "sub", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(vxWriteRegistryKey(nullptr, 0, "HKEY_CURRENT_USER\\A\\v", "2", REG_SZ), -1);
    EXPECT_EQ(vxLastError().code, EACCES);
    EXPECT_STREQ(vxLastError().text, "Permission denied (A, vxReadRegistryKey,RegOpenKey) !");
    fs::permissions(dir / "sub", fs::perms::owner_all);
    std::string v;
    EXPECT_EQ(read("HKEY_CURRENT_USER\\A\\v", v), REG_SZ);
    EXPECT_EQ(v, "1");
}

} // namespace
