// orvelanctl's lists: the users, the groups and the groups' URL lists listed, exported and
// imported, edited one entry at a time through the edit session, and their locks released.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "lib/vx_err.h"
#include "serverdata/edit_session.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"
#include "tools/ctl.h"

namespace ctl {

namespace {

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

// A text checked before anything is checked out: the data layer's reason, or empty.
std::string textRefusal(const char* text, SdRefusal code) {
    if (code == SdRefusal::None) return {};
    return std::string("orvelanctl: ") + text + ": " + sdRefusalReason(code, text);
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
    why = op == "add" ? textRefusal(name, sdUserNameProblem(name)) : std::string();
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
    std::string why = op == "add" ? textRefusal(name, sdGroupNameProblem(name)) : std::string();
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
        if (std::string why = textRefusal(argv[i], sdUrlProblem(argv[i])); !why.empty())
            return refuse(session, why);
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

} // namespace

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

int cmdRelease() {
    return report(serverData.ReleaseAll() < 0 ? -1 : 1);
}

} // namespace ctl
