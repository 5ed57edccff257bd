// The Setup page's settings without windows: the server names in the registry store, the line
// speeds in "setup.bin" and the working hours on the server, loaded and saved in one order.
#pragma once

constexpr int SETUP_SERVERS = 4;
constexpr int SETUP_SPEEDS = 6;
constexpr int SETUP_HOURS = 4;

// The parameters of the four server fields: the proxy server and the three ping targets.
extern const char* const SETUP_SERVER_PARAMS[SETUP_SERVERS];

// Messages of the save.
constexpr const char* SETUP_REGISTRY_FAILED = "Regisztri írási hiba '";
constexpr const char* SETUP_HOURS_LOCAL_FAILED = "Lokális file írási hiba";

// What a load gives the page.
struct SetupLoaded {
    bool speedsMissing;                 // "setup.bin" could not be read: lineSpeeds has defaults
    int hours[SETUP_HOURS];             // start hour, start minute, end hour, end minute
    const char* servers[SETUP_SERVERS]; // parameter values; nullptr: the field keeps its text
};

// Reads "setup.bin" into lineSpeeds; when it cannot be read, the defaults go in and the totals
// stay, otherwise the totals become incoming plus outgoing. The working hours are 8:00 - 16:30
// with noServer set, else those of the server (LoadWorkingHours, which has the same defaults
// when the server's file cannot be read); they are read also when "setup.bin" is missing, so
// that a save never sends hours the page did not show. Then the four server parameters.
SetupLoaded SetupLoad();

// The page's fields as typed (Windows-1250 texts). Speeds in the order of LineSpeeds: Internet,
// LAN, intranet incoming, then the same outgoing.
struct SetupInput {
    const char* servers[SETUP_SERVERS];
    const char* speeds[SETUP_SPEEDS];
    const char* hours[SETUP_HOURS];
};

// Saves in this order: the six speeds into lineSpeeds (the totals of the last load stay) and
// "setup.bin" (its outcome is not examined); "ProxyServerName" into the registry store, the
// ServerData host name taking the field's text whether or not that worked; the three ping
// targets; "ActiveNetworkDevice" and "Set" as "X"; the working hours on the server (not with
// noServer set: in that state nothing goes to the server). The first registry failure ends the
// save with SETUP_REGISTRY_FAILED; a local failure of the hours ends it with
// SETUP_HOURS_LOCAL_FAILED; a server failure gives the text of SD_SERVER. "" when all went
// well.
const char* SetupSave(const SetupInput& input);

// A typed speed: the decimal number at the start of the text (leading blanks skipped); 0 when
// there is none or it is not finite.
double SetupSpeedValue(const char* text);
