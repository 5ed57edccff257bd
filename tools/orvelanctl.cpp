// orvelanctl: administers the proxy server from the command line through the console's own data
// layer and remote link, so that what the console does can be scripted.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"
#include "lib/vx_names.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/edit_session.h"
#include "serverdata/line_speeds.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"
#include "serverdata/startup.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"

namespace {

// Exit statuses: one per outcome of the data layer, so scripts can tell them apart.
enum Exit {
    EXIT_OK = 0,
    EXIT_SERVER = 1,     // -1 "Hiba a proxy szerveren !"
    EXIT_LOCAL = 2,      // -2 "Lokális file kezelési hiba !"
    EXIT_CONCURRENT = 3, // -3 "Konkurens használat !"
    EXIT_MALFORMED = 4,  // -4 an import stopped at a bad line
    EXIT_REFUSED = 5,    // a password was refused, a remote command ended nonzero, a ping lost
    EXIT_NOSERVER = 6,   // start-up left the console without a server
    EXIT_USAGE = 64,
};

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
    "  -h, --help           this text\n"
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
    "        [--resolution 10min|hour|day|month] [--user NAME] [--csv]\n"
    "                             query the server's traffic statistics as the console does\n"
    "                             (\"statin.txt\", \"statout.txt\" here); prints the table lines,\n"
    "                             for data one line per bucket with its label and bytes\n"
    "\n"
    "exit status: 0 done; 1 server or link failure; 2 local file failure; 3 concurrent use;\n"
    "4 malformed import file; 5 refused (wrong password, command or ping failed; an edit the\n"
    "lists refuse: a bad or duplicate name, an unknown user, group or URL, a group that users\n"
    "belong to, a full table; nothing is changed and the locks are released); 6 no server\n"
    "(start-up checks failed); 64 usage error.\n";

bool g_utf8 = false;
bool g_verbose = false;

int usage(const char* why) {
    fprintf(stderr, "orvelanctl: %s\nTry 'orvelanctl --help'.\n", why);
    return EXIT_USAGE;
}

// Prints the status text of a result of the data layer (success on standard output, a failure
// with its recorded cause on standard error) and returns its exit status.
int report(int result) {
    if (result == SD_DONE || result == SD_NOTHING) {
        puts(SdResultText(result));
        return EXIT_OK;
    }
    fprintf(stderr, "%s\n", SdResultText(result));
    if (vxLastError().code != 0) fprintf(stderr, "  %s\n", vxLastError().text);
    return result < 0 && result >= SD_MALFORMED ? -result : EXIT_SERVER;
}

// Writes server bytes to standard output, converted to UTF-8 when asked.
void emit(const char* bytes, size_t size) {
    if (!g_utf8) {
        fwrite(bytes, 1, size, stdout);
        return;
    }
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    std::string out(size * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes);
    char* o = out.data();
    size_t inLeft = size, outLeft = out.size();
    if (cd == reinterpret_cast<iconv_t>(-1) ||
        iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
        fwrite(bytes, 1, size, stdout);
    } else {
        fwrite(out.data(), 1, out.size() - outLeft, stdout);
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

// Copies a local file to standard output; false when it cannot be read.
bool emitFile(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    emit(text.data(), text.size());
    return true;
}

// "list" prints what "export" would write, through a temporary file of the working directory.
template <typename Export> int listVia(Export exportTo) {
    char name[] = "orvelanctl-list-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return report(-2);
    close(fd);
    int rc = exportTo(name);
    if (rc == 1) emitFile(name);
    unlink(name);
    return rc == 1 ? EXIT_OK : report(rc);
}

int readLevel(const char* text, int* level) {
    if (!strcmp(text, "0") || !strcmp(text, "user"))
        *level = 0;
    else if (!strcmp(text, "1") || !strcmp(text, "admin"))
        *level = 1;
    else
        return -1;
    return 0;
}

// The password from standard input: the first line, without its line end.
bool readPassword(std::string& out) {
    char buf[258]; // 255 characters, a line end and the NUL
    if (!fgets(buf, sizeof buf, stdin)) {
        buf[0] = '\0';
        if (ferror(stdin)) return false;
    }
    buf[strcspn(buf, "\r\n")] = '\0';
    out = buf;
    return out.size() <= 255;
}

int cmdExec(int argc, char** argv) {
    if (argc < 1) return usage("exec needs a command line");
    std::string line;
    for (int i = 0; i < argc; ++i)
        line += (i ? " " : "") + std::string(argv[i]);
    int rc = vxRemoteExec(serverData.session.host, line.c_str());
    printf("%d\n", rc);
    if (rc == -1 && vxLastError().code != 0) fprintf(stderr, "%s\n", vxLastError().text);
    return rc == 0 ? EXIT_OK : EXIT_REFUSED;
}

int cmdTransfer(bool fetch, int argc, char** argv) {
    if (argc != 2) return usage(fetch ? "get needs REMOTE LOCAL" : "put needs LOCAL REMOTE");
    int rc = fetch ? vxGetRemoteFile(serverData.session.host, argv[0], argv[1])
                   : vxPutRemoteFile(serverData.session.host, argv[0], argv[1]);
    if (rc == 0) return EXIT_OK;
    fprintf(stderr, "%s (%d)\n", vxLastError().text, rc);
    return rc == -1 ? EXIT_SERVER : EXIT_REFUSED;
}

int cmdPing(int argc, char** argv) {
    int count = argc > 0 ? atoi(argv[0]) : 1;
    if (count < 1 || count > 1000) return usage("ping COUNT must be 1 to 1000");
    int lost = fnPing(serverData.session.host, stdout, count);
    if (lost < 0) fprintf(stderr, "%s\n", vxLastError().text);
    return lost == 0 ? EXIT_OK : lost < 0 ? EXIT_SERVER : EXIT_REFUSED;
}

int cmdRemotePing(int argc, char** argv) {
    if (argc != 1) return usage("remote-ping needs TARGET");
    if (vxRemotePing(serverData.session.host, argv[0], "ping.txt") != 0) {
        fprintf(stderr, "Hiba a proxy szerveren !\n  %s\n", vxLastError().text);
        return EXIT_SERVER;
    }
    emitFile("ping.txt");
    return EXIT_OK;
}

int cmdCounters() {
    char text[VX_STRING_MAX + 1] = {};
    vxClearError();
    vxNetCounters(serverData.session.host, text, sizeof text);
    if (vxLastError().code != 0) {
        fprintf(stderr, "Hiba a proxy szerveren !\n  %s\n", vxLastError().text);
        return EXIT_SERVER;
    }
    printf("%s\n", text);
    return EXIT_OK;
}

// Checks the list out, imports the file, saves with the post-save command and releases; the
// session releases whatever a failure left checked out.
int importList(SdList list, const char* fileName, int group = -1) {
    EditSession session;
    SdResult rc = session.Begin(list, group);
    if (rc == SD_DONE) rc = session.Import(fileName);
    if (rc >= 0) rc = session.Commit();
    return report(rc);
}

// ---------------------------------------------------------------------------------------------
// Single edits: each checks its list out, changes the tables through the data layer's checked
// editing operations, saves with the post-save command and releases. A refusal prints its reason,
// releases what was checked out and leaves the server files as they were.

// Prints a refusal, drops the session's locks and returns the refused status.
int refuse(EditSession& session, const std::string& why, const char* detail = nullptr) {
    fprintf(stderr, "%s\n", why.c_str());
    if (detail) fprintf(stderr, "  %s\n", detail);
    SdResult rc = session.Abandon();
    return rc < 0 ? report(rc) : EXIT_REFUSED;
}

// A refusal the data layer recorded (vxLastError).
int refuseRecorded(EditSession& session) {
    return refuse(session, std::string("orvelanctl: ") + vxLastError().text);
}

// Saves the session; a failed save releases the locks after the failure is shown.
int commit(EditSession& session) {
    int status = report(session.Commit());
    session.Abandon();
    return status;
}

// A name checked by the one name rule before anything is checked out; the reason, or empty.
std::string nameRefusal(const char* name, const char* problem) {
    return problem ? std::string("orvelanctl: ") + name + ": " + problem : std::string();
}

// The text fields of a user as options, and where each goes in the record.
struct UserField {
    const char* option;
    size_t offset;
    size_t size;
};
const UserField kUserFields[] = {
    {"--full-name", offsetof(UserRecord, fullName), sizeof(UserRecord::fullName)},
    {"--phone", offsetof(UserRecord, phone), sizeof(UserRecord::phone)},
    {"--work-phone", offsetof(UserRecord, workPhone), sizeof(UserRecord::workPhone)},
    {"--room", offsetof(UserRecord, room), sizeof(UserRecord::room)},
    {"--comment", offsetof(UserRecord, comment), sizeof(UserRecord::comment)},
};

// What "users add|set" was told to change; unset members keep the record's value.
struct UserOptions {
    std::vector<std::pair<const UserField*, std::string>> texts;
    const char* group = nullptr; // "" no group
    int proxy = -1, mail = -1, super = -1;
    std::string mailName;
    bool password = false;
};

// Reads the options after the user's name; an empty text when they are well formed, else the
// usage error.
std::string parseUserOptions(int argc, char** argv, UserOptions& o) {
    for (int i = 0; i < argc; ++i) {
        std::string opt = argv[i];
        bool more = i + 1 < argc;
        const UserField* field = nullptr;
        for (const UserField& f : kUserFields)
            if (opt == f.option) field = &f;
        if (field && more) {
            o.texts.emplace_back(field, argv[++i]);
        } else if (opt == "--group" && more) {
            o.group = argv[++i];
        } else if (opt == "--mail" && more) {
            o.mail = 1;
            o.mailName = argv[++i];
        } else if (opt == "--proxy" || opt == "--no-proxy") {
            o.proxy = opt == "--proxy";
        } else if (opt == "--super" || opt == "--no-super") {
            o.super = opt == "--super";
        } else if (opt == "--no-mail") {
            o.mail = 0;
        } else if (opt == "--password") {
            o.password = true;
        } else {
            return "users: unexpected " + opt;
        }
    }
    return {};
}

// Copies a text into a record member, cut to its capacity as the user data dialog cuts it.
void setUserText(char* member, size_t size, const std::string& text, const char* option) {
    if (text.size() >= size) fprintf(stderr, "orvelanctl: %s cut to %zu bytes\n", option, size - 1);
    snprintf(member, size, "%.*s", static_cast<int>(size - 1), text.c_str());
}

// Applies the options to a record of the loaded table; an empty text, or the refusal.
std::string applyUserOptions(const UserOptions& o, const std::string& password, UserRecord& r) {
    for (const auto& [field, text] : o.texts)
        setUserText(reinterpret_cast<char*>(&r) + field->offset, field->size, text, field->option);
    if (o.group) {
        r.group = o.group[0] ? serverData.groups.Find(o.group) : -1;
        if (r.group < 0 && o.group[0])
            return std::string("orvelanctl: no group named ") + o.group + " on the server";
    }
    if (o.proxy >= 0) r.proxy = o.proxy;
    if (o.super >= 0) r.super = o.super;
    if (o.mail >= 0) r.mail = o.mail;
    if (o.mail >= 0) setUserText(r.mailName, sizeof r.mailName, o.mailName, "--mail");
    if (o.password) {
        // A new password is encrypted by the server's crypt, without the old one: the
        // administrator sets it.
        if (serverData.passwords.Change(nullptr, password.c_str(), r.password, sizeof r.password) <
            0)
            return std::string("Hiba a proxy szerveren !\n  ") + vxLastError().text;
    }
    return {};
}

int cmdUserEdit(const std::string& op, int argc, char** argv) {
    if (argc < 1) return usage(("users " + op + " needs NAME").c_str());
    const char* name = argv[0];
    UserOptions o;
    std::string why = parseUserOptions(argc - 1, argv + 1, o);
    if (!why.empty()) return usage(why.c_str());
    if (op == "delete" && argc != 1) return usage("users delete takes only NAME");
    std::string password;
    if (o.password && !readPassword(password)) {
        fprintf(stderr, "orvelanctl: the password must be one line of at most 255 characters\n");
        return EXIT_USAGE;
    }
    EditSession session;
    // Only a new name must pass the rule: a list written before it was checked may hold a name
    // that breaks it, and deleting that user is what lets the list be saved again.
    why = op == "add" ? nameRefusal(name, vxNameProblem(name)) : std::string();
    if (!why.empty()) return refuse(session, why);
    int rc = serverData.groups.Load(false); // user lines name their group
    if (rc < 0) return report(rc);
    if ((rc = session.Begin(SdList::Users)) != SD_DONE) return report(rc);
    int index = serverData.users.Find(name);
    if (op == "add" && index >= 0) return refuse(session, "A user már szerepel a listában", name);
    if (op != "add" && index < 0)
        return refuse(session, std::string("orvelanctl: no user named ") + name + " on the server");
    if (op == "delete") {
        serverData.users.Delete(index);
        return commit(session);
    }
    UserRecord r{};
    if (op == "add") {
        snprintf(r.name, sizeof r.name, "%s", name); // the name rule bounds its length
        r.group = -1;
    } else {
        r = serverData.users[index];
    }
    why = applyUserOptions(o, password, r);
    if (!why.empty()) return refuse(session, why);
    if ((op == "add" ? serverData.users.Add(r) : serverData.users.Set(index, r)) < 0)
        return refuseRecorded(session);
    return commit(session);
}

int cmdGroupEdit(const std::string& op, int argc, char** argv) {
    const char* kind = nullptr;
    if (argc == 2 && !strcmp(argv[1], "--allow")) kind = "a";
    if (argc == 2 && !strcmp(argv[1], "--deny")) kind = "d";
    if (op == "delete" ? argc != 1 : !kind)
        return usage(op == "delete"
                         ? "groups delete needs NAME"
                         : ("groups " + op + " needs NAME --allow or NAME --deny").c_str());
    const char* name = argv[0];
    EditSession session;
    std::string why = op == "add" ? nameRefusal(name, sdGroupNameProblem(name)) : std::string();
    if (!why.empty()) return refuse(session, why);
    int rc = session.Begin(SdList::Groups);
    if (rc != SD_DONE) return report(rc);
    int index = serverData.groups.Find(name);
    if (op == "add" && index >= 0)
        return refuse(session, "A csoport már szerepel a listában", name);
    if (op != "add" && index < 0)
        return refuse(session,
                      std::string("orvelanctl: no group named ") + name + " on the server");
    if (op == "delete") {
        // A group that users still belong to stays.
        if ((rc = serverData.users.Load(false)) < 0) {
            int status = report(rc);
            session.Abandon();
            return status;
        }
        for (int i = 0; i < serverData.users.Count(); ++i)
            if (serverData.users[i].group == index)
                return refuse(session, std::string(name) + " csoport nem törölhető !",
                              "users still belong to the group");
        serverData.groups.Delete(index);
        return commit(session);
    }
    // A changed kind takes the permit file its kind derives, as the groups page saves it.
    if (op == "set") serverData.groups.Delete(index);
    if (serverData.groups.Add(name, kind, "") < 0) return refuseRecorded(session);
    return commit(session);
}

// Loads the group list and finds group in it (*index); EXIT_OK, or the exit status of why not.
int loadGroupNamed(const char* group, int* index) {
    int rc = serverData.groups.Load(false);
    if (rc < 0) return report(rc);
    *index = serverData.groups.Find(group);
    if (*index >= 0) return EXIT_OK;
    fprintf(stderr, "orvelanctl: no group named %s on the server\n", group);
    return EXIT_USAGE;
}

int cmdUrlEdit(const std::string& op, int argc, char** argv) {
    if (argc < 2) return usage(("urls " + op + " needs GROUP URL...").c_str());
    const char* group = argv[0];
    EditSession session;
    for (int i = 1; i < argc; ++i)
        if (const char* problem = sdUrlProblem(argv[i]))
            return refuse(session, std::string("orvelanctl: ") + argv[i] + ": " + problem);
    int index = -1;
    int rc = loadGroupNamed(group, &index);
    if (rc != EXIT_OK) return rc;
    if ((rc = session.Begin(SdList::Urls, index)) != SD_DONE) return report(rc);
    for (int i = 1; i < argc; ++i) {
        int found = -1;
        for (int u = 0; u < serverData.urls.Count() && found < 0; ++u)
            if (!strcmp(serverData.urls[u], argv[i])) found = u;
        if (op == "add" && found >= 0)
            return refuse(session, "Az URL már szerepel a listában", argv[i]);
        if (op == "delete" && found < 0)
            return refuse(session, std::string("orvelanctl: no URL ") + argv[i] + " in the list");
        if (op == "delete")
            serverData.urls.Delete(found);
        else if (serverData.urls.Add(argv[i]) < 0)
            return refuseRecorded(session);
    }
    return commit(session);
}

int cmdUsers(int argc, char** argv) {
    if (argc < 1) return usage("users needs list, export, import, add, set or delete");
    std::string op = argv[0];
    if (op == "add" || op == "set" || op == "delete") return cmdUserEdit(op, argc - 1, argv + 1);
    if (op != "list" && argc != 2) return usage(("users " + op + " needs FILE").c_str());
    if (op != "list" && op != "export" && op != "import")
        return usage("users needs list, export or import");
    int rc = serverData.groups.Load(false); // user lines name their group
    if (rc < 0) return report(rc);
    if (op == "import") return importList(SdList::Users, argv[1]);
    if ((rc = serverData.users.Load(false)) < 0) return report(rc);
    if (op == "list") return listVia([](const char* f) { return serverData.users.Export(f); });
    return report(serverData.users.Export(argv[1]));
}

int cmdGroups(int argc, char** argv) {
    if (argc < 1) return usage("groups needs list, export, import, add, set or delete");
    std::string op = argv[0];
    if (op == "add" || op == "set" || op == "delete") return cmdGroupEdit(op, argc - 1, argv + 1);
    if (op != "list" && argc != 2) return usage(("groups " + op + " needs FILE").c_str());
    if (op != "list" && op != "export" && op != "import")
        return usage("groups needs list, export or import");
    if (op == "import") return importList(SdList::Groups, argv[1]);
    int rc = serverData.groups.Load(false);
    if (rc < 0) return report(rc);
    if (op == "list") return listVia([](const char* f) { return serverData.groups.Export(f); });
    return report(serverData.groups.Export(argv[1]));
}

int cmdUrls(int argc, char** argv) {
    if (argc >= 1 && (!strcmp(argv[0], "add") || !strcmp(argv[0], "delete")))
        return cmdUrlEdit(argv[0], argc - 1, argv + 1);
    if (argc < 2) return usage("urls needs list GROUP, export FILE GROUP or import FILE GROUP");
    std::string op = argv[0];
    bool withFile = op == "export" || op == "import";
    if ((op != "list" && !withFile) || argc != (withFile ? 3 : 2))
        return usage("urls needs list GROUP, export FILE GROUP or import FILE GROUP");
    const char* group = argv[argc - 1];
    int index = -1;
    int rc = loadGroupNamed(group, &index);
    if (rc != EXIT_OK) return rc;
    if (op == "import") return importList(SdList::Urls, argv[1], index);
    serverData.urls.currentGroup = index;
    if ((rc = serverData.urls.Load(false)) < 0) return report(rc);
    if (op == "list") return listVia([](const char* f) { return serverData.urls.Export(f); });
    return report(serverData.urls.Export(argv[1]));
}

int cmdPasswd(int argc, char** argv) {
    int level = 0;
    if (argc != 2 || readLevel(argv[1], &level) != 0)
        return usage("passwd needs check LEVEL or set LEVEL (LEVEL: 0, user, 1, admin)");
    std::string password;
    if (!readPassword(password)) {
        fprintf(stderr, "orvelanctl: the password must be one line of at most 255 characters\n");
        return EXIT_USAGE;
    }
    if (!strcmp(argv[0], "check")) {
        serverData.session.SelectedLevel = level;
        int rc = serverData.passwords.Check(password.c_str());
        if (rc == 0) {
            fprintf(stderr, "Hibás jelszó !\n");
            return EXIT_REFUSED;
        }
        return report(rc);
    }
    if (strcmp(argv[0], "set") != 0) return usage("passwd needs check or set");
    return report(serverData.passwords.ChangeConsole(nullptr, password.c_str(), level));
}

// "HH:MM" into its two texts; false when it is not that shape.
bool splitTime(const char* text, std::string& hour, std::string& minute) {
    const char* colon = strchr(text, ':');
    if (!colon || colon == text || !colon[1] || strlen(text) > 5) return false;
    for (const char* p = text; *p; ++p)
        if (p != colon && (*p < '0' || *p > '9')) return false;
    hour.assign(text, colon);
    minute = colon + 1;
    return true;
}

int cmdHours(int argc, char** argv) {
    if (argc == 1 && !strcmp(argv[0], "get")) {
        int sh, sm, eh, em;
        int rc = serverData.hours.Load(&sh, &sm, &eh, &em);
        printf("%02d:%02d - %02d:%02d\n", sh, sm, eh, em);
        if (rc != 0) fprintf(stderr, "(defaults: no working hours on the server)\n");
        return rc == 0 ? EXIT_OK : EXIT_SERVER;
    }
    std::string sh, sm, eh, em;
    if (argc != 3 || strcmp(argv[0], "set") != 0 || !splitTime(argv[1], sh, sm) ||
        !splitTime(argv[2], eh, em))
        return usage("hours needs get, or set HH:MM HH:MM");
    int rc = serverData.hours.Save(sh.c_str(), sm.c_str(), eh.c_str(), em.c_str());
    return report(rc == 0 ? 1 : rc);
}

int cmdRelease() {
    return report(serverData.ReleaseAll() < 0 ? -1 : 1);
}

// "YYYY-MM-DD HH:MM" into the query's five fields; false when it is not a valid date and time.
bool parseStatTime(const char* text, int32_t* f) {
    int used = 0;
    if (sscanf(text, "%4d-%2d-%2d %2d:%2d%n", &f[0], &f[1], &f[2], &f[3], &f[4], &used) != 5 ||
        text[used] != '\0')
        return false;
    return f[0] >= 1970 && f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 && f[3] >= 0 &&
           f[3] <= 23 && f[4] >= 0 && f[4] <= 59;
}

bool isSuperUser(const char* name, void*) {
    return serverData.users.IsSuper(name);
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string csvField(const char* text) {
    if (!strpbrk(text, ",\"\r\n")) return text;
    std::string out = "\"";
    for (const char* p = text; *p; ++p)
        out += *p == '"' ? std::string("\"\"") : std::string(1, *p);
    return out + "\"";
}

void emitLine(const std::string& line) {
    emit(line.data(), line.size());
    emit("\n", 1);
}

int cmdStats(int argc, char** argv) {
    if (argc < 1) return usage("stats needs data, url or site");
    StatQuery q{};
    std::string kind = argv[0];
    q.kind = kind == "data" ? STAT_KIND_TRAFFIC : kind == "url" ? STAT_KIND_URL : STAT_KIND_SITE;
    if (kind != "data" && kind != "url" && kind != "site")
        return usage("stats needs data, url or site");
    q.resolution = STAT_RES_10MIN;
    q.scope = STAT_SCOPE_ALL;
    bool csv = false, from = false, to = false;
    const char* user = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        bool more = i + 1 < argc;
        if (opt == "--from" && more) {
            if (!(from = parseStatTime(argv[++i], &q.startYear)))
                return usage("--from needs \"YYYY-MM-DD HH:MM\"");
        } else if (opt == "--to" && more) {
            if (!(to = parseStatTime(argv[++i], &q.endYear)))
                return usage("--to needs \"YYYY-MM-DD HH:MM\"");
        } else if (opt == "--resolution" && more) {
            std::string r = argv[++i];
            q.resolution = r == "10min"   ? STAT_RES_10MIN
                           : r == "hour"  ? STAT_RES_HOUR
                           : r == "day"   ? STAT_RES_DAY
                           : r == "month" ? STAT_RES_MONTH
                                          : -1;
            if (q.resolution < 0) return usage("--resolution needs 10min, hour, day or month");
        } else if (opt == "--user" && more) {
            user = argv[++i];
            q.scope = STAT_SCOPE_USER;
        } else if (opt == "--csv") {
            csv = true;
        } else {
            return usage(("stats: unexpected " + opt).c_str());
        }
    }
    if (!from || !to) return usage("stats needs --from and --to");
    // The user list tells super users, whose statistics are never shown.
    int rc = serverData.groups.Load(false);
    if (rc >= 0) rc = serverData.users.Load(false);
    if (rc < 0) return report(rc);
    StatRequest request{q, user, user && isSuperUser(user, nullptr)};
    vxClearError();
    StatOutcome outcome = RunStatQuery(serverData.session.host, request, &currentStatQuery());
    if (outcome != StatOutcome::Chart && outcome != StatOutcome::Table) {
        fprintf(stderr, "%s\n", StatOutcomeMessage(outcome));
        if (outcome == StatOutcome::SuperUser) return EXIT_REFUSED;
        if (vxLastError().code != 0) fprintf(stderr, "  %s\n", vxLastError().text);
        return outcome == StatOutcome::LocalFile ? EXIT_LOCAL : EXIT_SERVER;
    }
    if (q.kind == STAT_KIND_TRAFFIC) {
        static double values[STAT_POINTS_MAX];
        static char labels[STAT_POINTS_MAX][STAT_LABEL_SIZE];
        bool truncated = false;
        int n = ReadStatValues(STAT_OUTPUT_FILE, values, STAT_POINTS_MAX, &truncated);
        if (n < 0) return report(SD_LOCAL);
        StatChartLabels(q, n, labels);
        for (int i = 0; i < n; ++i) {
            char line[64];
            snprintf(line, sizeof line, csv ? "%s,%.0f" : "%s  %.0f", labels[i], values[i]);
            emitLine(line);
        }
        if (truncated) fprintf(stderr, "orvelanctl: only the first %d buckets\n", STAT_POINTS_MAX);
        return EXIT_OK;
    }
    FILE* f = fopen(STAT_OUTPUT_FILE, "rb");
    if (!f) return report(SD_LOCAL);
    char piece[STAT_PIECE_MAX + 1];
    char line[STAT_LINE_MAX];
    while (fgets(piece, sizeof piece, f)) {
        if (!csv) {
            if (StatTableLine(piece, isSuperUser, nullptr, line, sizeof line)) emitLine(line);
            continue;
        }
        StatEntry e = StatTableEntry(piece, isSuperUser, nullptr);
        if (e.kind == StatEntry::Text) emitLine(csvField(e.text));
        if (e.kind == StatEntry::Entry)
            emitLine(csvField(e.user) + "," + std::to_string(e.count) + "," + csvField(e.target));
    }
    fclose(f);
    return EXIT_OK;
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
        return EXIT_NOSERVER;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const char* source = nullptr;
    int next = 0;
    int rc = parseOptions(argc, argv, &source, &next);
    if (rc >= 0) return rc;
    if (next >= argc) return usage("no command given");
    const Command* command = findCommand(argv[next]);
    if (!command) return usage((std::string("unknown command ") + argv[next]).c_str());
    if ((rc = startUp(source)) >= 0) return rc;
    vxClearError(); // what start-up left recorded is no cause of the command's failures
    return command->run(argc - next - 1, argv + next + 1);
}
