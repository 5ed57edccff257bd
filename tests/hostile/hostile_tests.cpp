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
#include <vector>

#include "lib/vx_err.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"
#include "tests/support/hostile_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace fs = std::filesystem;

namespace {

// A mode that does not reach an operation: long strings reach only operations that receive a
// vx_reply, the block modes only those that receive a block, instance 0 and the bad answers to
// an ask only those that ask for an instance; modes that spoil every answer reach every
// operation, and an oversized instance or a bad answer to a release changes no result.
constexpr int na = 1000;

struct Operation {
    const char* name;
    int done;  // its result against a sound server
    int sound; // against the hostile server where it answers soundly (its files hold "hello")
    int failed[std::size(kHostileModes)]; // its result in each mode, na where the mode misses it
    std::vector<const char*> fetched;     // local files that a failure must not leave
    std::function<int()> run;
};

const char* kHost = HostileServer::host();

// The data layer set up for one operation: a group with a permit list, one user.
void prepareData() {
    serverData.Reset();
    snprintf(serverData.session.host, sizeof serverData.session.host, "%s", kHost);
    serverData.urls.currentGroup = serverData.groups.Add("staff", "d", "");
    UserRecord u{};
    snprintf(u.name, sizeof u.name, "kovacs");
    u.group = 0;
    serverData.users.Add(u);
    serverData.urls.Add("www.example.com");
    serverData.users.modified = serverData.urls.modified = 1;
}

// Results by mode, in the order of kHostileModes: LongString, BigBlock, LengthMismatch,
// ZeroInstance, ServerError, CloseMidReply, NoReply, AskOversized, AskShort, AskSystemError,
// AskDenied, ReleaseOversized, ReleaseError, ReleaseDenied. An oversized instance is taken (its
// first eight bytes are the instance), and a release answered badly does not fail an operation
// whose work is done.
std::vector<Operation> operations() {
    const int m = SD_SERVER, e = SD_CONCURRENT; // a failed check-out reports concurrent use
    return {
        Operation("vxRemoteExec", 0, 0, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return vxRemoteExec(kHost, "true"); }),
        Operation("vxGetRemoteFile", 0, 0, {m, m, m, m, 5, m, m, na, m, m, m, na, na, na},
                  {"got.txt"}, [] { return vxGetRemoteFile(kHost, "/l/x", "got.txt"); }),
        Operation("vxPutRemoteFile", 0, 0, {m, na, na, m, 5, m, m, na, m, m, m, na, na, na}, {},
                  [] { return vxPutRemoteFile(kHost, "put.txt", "/l/x"); }),
        Operation("vxRemoteCrypt", 0, 0, {na, m, m, na, m, m, m, na, na, na, na, na, na, na}, {},
                  [] {
                      char out[64];
                      return vxRemoteCrypt(kHost, "secret", "wj", out, sizeof out);
                  }),
        Operation("vxNetCounters", 0, 0, {0, na, na, na, 0, 0, 0, na, na, na, na, na, na, na}, {},
                  [] {
                      char out[256];
                      return vxNetCounters(kHost, out, sizeof out);
                  }),
        Operation("vxRemotePing", 0, 0, {m, m, m, m, m, m, m, na, m, m, m, na, na, na},
                  {"ping.txt"}, [] { return vxRemotePing(kHost, "127.0.0.1", "ping.txt"); }),
        Operation("LoadGroups(view)", 1, 1, {m, m, m, m, m, m, m, na, m, m, m, na, na, na},
                  {"view_vx_groups.txt"}, [] { return serverData.groups.Load(false); }),
        Operation("LoadGroups(edit)", 1, 1, {e, m, m, e, e, e, e, na, e, e, e, na, na, na},
                  {"vx_groups.txt"}, [] { return serverData.groups.Load(true); }),
        Operation("LoadUsers(view)", 1, 1, {m, m, m, m, m, m, m, na, m, m, m, na, na, na},
                  {"view_vx_users.txt", "view_vx_userdata.txt"},
                  [] { return serverData.users.Load(false); }),
        Operation("LoadUsers(edit)", 1, 1, {e, m, m, e, e, e, e, na, e, e, e, na, na, na},
                  {"vx_users.txt", "vx_userdata.txt"}, [] { return serverData.users.Load(true); }),
        Operation("LoadUrls(view)", 1, 1, {m, m, m, m, 5, m, m, na, m, m, m, na, na, na},
                  {"view_sites_of_staff.txt"}, [] { return serverData.urls.Load(false); }),
        Operation("LoadUrls(edit)", 1, 1, {e, m, m, e, e, e, e, na, e, e, e, na, na, na},
                  {"sites_of_staff.txt"}, [] { return serverData.urls.Load(true); }),
        Operation("SaveGroups", 1, 1, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return serverData.groups.Save(); }),
        Operation("SaveUsers", 1, 1, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return serverData.users.Save(); }),
        Operation("SaveUrls", 1, 1, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return serverData.urls.Save(); }),
        Operation("ReleaseUsers", 0, 0, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return serverData.users.Release(); }),
        Operation("CheckConsolePassword", 0, 0, {m, m, m, m, m, m, m, na, m, m, m, na, na, na},
                  {"view_empasswd.txt"}, [] { return serverData.passwords.Check("secret"); }),
        Operation("ChangePassword", 1, 1, {na, m, m, na, m, m, m, na, na, na, na, na, na, na}, {},
                  [] {
                      char encrypted[256] = "wjAAAAAAAAAAA";
                      return serverData.passwords.Change("secret", "new", encrypted,
                                                         sizeof encrypted);
                  }),
        Operation("ChangeConsolePassword", 1, 0, {e, m, m, e, e, e, e, na, e, e, e, na, na, na},
                  {"empasswd.txt"},
                  [] { return serverData.passwords.ChangeConsole("secret", "new", 0); }),
        Operation("LoadWorkingHours", 0, SD_SERVER, {m, m, m, m, m, m, m, na, m, m, m, na, na, na},
                  {"attandance.txt"},
                  [] {
                      int v[4];
                      return serverData.hours.Load(&v[0], &v[1], &v[2], &v[3]);
                  }),
        Operation("SaveWorkingHours", 0, 0, {m, na, na, m, m, m, m, na, m, m, m, na, na, na}, {},
                  [] { return serverData.hours.Save("8", "0", "16", "30"); }),
    };
}

class HostileTest : public ::testing::TestWithParam<HostileMode> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        fs::current_path(dir.path());
        setenv("ORVELAN_REGISTRY", dir.file("registry.reg").c_str(), 1);
        vxResetParams();
    }
    void TearDown() override {
        fs::current_path(home);
        unsetenv("ORVELAN_REGISTRY");
    }
    fs::path home = fs::current_path();
    TempDir dir{"vxhostile"};
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
        std::ofstream("put.txt", std::ios::binary) << "upload\n";
        for (const char* f : op.fetched)
            std::remove(f);
        vxClearError();
        const bool reached = op.failed[modeIndex] != na;
        const int expected = reached ? op.failed[modeIndex] : op.sound;
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
