// Unit tests of the reference server's root confinement (path mapping, opening beneath the root).
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "server/vxd_fs.h"

namespace fs = std::filesystem;

namespace {

class VxdFsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/orvelan-vxdfs-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        base = dir;
        fs::create_directories(base + "/root/srv");
        fs::create_directories(base + "/root/l/etc");
        std::ofstream(base + "/root/l/etc/users") << "alice\n";
        std::ofstream(base + "/secret") << "outside\n";
    }
    void TearDown() override {
        if (root.rootFd >= 0) close(root.rootFd);
        fs::remove_all(base);
    }
    std::string rel(const char* path) {
        char out[64];
        int rc = vxdRelative(root, path, out, sizeof out);
        return rc ? "errno " + std::to_string(rc) : std::string(out);
    }
    std::string base;
    VxdRoot root;
};

TEST_F(VxdFsTest, PathsMapBelowTheRoot) {
    ASSERT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "srv"), 0);
    EXPECT_EQ(std::string(root.workRel), "srv");
    EXPECT_EQ(std::string(root.workPath), fs::canonical(base + "/root/srv").string());
    EXPECT_EQ(rel("/l/etc/users"), "l/etc/users");
    EXPECT_EQ(rel("//l//etc"), "l//etc");
    EXPECT_EQ(rel("/"), ".");
    EXPECT_EQ(rel("./tcp_srvr.log"), "srv/./tcp_srvr.log");
    EXPECT_EQ(rel("vxtail.tmp"), "srv/vxtail.tmp");
    EXPECT_EQ(rel("../l/etc/users"), "errno 13");
    EXPECT_EQ(rel("/l/.."), "errno 13");
    EXPECT_EQ(rel("/l/..x/y"), "l/..x/y");
    EXPECT_EQ(rel(""), "errno 22");
    EXPECT_EQ(rel(std::string(70, 'a').c_str()), "errno 36");
}

TEST_F(VxdFsTest, WorkdirMustLieInsideTheRoot) {
    EXPECT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "../"), EACCES);
    fs::create_directory_symlink(base, base + "/root/up");
    EXPECT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "up"), EACCES);
    EXPECT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "missing"), ENOENT);
    EXPECT_EQ(vxdOpenRoot(&root, (base + "/none").c_str(), "."), ENOENT);
    EXPECT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "/"), 0);
    EXPECT_EQ(std::string(root.workRel), ".");
}

TEST_F(VxdFsTest, ParentAndAtomicReplace) {
    ASSERT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "."), 0);
    char name[16];
    EXPECT_EQ(vxdOpenParent(root, "/", name, sizeof name), -EINVAL);
    EXPECT_EQ(vxdOpenParent(root, "/l/etc/a-name-of-16-chars", name, sizeof name), -ENAMETOOLONG);
    int dir = vxdOpenParent(root, "/l/etc/users/", name, sizeof name);
    ASSERT_GE(dir, 0);
    EXPECT_EQ(std::string(name), "users");

    int src = open((base + "/secret").c_str(), O_RDONLY);
    ASSERT_GE(src, 0);
    EXPECT_EQ(vxdReplaceFrom(src, dir, "users", 0600), 0);
    close(src);
    std::ifstream in(base + "/root/l/etc/users");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "outside");
    EXPECT_EQ(fs::status(base + "/root/l/etc/users").permissions(), fs::perms(0600));
    // A failed replacement (unreadable source) leaves the file and no temporary file.
    EXPECT_EQ(vxdReplaceFrom(dir, dir, "users", 0644), EBADF);
    EXPECT_EQ(std::distance(fs::directory_iterator(base + "/root/l/etc"), fs::directory_iterator()),
              1);
    close(dir);

    char message[40];
    vxdErrorText(ENOENT, "/l/x", message, sizeof message);
    EXPECT_EQ(std::string(message), "No such file or directory (/l/x) !");
    vxdErrorText(EACCES, "/a/very/long/path/that/does/not/fit", message, sizeof message);
    EXPECT_EQ(std::string(message), "Permission denied (/a/very/long/path/th");
}

} // namespace
