// Benchmark of the console's responsiveness: the longest stall of the UI thread (the largest gap
// between two ticks of a 10 ms timer on it) while remote work runs against the reference server
// on loopback: a statistics query over a large generated access log, the users page loading
// 1000 users (for viewing, then for editing and back), and the network page sampling a stopped
// server. Prints a table.
//
//   stall_bench --dir DIR [--lines N] [--days N] [--network-seconds N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>

#include "app/commands.h"
#include "app/page.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "bench/access_log_gen.h"
#include "pages/editors/users_page.h"
#include "pages/page_table.h"
#include "pages/stats/stats_pages.h"
#include "pages/system/network_page.h"
#include "serverdata/server_data.h"
#include "stats/stat_query.h"
#include "tests/support/demo_root.h"
#include "widgets/buttons.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    long lines = 7000000; // about 1 GB
    int days = 35;
    int networkSeconds = 5;
    std::string dir = "build-bench-gui/stall";
};

// The window the pages live in; it takes their commands to the main window and drops them.
class Owner : public QWidget, public CommandTarget {
  public:
    void command(int, quintptr) override {}
};

// The longest gap between two ticks of a 10 ms timer on the UI thread, from start() on.
class Probe {
  public:
    Probe() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start() {
        m_longest = m_last = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 stop() {
        m_timer.stop();
        return std::max(m_longest, m_clock.elapsed() - m_last);
    }
    double seconds() const { return static_cast<double>(m_clock.elapsed()) / 1000.0; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void waitIdle() {
    RemoteRunner* runner = RemoteRunner::instance();
    while (runner->busy())
        runFor(5);
}

void row(const char* what, qint64 stallMs, double seconds, const char* note) {
    printf("%-44s %8lld ms %9.2f s   %s\n", what, static_cast<long long>(stallMs), seconds, note);
    fflush(stdout);
}

// The log generated once per size under dir, linked (or copied) into the server's root.
bool placeLog(const Options& o, const TestServer& server) {
    fs::create_directories(o.dir);
    const std::string log = o.dir + "/access.log";
    const std::string mark = log + "." + std::to_string(o.lines) + "-" + std::to_string(o.days);
    if (!fs::exists(mark)) {
        printf("generating %ld lines over %d days into %s ...\n", o.lines, o.days, log.c_str());
        fflush(stdout);
        fs::remove(log);
        if (!GenerateAccessLog(log, o.lines, o.days)) return false;
        fclose(fopen(mark.c_str(), "w"));
    }
    const std::string target = server.local("/var/log/squid/access.log");
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec);
    fs::remove(target, ec);
    fs::create_hard_link(log, target, ec);
    if (ec) fs::copy_file(log, target, ec);
    if (ec) return false;
    printf("log: %.2f GB, %ld lines\n\n", static_cast<double>(fs::file_size(log)) / 1e9, o.lines);
    return true;
}

void statsQuery(const Options& o, Owner& owner, Probe& probe) {
    SelectionPage page(*consolePages().find(PageRole::StatSelection), &owner);
    page.show();
    const QDate first = QDateTime::fromSecsSinceEpoch(AccessLogStart()).date();
    page.startCalendar()->setSelectedDate(first);
    page.endCalendar()->setSelectedDate(first.addDays(o.days - 1));
    page.kindButton(STAT_KIND_SITE)->click();
    page.scopeButton(STAT_SCOPE_ALL)->click();
    QEventLoop done;
    QObject::connect(&page, &SelectionPage::queryFinished, &done, &QEventLoop::quit);
    probe.start();
    page.start();
    if (page.running()) done.exec();
    const qint64 stall = probe.stop();
    row("(a) statistics query (sites, whole log)", stall, probe.seconds(),
        qPrintable(page.statusLabel()->text()));
}

void writeUsers(const TestServer& server) {
    std::string groups, users, data;
    for (int g = 0; g < 20; ++g)
        groups += "group" + std::to_string(g) + (g % 2 ? " a" : " d") +
                  " \"/l/apache/etc/permit/g" + std::to_string(g) + "\"\r\n";
    for (int u = 0; u < 1000; ++u) {
        std::string name = "user" + std::to_string(1000 + u);
        users += name + ":group" + std::to_string(u % 20) + ":wjAbCdEfGhIjK:p:e::" + name + ":\r\n";
        data += name + " :Felhaszn\xe1l\xf3 " + std::to_string(u) + " :+36 1 555 " +
                std::to_string(1000 + u) + " :" + std::to_string(100 + u % 50) +
                " :1234 :megjegyz\xe9s \r\n";
    }
    server.writeFile("/l/apache/etc/groups", groups);
    server.writeFile("/l/apache/etc/users", users);
    server.writeFile("/l/apache/etc/userdata", data);
}

void usersPage(Owner& owner, Probe& probe) {
    serverData.session.SelectedLevel = serverData.session.GrantedLevel = 1;
    probe.start();
    UsersPage page(*consolePages().find(PageRole::Users), &owner);
    page.show();
    page.command(CMD_PAGE_SHOWN);
    waitIdle();
    qint64 stall = probe.stop();
    row("(b) users page made, 1000 users for viewing", stall, probe.seconds(),
        serverData.users.Count() == 1000 ? "1000 users" : "users missing");
    probe.start();
    page.button(EditorPage::Load)->click();
    waitIdle();
    const bool edited = page.editing();
    page.button(EditorPage::Abandon)->click();
    waitIdle();
    stall = probe.stop();
    row("(b) users page, \"Behivas\" and \"Visszavon\"", stall, probe.seconds(),
        edited && !page.editing() ? "edited, abandoned" : "the edit failed");
}

void networkPage(const Options& o, Owner& owner, Probe& probe, TestServer& server) {
    NetworkPage page(*consolePages().find(PageRole::Network), &owner);
    page.show();
    page.command(CMD_PAGE_SHOWN);
    runFor(1500); // a sample or two while the server answers
    server.pause();
    probe.start();
    runFor(o.networkSeconds * 1000);
    const qint64 stall = probe.stop();
    const double seconds = probe.seconds();
    page.command(CMD_PAGE_HIDDEN);
    server.resume();
    waitIdle();
    row("(c) network page sampling a stopped server", stall, seconds, "");
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--lines") o.lines = atol(argv[i + 1]);
        if (a == "--days") o.days = atoi(argv[i + 1]);
        if (a == "--network-seconds") o.networkSeconds = atoi(argv[i + 1]);
        if (a == "--dir") o.dir = fs::absolute(argv[i + 1]).string();
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestServerOptions serverOptions;
    serverOptions.statsTool = true;
    TestServer server(serverOptions);
    if (!server.running() || !buildDemoRoot(server) || !placeLog(o, server)) {
        fprintf(stderr, "stall_bench: no server: %s\n", server.error().c_str());
        return 1;
    }
    writeUsers(server);
    const fs::path work = fs::temp_directory_path() / ("vxstall-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::current_path(work);
    if (!connectConsole(server) || serverData.groups.Load(false) != 1) {
        fprintf(stderr, "stall_bench: cannot connect to the test server\n");
        return 1;
    }
    Owner owner;
    owner.resize(800, 480);
    owner.show();
    Probe probe;
    printf("%-44s %11s %11s\n", "remote work on the worker", "UI stall", "took");
    statsQuery(o, owner, probe);
    usersPage(owner, probe);
    networkPage(o, owner, probe, server);
    fs::current_path("/");
    fs::remove_all(work);
    return 0;
}
