// The console's start-up sequence without its windows: what it decides and what the window side
// must show.
#pragma once

// Registry root of the console's workstation settings.
constexpr const char* ORVELAN_REGISTRY_ROOT =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator";

// 1 when no server work may be done; only ever goes from 0 to 1. Process-wide, as the one
// server connection it guards (ServerData) is: the start-up sets it before any window exists.
extern int noServer;

// The registry's set mark (the value "Set" under the root's "Setup" key): true when it can be
// read and holds exactly "X". The start-up and the main window's load both ask this.
bool SetMarkDone();

// What the window side does after the start-up checks.
struct StartupResult {
    const char* messageText;  // a message box to show first (OK button, no icon), or nullptr
    const char* messageTitle; // its title ("ERROR !")
    int exitCode;             // >= 0: end the process with this code, no main window
    int noServer;             // the value of the flag afterwards
};

// Runs the start-up checks: the parameter source is the first word of commandLine (the text
// after the program name), or the registry root's "Setup" key when there is none; reads the set
// mark (must be exactly "X"), calls serverData.LoadConfig and pings the server once more. Failures
// set noServer; the server failures come with "Hiba a proxy szerveren !!" (configuration) or
// "Hiba a proxy szerveren !" (second ping).
StartupResult RunStartup(const char* commandLine);
