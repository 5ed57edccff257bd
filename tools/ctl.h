// orvelanctl's private header: the exit statuses, the output channel and the commands that the
// command table in orvelanctl.cpp runs after the start-up checks found the server.
#pragma once

#include <cstddef>
#include <string>

namespace ctl {

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

// Set by -u: list output converted from Windows-1250 to UTF-8.
extern bool g_utf8;

// Prints a usage error on standard error and returns EXIT_USAGE.
int usage(const char* why);
// Prints the status text of a result of the data layer (success on standard output, a failure
// with its recorded cause on standard error) and returns its exit status.
int report(int result);
// Writes server bytes to standard output, converted to UTF-8 when asked.
void emit(const char* bytes, size_t size);
// emit() of a line and its line end.
void emitLine(const std::string& line);
// Copies a local file to standard output; false when it cannot be read.
bool emitFile(const char* path);
// The password from standard input: the first line, without its line end; false when it cannot
// be read or is longer than 255 characters.
bool readPassword(std::string& out);

// The commands, each given the words after its name; each returns its exit status.
// One-shot remote commands (ctl_remote.cpp).
int cmdExec(int argc, char** argv);
int cmdTransfer(bool fetch, int argc, char** argv);
int cmdPing(int argc, char** argv);
int cmdRemotePing(int argc, char** argv);
int cmdCounters();
// The lists: list, export, import and single edits, and the release of their locks
// (ctl_lists.cpp).
int cmdUsers(int argc, char** argv);
int cmdGroups(int argc, char** argv);
int cmdUrls(int argc, char** argv);
int cmdRelease();
// Console passwords and working hours (ctl_passwd_hours.cpp).
int cmdPasswd(int argc, char** argv);
int cmdHours(int argc, char** argv);
// Traffic statistics (ctl_stats.cpp).
int cmdStats(int argc, char** argv);

} // namespace ctl
