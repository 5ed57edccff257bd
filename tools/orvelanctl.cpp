// orvelanctl: administers the proxy server from the command line through the console's own data
// layer and remote link, so that what the console does can be scripted. This file holds the help,
// the options, the start-up and the command table; the commands live in the ctl_*.cpp files.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "lib/vx_err.h"
#include "lib/vx_version.h"
#include "remote/vx_remote.h"
#include "serverdata/startup.h"
#include "tools/ctl.h"

using namespace ctl;

namespace {

const char kHelp[] =
    "usage: orvelanctl [options] COMMAND [ARGS]\n"
    "\n"
    "Administers the proxy server named by the parameter source, as the console does: the same\n"
    "start-up checks (set mark, \"ProxyServerName\", ping, the server's \"orvelan.cnf\"), the "
    "same\n"
    "files, formats and checkout locks. Working copies are made in the working directory.\n"
    "\n"
    "options:\n"
    "  -s, --source SOURCE  parameter source (a registry key path, an environment variable that\n"
    "                       holds a file name, or a file name); default: the registry key\n"
    "                       HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote "
    "Administrator\\Setup\n"
    "  -C, --workdir DIR    work in DIR (working copies, \"orvelan.cnf\", \"setup.bin\")\n"
    "  -u, --utf8           show list output converted from Windows-1250 to UTF-8\n"
    "  -v, --verbose        show the start-up's ping replies\n"
    "  -t, --timeout SECONDS  give up waiting for the server after SECONDS (a fraction allowed):\n"
    "                       each call, and a remote command such as the statistics tool;\n"
    "                       default 30 for a call, 600 for a remote command\n"
    "      --accept-host-key SHA256:...  accept the SSH server's unknown host key when it has\n"
    "                       this fingerprint (added to known_hosts); a changed key is refused\n"
    "  -h, --help           this text\n"
    "      --version        the release of orvelanctl\n"
    "\n"
    "commands:\n"
    "  exec COMMAND...            run a command line on the server; prints its result\n"
    "  get REMOTE LOCAL           fetch a server file\n"
    "  put LOCAL REMOTE           upload a local file as a new server file\n"
    "  ping [COUNT]               ICMP echo to the server from here (default 1 request)\n"
    "  remote-ping TARGET         the server pings TARGET; prints the server's output\n"
    "  counters                   the server's interface byte counters\n"
    "  users list                 the users, one export line each\n"
    "  users export FILE          write the users' export file\n"
    "  users import FILE          check out, import, save (with \"USERPROC\") and release\n"
    "  users add NAME [FIELDS]    check out, add the user, save and release; FIELDS:\n"
    "        --full-name TEXT --phone TEXT --work-phone TEXT --room TEXT --comment TEXT\n"
    "        --group GROUP (\"\" none) --proxy|--no-proxy --mail MAILNAME|--no-mail\n"
    "        --super|--no-super --password (the new password on standard input, encrypted\n"
    "        by the server's crypt); texts longer than their field are cut as the console\n"
    "        cuts them\n"
    "  users set NAME [FIELDS]    change the fields given (a new user has none of them)\n"
    "  users delete NAME          delete the user\n"
    "  groups list|export FILE|import FILE        the same for the user groups (\"GROUPPROC\")\n"
    "  groups add|set NAME --allow|--deny         add a group or change its kind\n"
    "  groups delete NAME         delete a group that no user belongs to\n"
    "  urls list|export FILE|import FILE GROUP    the URL list of GROUP (\"PROXYPROC\")\n"
    "  urls add|delete GROUP URL...               add or delete URLs of GROUP's list\n"
    "  passwd check LEVEL         check a console password read from standard input\n"
    "  passwd set LEVEL           set a console password read from standard input\n"
    "                             (LEVEL: 0 or user, 1 or admin)\n"
    "  hours get                  the working hours, as \"08:00 - 16:30\"\n"
    "  hours set HH:MM HH:MM      set the working hours\n"
    "  release                    drop every checkout lock this working directory holds\n"
    "  stats data|url|site --from \"YYYY-MM-DD HH:MM\" --to \"YYYY-MM-DD HH:MM\"\n"
    "        [--resolution 10min|hour|day|month] [--user NAME|--group NAME] [--csv]\n"
    "                             query the server's traffic statistics as the console does\n"
    "                             (\"statin.txt\", \"statout.txt\" here); prints the table lines,\n"
    "                             for data one line per bucket with its label and bytes; a\n"
    "                             group's lines carry the group's name (its super users are\n"
    "                             not counted); a list cut at 99999 lines ends with a line on\n"
    "                             the rest\n"
    "\n"
    "exit status: 0 done; 1 server or link failure; 2 local file failure; 3 concurrent use;\n"
    "4 malformed import file; 5 refused (wrong password, command or ping failed; an edit the\n"
    "lists refuse: a bad or duplicate name, an unknown user, group or URL, a group that users\n"
    "belong to, a full table; nothing is changed and the locks are released); 6 no server\n"
    "(start-up checks failed); 64 usage error; 130 interrupted (SIGINT; 143 SIGTERM): the\n"
    "wait in progress ends at once, the server instance in use is released, checkout locks\n"
    "taken are released and no partial local file is left.\n";

bool g_verbose = false;
std::string g_acceptedKey; // --accept-host-key

// An unknown SSH host key is accepted only when its fingerprint was given, exactly.
bool acceptHostKey(const char*, const char* fingerprint) {
    return !g_acceptedKey.empty() && g_acceptedKey == fingerprint;
}

// --timeout: one limit for every wait on the server, a remote command's included.
bool setTimeout(const char* text) {
    char* end = nullptr;
    errno = 0;
    double seconds = strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(seconds >= 0.001 && seconds <= 86400.0))
        return false;
    const int ms = static_cast<int>(seconds * 1000.0 + 0.5);
    vxSetCallTimeout(ms);
    vxSetCommandTimeout(ms);
    return true;
}

// SIGINT and SIGTERM end the run cleanly: the signals are taken by a thread of their own,
// which cancels the link's wait in progress (libtirpc holds every signal off the thread in a
// call, so a handler would run only once the call ended) and interrupts a read of standard
// input with SIGUSR1. The command then goes its failure path (releasing the instance and the
// locks, removing a partial fetch) and main ends with 128 + the signal.
std::atomic<int> g_interrupt{0};

void nudge(int) {}

void watchSignals() {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    struct sigaction action = {};
    action.sa_handler = nudge; // no SA_RESTART: a blocked read returns EINTR
    sigaction(SIGUSR1, &action, nullptr);
    const pthread_t mainThread = pthread_self();
    std::thread([stopping, mainThread] {
        for (;;) {
            int signal = 0;
            if (sigwait(&stopping, &signal) != 0) continue;
            g_interrupt = signal;
            vxCancel();
            pthread_kill(mainThread, SIGUSR1);
        }
    }).detach();
}

// The commands; each runs after the start-up checks found the server.
struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"exec", cmdExec},
    {"get", [](int argc, char** argv) { return cmdTransfer(true, argc, argv); }},
    {"put", [](int argc, char** argv) { return cmdTransfer(false, argc, argv); }},
    {"ping", cmdPing},
    {"remote-ping", cmdRemotePing},
    {"counters", [](int, char**) { return cmdCounters(); }},
    {"users", cmdUsers},
    {"groups", cmdGroups},
    {"urls", cmdUrls},
    {"passwd", cmdPasswd},
    {"hours", cmdHours},
    {"release", [](int, char**) { return cmdRelease(); }},
    {"stats", cmdStats},
};

const Command* findCommand(const char* name) {
    for (const Command& c : kCommands)
        if (!strcmp(c.name, name)) return &c;
    return nullptr;
}

// Reads the options before the command; *next gets the index of the command word. Returns -1
// to go on, or the exit status to end with (--help, a usage error).
int parseOptions(int argc, char** argv, const char** source, int* next) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string opt = argv[i];
        if (opt == "-h" || opt == "--help") {
            fputs(kHelp, stdout);
            return EXIT_OK;
        } else if (opt == "--version") {
            printf("orvelanctl (Orvelan) %s\n", vxVersion());
            return EXIT_OK;
        } else if ((opt == "-s" || opt == "--source") && i + 1 < argc) {
            *source = argv[++i];
        } else if ((opt == "-C" || opt == "--workdir") && i + 1 < argc) {
            if (chdir(argv[++i]) != 0) {
                fprintf(stderr, "orvelanctl: %s: %s\n", argv[i], strerror(errno));
                return EXIT_USAGE;
            }
        } else if (opt == "-v" || opt == "--verbose") {
            g_verbose = true;
        } else if (opt == "-u" || opt == "--utf8") {
            g_utf8 = true;
        } else if (opt == "--accept-host-key" && i + 1 < argc) {
            g_acceptedKey = argv[++i];
        } else if ((opt == "-t" || opt == "--timeout") && i + 1 < argc) {
            if (!setTimeout(argv[++i])) return usage("--timeout takes a number of seconds");
        } else {
            return usage(("unknown option " + opt).c_str());
        }
    }
    *next = i;
    return -1;
}

// The console's start-up checks for the parameter source; -1 when the server is usable, else
// the exit status (with the reason on standard error).
int startUp(const char* source) {
    // The start-up splits its command line into words; quotes keep a source with blanks whole.
    std::string line;
    if (source) line = strpbrk(source, " \t") ? "'" + std::string(source) + "'" : source;
    // The start-up pings write a line per reply to standard error; only -v shows them.
    int savedStderr = -1;
    if (!g_verbose) {
        fflush(stderr);
        savedStderr = dup(2);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 2);
            close(null);
        }
    }
    StartupResult start = RunStartup(line.c_str());
    if (savedStderr >= 0) {
        fflush(stderr);
        dup2(savedStderr, 2);
        close(savedStderr);
    }
    if (start.messageText) fprintf(stderr, "%s: %s\n", start.messageTitle, start.messageText);
    if (start.exitCode >= 0) return start.exitCode;
    if (start.noServer) {
        fprintf(stderr, "orvelanctl: no server: the start-up checks failed");
        if (vxLastError().code != 0) fprintf(stderr, " (%s)", vxLastError().text);
        fprintf(stderr, "\n");
        if (strstr(vxLastError().text, "SSH: Unknown host key "))
            fprintf(stderr, "orvelanctl: check the fingerprint, then accept the key with "
                            "--accept-host-key\n");
        return EXIT_NOSERVER;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    watchSignals();
    // No question can be answered here: ssh never prompts, and an unknown host key is accepted
    // only by its fingerprint.
    vxSetSshBatchMode(true);
    vxSetHostKeyQuestion(acceptHostKey);
    const char* source = nullptr;
    int next = 0;
    int rc = parseOptions(argc, argv, &source, &next);
    if (rc >= 0) return rc;
    if (next >= argc) return usage("no command given");
    const Command* command = findCommand(argv[next]);
    if (!command) return usage((std::string("unknown command ") + argv[next]).c_str());
    if ((rc = startUp(source)) >= 0) return rc;
    vxClearError(); // what start-up left recorded is no cause of the command's failures
    if (g_interrupt.load() == 0) rc = command->run(argc - next - 1, argv + next + 1);
    if (int signal = g_interrupt.load(); signal != 0) {
        fprintf(stderr, "orvelanctl: interrupted\n");
        return 128 + signal;
    }
    return rc;
}
