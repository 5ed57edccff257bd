// Benchmark of the editor pages: from the loaded tables to the painted sheet, for the users page
// with 1000 users and the URL control page with 1024 URLs. Prints the median and the slowest of
// each in milliseconds (offscreen platform; no server is needed).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QPixmap>

#include "bench/series.h"
#include "pages/editors/url_control_page.h"
#include "pages/editors/users_page.h"
#include "pages/page_table.h"
#include "serverdata/server_data.h"

namespace {

template <typename F> void timed(Series& s, F fillAndPaint) {
    auto start = std::chrono::steady_clock::now();
    fillAndPaint();
    s.ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
}

void makeTables() {
    serverData.Reset();
    for (int g = 0; g < 8; g++) {
        char name[16];
        std::snprintf(name, sizeof name, "csoport%d", g);
        serverData.groups.Add(name, g % 2 ? "a" : "d", "");
    }
    for (int i = 0; i < SD_MAX_USERS; i++) {
        UserRecord u{};
        std::snprintf(u.name, sizeof u.name, "felhasznalo%04d", i);
        std::snprintf(u.fullName, sizeof u.fullName, "Teszt Elek %d", i);
        u.group = i % 8;
        u.proxy = 1;
        u.mail = i % 2;
        u.super = i % 7 == 0;
        serverData.users.Add(u);
    }
    for (int i = 0; i < SD_MAX_URLS; i++) {
        char url[32];
        std::snprintf(url, sizeof url, "www.site%04d.example.hu", i);
        serverData.urls.Add(url);
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    makeTables();
    if (serverData.users.Count() != SD_MAX_USERS || serverData.urls.Count() != SD_MAX_URLS) {
        fprintf(stderr, "editor_bench: the tables could not be filled\n");
        return 1;
    }
    QWidget window;
    window.resize(800, 480);
    UsersPage users(*consolePages().find(PageRole::Users), &window);
    UrlControlPage urls(*consolePages().find(PageRole::UrlControl), &window);
    users.show();
    urls.show();
    window.show();
    Series fillUsers{"users page, 1000 users", {}};
    Series fillUrls{"URL page, 1024 URLs", {}};
    for (int r = 0; r < rounds; r++) {
        timed(fillUsers, [&] {
            users.fillTable(0);
            users.grab();
        });
        timed(fillUrls, [&] {
            urls.fill();
            urls.grab();
        });
    }
    fillUsers.print();
    fillUrls.print();
    return 0;
}
