// orvelanctl's console passwords and working hours.
#include <cstdio>
#include <cstring>
#include <string>

#include "serverdata/server_data.h"
#include "tools/ctl.h"

namespace ctl {

namespace {

int readLevel(const char* text, int* level) {
    if (!strcmp(text, "0") || !strcmp(text, "user"))
        *level = 0;
    else if (!strcmp(text, "1") || !strcmp(text, "admin"))
        *level = 1;
    else
        return -1;
    return 0;
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

} // namespace

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

} // namespace ctl
