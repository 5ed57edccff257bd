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

// An absolute symlink is followed when it leads to a place inside the root, for reading and
// writing an existing file, but a file is never created through it; one leading out is refused
// and told apart.
TEST_F(VxdFsTest, AbsoluteLinksInsideTheRootAreFollowed) {
    ASSERT_EQ(vxdOpenRoot(&root, (base + "/root").c_str(), "srv"), 0);
    fs::create_symlink(base + "/root/l/etc/users", base + "/root/srv/users");
    fs::create_directory_symlink(base + "/root/l/etc", base + "/root/srv/etc");
    fs::create_symlink(base + "/secret", base + "/root/srv/secret");
    fs::create_symlink(base + "/root/l/etc/none", base + "/root/srv/dangling");
    for (const char* path : {"users", "etc/users", "/srv/etc/users"}) {
        int fd = vxdOpenRegular(root, path);
        ASSERT_GE(fd, 0) << path;
        char text[8] = {};
        EXPECT_EQ(read(fd, text, sizeof text - 1), 6);
        EXPECT_STREQ(text, "alice\n");
        close(fd);
        EXPECT_FALSE(vxdLeavesRoot(root, path));
    }
    int fd = vxdOpen(root, "etc/users", O_WRONLY | O_TRUNC, 0);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(fs::file_size(base + "/root/l/etc/users"), 0u);
    EXPECT_EQ(vxdOpen(root, "etc/new", O_WRONLY | O_CREAT, 0644), -EACCES);
    EXPECT_EQ(vxdOpen(root, "dangling", O_WRONLY | O_CREAT, 0644), -EACCES);
    EXPECT_FALSE(fs::exists(base + "/root/l/etc/new"));
    EXPECT_FALSE(fs::exists(base + "/root/l/etc/none"));
    EXPECT_EQ(vxdOpenRegular(root, "secret"), -EACCES);
    EXPECT_TRUE(vxdLeavesRoot(root, "secret"));
    EXPECT_FALSE(vxdLeavesRoot(root, "missing"));
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
