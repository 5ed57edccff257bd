// Benchmark of the data layer against the reference server over loopback: load for editing and
// save of 1000 users with their personal data, and of a 1024-entry URL list, with the real
// post-save commands. Prints the median and the slowest of each in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/series.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"
#include "tests/support/test_server.h"

namespace fs = std::filesystem;

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Times one data-layer call; exits when it fails, since the figures would mean nothing.
template <typename F> void timed(Series& s, F call, int expected) {
    auto start = std::chrono::steady_clock::now();
    int rc = call();
    s.ms.push_back(msSince(start));
    if (rc != expected) {
        fprintf(stderr, "data_bench: %s returned %d\n", s.name, rc);
        exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    if (rounds < 1 || rounds > 100) {
        fprintf(stderr, "usage: data_bench [ROUNDS 1..100]\n");
        return 2;
    }
    TestServer server;
    if (!server.running()) {
        fprintf(stderr, "data_bench: %s\n", server.error().c_str());
        return 1;
    }
    server.writeFile("orvelan.cnf", "USERPROC kaka\nGROUPPROC grouppen\nPROXYPROC kaka\n");
    std::string groups, users, data, urls;
    for (int g = 0; g < 20; ++g)
        groups += "group" + std::to_string(g) + (g % 2 ? " a" : " d") + "\r\n";
    for (int u = 0; u < 1000; ++u) {
        std::string name = "user" + std::to_string(1000 + u);
        users += name + ":group" + std::to_string(u % 20) + ":wjAbCdEfGhIjK:p:e::" + name + ":\r\n";
        data += name + " :Felhaszn\xe1l\xf3 " + std::to_string(u) + " :+36 1 555 " +
                std::to_string(1000 + u) + " :" + std::to_string(100 + u % 50) +
                " :1234 :megjegyz\xe9s \r\n";
    }
    for (int i = 0; i < 1024; ++i)
        urls += "www.site" + std::to_string(10000 + i) + ".example.com\n";
    server.writeFile("/l/apache/etc/groups", groups);
    server.writeFile("/l/apache/etc/users", users);
    server.writeFile("/l/apache/etc/userdata", data);
    server.writeFile("/l/apache/etc/permit/group0.deny", urls);

    fs::path work = fs::temp_directory_path() / ("vxbench-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::current_path(work);
    snprintf(serverData.session.host, sizeof serverData.session.host, "%s", TestServer::host());
    if (vxGetRemoteFile(serverData.session.host, "orvelan.cnf", "orvelan.cnf") != 0 ||
        vxLoadParamFile("orvelan.cnf") != 0 || serverData.groups.Load(false) != 1) {
        fprintf(stderr, "data_bench: cannot connect to the test server\n");
        return 1;
    }

    Series loadUsers{"LoadUsers (edit, 1000)", {}}, saveUsers{"SaveUsers (1000, kaka)", {}};
    Series loadUrls{"LoadUrls (edit, 1024)", {}}, saveUrls{"SaveUrls (1024, kaka)", {}};
    for (int r = 0; r < rounds; ++r) {
        timed(
            loadUsers, [] { return serverData.users.Load(true); }, 1);
        if (serverData.users.Count() != 1000) {
            fprintf(stderr, "data_bench: %d users loaded\n", serverData.users.Count());
            return 1;
        }
        serverData.users.modified = 1;
        timed(
            saveUsers, [] { return serverData.users.Save(); }, 1);
        serverData.urls.currentGroup = serverData.groups.Find("group0");
        timed(
            loadUrls, [] { return serverData.urls.Load(true); }, 1);
        if (serverData.urls.Count() != 1024) {
            fprintf(stderr, "data_bench: %d URLs loaded\n", serverData.urls.Count());
            return 1;
        }
        serverData.urls.modified = 1;
        timed(
            saveUrls, [] { return serverData.urls.Save(); }, 1);
    }
    printf("Data layer against the reference server on loopback:\n");
    loadUsers.print();
    saveUsers.print();
    loadUrls.print();
    saveUrls.print();
    fs::current_path("/");
    fs::remove_all(work);
    return 0;
}
