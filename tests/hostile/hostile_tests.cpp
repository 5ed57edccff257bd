// The console against a broken or hostile server: every remote operation and every data-layer
// operation in every misbehaviour of HostileServer fails with its result code and a recorded
// error, leaves no partial local file and no instance registered, and never crashes.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "def.h"
#include "hostile_server.h"
#include "server_data.h"
#include "test_server.h"
#include "vx_err.h"
#include "vx_remote.h"

namespace fs = std::filesystem;

namespace {

// What a mode can reach: modes that spoil every answer reach every operation; long strings only
// operations that receive a vx_reply, the block modes only those that receive a block, instance
// 0 only those that ask for an instance.
enum Reach : unsigned {
    kAsks = 1,    // asks for an instance (procedure 5)
    kBlocks = 2,  // receives a vx_block (a fetch or procedure 29)
    kReplies = 4, // receives a vx_reply (every procedure but 5, 9, 11 and 29)
};

struct Operation {
    const char* name;
    unsigned reach;
    int done;                         // its result against a sound server
    std::vector<const char*> fetched; // local files that a failure must not leave
    std::function<int()> run;
    int failed[std::size(kHostileModes)]; // its result in each mode that reaches it
};

bool reaches(HostileMode mode, unsigned reach) {
    switch (mode) {
    case HostileMode::LongString:
        return reach & kReplies;
    case HostileMode::ZeroInstance:
        return reach & kAsks;
    case HostileMode::BigBlock:
    case HostileMode::LengthMismatch:
        return reach & kBlocks;
    default:
        return true;
    }
}

const char* kHost = HostileServer::host();

void putFile(const char* path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The data layer set up for one operation: a group with a permit list, one user.
void prepareData() {
    serverData.Reset();
    snprintf(serverData.host, sizeof serverData.host, "%s", kHost);
    serverData.currentGroup = serverData.AddGroup("staff", "d", "");
    UserRecord u{};
    snprintf(u.name, sizeof u.name, "kovacs");
    u.group = 0;
    serverData.AddUser(u);
    serverData.AddUrl("www.example.com");
    serverData.usersModified = serverData.urlsModified = 1;
}

// Results by mode, in the order of kHostileModes: LongString, BigBlock, LengthMismatch,
// ZeroInstance, ServerError, CloseMidReply, NoReply (unreached modes give `done`).
std::vector<Operation> operations() {
    return {
        {"vxRemoteExec",
         kAsks | kReplies,
         0,
         {},
         [] { return vxRemoteExec(kHost, "true"); },
         {-1, 0, 0, -1, -1, -1, -1}},
        {"vxGetRemoteFile",
         kAsks | kBlocks | kReplies,
         0,
         {"got.txt"},
         [] { return vxGetRemoteFile(kHost, "/l/x", "got.txt"); },
         {-1, -1, -1, -1, 5, -1, -1}},
        {"vxPutRemoteFile",
         kAsks | kReplies,
         0,
         {},
         [] { return vxPutRemoteFile(kHost, "put.txt", "/l/x"); },
         {-1, 0, 0, -1, 5, -1, -1}},
        {"vxRemoteCrypt",
         kBlocks,
         0,
         {},
         [] {
             char out[64];
             return vxRemoteCrypt(kHost, "secret", "wj", out, sizeof out);
         },
         {0, -1, -1, 0, -1, -1, -1}},
        {"vxNetCounters",
         kReplies,
         0,
         {},
         [] {
             char out[256];
             return vxNetCounters(kHost, out, sizeof out);
         },
         {0, 0, 0, 0, 0, 0, 0}},
        {"vxRemotePing",
         kAsks | kBlocks | kReplies,
         0,
         {"ping.txt"},
         [] { return vxRemotePing(kHost, "127.0.0.1", "ping.txt"); },
         {-1, -1, -1, -1, -1, -1, -1}},
        {"LoadGroups(view)",
         kAsks | kBlocks | kReplies,
         1,
         {"vx_groups.txt"},
         [] { return serverData.LoadGroups(false); },
         {-1, -1, -1, -1, -1, -1, -1}},
        {"LoadGroups(edit)",
         kAsks | kBlocks | kReplies,
         1,
         {"vx_groups.txt"},
         [] { return serverData.LoadGroups(true); },
         {-3, -1, -1, -3, -3, -3, -3}},
        {"LoadUsers(view)",
         kAsks | kBlocks | kReplies,
         1,
         {"vx_users.txt", "vx_userdata.txt"},
         [] { return serverData.LoadUsers(false); },
         {-1, -1, -1, -1, -1, -1, -1}},
        {"LoadUsers(edit)",
         kAsks | kBlocks | kReplies,
         1,
         {"vx_users.txt", "vx_userdata.txt"},
         [] { return serverData.LoadUsers(true); },
         {-3, -1, -1, -3, -3, -3, -3}},
        {"LoadUrls(view)",
         kAsks | kBlocks | kReplies,
         1,
         {"sites_of_staff.txt"},
         [] { return serverData.LoadUrls(false); },
         {-1, -1, -1, -1, 5, -1, -1}},
        {"LoadUrls(edit)",
         kAsks | kBlocks | kReplies,
         1,
         {"sites_of_staff.txt"},
         [] { return serverData.LoadUrls(true); },
         {-3, -1, -1, -3, -3, -3, -3}},
        {"SaveGroups",
         kAsks | kReplies,
         1,
         {},
         [] { return serverData.SaveGroups(); },
         {-1, 1, 1, -1, -1, -1, -1}},
        {"SaveUsers",
         kAsks | kReplies,
         1,
         {},
         [] { return serverData.SaveUsers(); },
         {-1, 1, 1, -1, -1, -1, -1}},
        {"SaveUrls",
         kAsks | kReplies,
         1,
         {},
         [] { return serverData.SaveUrls(); },
         {-1, 1, 1, -1, -1, -1, -1}},
        {"ReleaseUsers",
         kAsks | kReplies,
         0,
         {},
         [] { return serverData.ReleaseUsers(); },
         {-1, 0, 0, -1, -1, -1, -1}},
        {"CheckConsolePassword",
         kAsks | kBlocks | kReplies,
         0,
         {"empasswd.txt"},
         [] { return serverData.CheckConsolePassword("secret"); },
         {-1, -1, -1, -1, -1, -1, -1}},
        {"ChangePassword",
         kBlocks,
         1,
         {},
         [] {
             char encrypted[256] = "wjAAAAAAAAAAA";
             return serverData.ChangePassword("secret", "new", encrypted, sizeof encrypted);
         },
         {1, -1, -1, 1, -1, -1, -1}},
        {"ChangeConsolePassword",
         kAsks | kBlocks | kReplies,
         1,
         {"empasswd.txt"},
         [] { return serverData.ChangeConsolePassword("secret", "new", 0); },
         {-3, -1, -1, -3, -3, -3, -3}},
        {"LoadWorkingHours",
         kAsks | kBlocks | kReplies,
         0,
         {"attandance.txt"},
         [] {
             int v[4];
             return serverData.LoadWorkingHours(&v[0], &v[1], &v[2], &v[3]);
         },
         {-1, -1, -1, -1, -1, -1, -1}},
        {"SaveWorkingHours",
         kAsks | kReplies,
         0,
         {},
         [] { return serverData.SaveWorkingHours("8", "0", "16", "30"); },
         {-1, 0, 0, -1, -1, -1, -1}},
    };
}

class HostileTest : public ::testing::TestWithParam<HostileMode> {
  protected:
    void SetUp() override {
        home = fs::current_path();
        dir = fs::temp_directory_path() /
              ("vxhostile-" + std::to_string(getpid()) + "-" + hostileModeName(GetParam()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
        setenv("ORVELAN_REGISTRY", (dir / "registry.reg").c_str(), 1);
        vxResetParams();
    }
    void TearDown() override {
        fs::current_path(home);
        unsetenv("ORVELAN_REGISTRY");
        fs::remove_all(dir);
    }
    fs::path home, dir;
};

TEST_P(HostileTest, EveryOperationFailsCleanly) {
    const HostileMode mode = GetParam();
    const size_t modeIndex = std::find(std::begin(kHostileModes), std::end(kHostileModes), mode) -
                             std::begin(kHostileModes);
    HostileServer server(mode);
    ASSERT_TRUE(server.running()) << server.error();
    std::ostringstream matrix;
    for (const Operation& op : operations()) {
        SCOPED_TRACE(std::string(op.name) + " / " + hostileModeName(mode));
        prepareData();
        putFile("put.txt", "upload\n");
        for (const char* f : op.fetched)
            std::remove(f);
        vxClearError();
        const bool reached = reaches(mode, op.reach);
        const int expected = reached ? op.failed[modeIndex] : op.done;
        const int result = op.run();
        const VxError& error = vxLastError();
        matrix << op.name << " " << hostileModeName(mode) << ": " << result << " [" << error.code
               << "/" << error.kind << "] " << error.text << "\n";
        EXPECT_EQ(result, expected);
        if (reached) {
            EXPECT_NE(error.code, 0) << "no error recorded";
        }
        if (reached && result != op.done) {
            for (const char* f : op.fetched)
                EXPECT_FALSE(fs::exists(f)) << f << " left behind";
        }
        EXPECT_TRUE(server.outstanding().empty()) << "an instance was not released";
        for (const auto& entry : fs::directory_iterator("."))
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
    if (getenv("ORVELAN_HOSTILE_MATRIX")) std::cout << matrix.str();
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileTest, ::testing::ValuesIn(kHostileModes),
                         [](const ::testing::TestParamInfo<HostileMode>& param) {
                             return std::string(hostileModeName(param.param));
                         });

} // namespace
