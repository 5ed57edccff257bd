// The proxy server data layer: the session with the server, the lock protocol, the three lists
// the console edits (groups, users, URLs), the console passwords and the working hours, as one
// object whose parts are wired to each other.
#pragma once

#include "serverdata/checkout_lock.h"
#include "serverdata/console_passwords.h"
#include "serverdata/group_list.h"
#include "serverdata/sd_records.h"
#include "serverdata/sd_session.h"
#include "serverdata/url_list.h"
#include "serverdata/user_list.h"
#include "serverdata/working_hours.h"

class ServerData {
  public:
    ServerData();
    ServerData(const ServerData&) = delete;
    ServerData& operator=(const ServerData&) = delete;

    SdSession session;
    CheckoutLock lock{session};
    GroupList groups{lock};
    UserList users{lock, groups};
    UrlList urls{lock, groups};
    ConsolePasswords passwords{session, lock};
    WorkingHours hours{session};

    // Empties every table and flag, the session (host, levels) included.
    void Reset();

    // Start-up configuration: loads the parameter source, takes "ProxyServerName", pings the
    // server, fetches and loads its "orvelan.cnf". 0; -1 server or transfer failure; -2 the
    // local parameters are missing.
    int LoadConfig(const char* source);

    // Releases every list this working directory holds, in the order the locks require: the
    // users, the groups, then the permit files, which the group table names (so it is loaded for
    // viewing first when it is empty; a failed load skips the permit files). 0, or -1 when any
    // release or that load failed; each is tried whatever an earlier one gave.
    int ReleaseAll();
};

// The console talks to one proxy server, so its data layer is one process-wide object: the
// pages, the main window and orvelanctl share it (edit sessions take it by reference).
extern ServerData serverData;
