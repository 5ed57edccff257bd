// One edit of a server list (users, groups or the URL list of one group) under the checkout lock
// protocol: check out, edit the tables, then save with the post-save command or drop the locks.
// The editor pages and orvelanctl drive their edits through it.
#pragma once

#include <memory>

#include "serverdata/server_data.h"

// The lists an edit session can hold.
enum class SdList {
    Users,  // the user list and the user data list ("USERPROC" after a save)
    Groups, // the group list ("GROUPPROC")
    Urls,   // the permit file of one group ("PROXYPROC")
};

// The status text of a result of this layer: 1 and 0 "OK !", -1 "Hiba a proxy szerveren !",
// -2 "Lokális file kezelési hiba !", -3 "Konkurens használat !", -4 "Hibás import file !"; any
// other value is a failure the server reported: "Hiba a proxy szerveren !". The detail of a
// failure is the recorded error (vxLastError), which each operation below leaves as its own.
const char* SdResultText(int result);

// The message of the start-up load of the main window for a result of LoadGroups (users false)
// or LoadUsers (users true) for viewing, or nullptr when the start-up goes on.
const char* SdStartupLoadText(int result, bool users);

// Contract:
// - Begin checks the list out (the user data file, then the user list; the group list; the
//   permit file of the given group, which becomes the current group) into its local working
//   copies and loads it into the tables of `data`. Users need the group table loaded first
//   (group names become indexes). On 1 the session is open and holds the locks. On any other
//   result nothing is held: whatever was checked out has been released again, and the session
//   stays closed (0: no such group for Urls; -1 server; -2 local copy unreadable; -3 another
//   console holds the list, or this session is already open).
// - While open, the page edits the tables through the lists' checked editing operations
//   (users.Add, users.Set, users.Delete, groups.Add, ...), which set the modified flags; Import
//   appends a file (the list's Import) and marks the list modified on success.
// - Commit writes the local copies, checks them in, runs the list's post-save command and
//   releases the locks: 1 saved, 0 nothing was modified (only released); the session is closed.
//   -1 (a check-in or the post-save command failed; the server files were restored) or -2 (a
//   local copy could not be written, or a record cannot be written safely): the locks stay
//   held and the session open, so that the page can save again or abandon.
// - Abandon drops the edits: the tables the session could change (users: the user table;
//   groups: the group table, the users' group indexes and the current group; urls: the URL
//   table) are put back as they were checked out, even when the release fails. Then it releases
//   every file the list holds (users: both files, even when one fails): 1 released and the
//   session closed (also when it was not open); -1 a release failed, the session stays open and
//   a later Abandon tries again.
// - The destructor abandons a session that is still open, so no path leaves a lock behind.
// - Every operation starts with a cleared error record, and every failure records its own
//   cause, so the detail under a failure is never a stale one.
class EditSession {
  public:
    explicit EditSession(ServerData& data = serverData);
    ~EditSession();
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    SdResult Begin(SdList list, int group = -1);
    SdResult Import(const char* fileName);
    void MarkModified();
    SdResult Commit();
    SdResult Abandon();

    bool IsOpen() const { return m_open; }
    SdList List() const { return m_list; }

  private:
    struct Kept; // the tables as checked out
    void Keep();
    void Restore();
    void Drop();
    int CommitGroups();

    ServerData& m_data;
    std::unique_ptr<Kept> m_kept;
    SdList m_list = SdList::Users;
    bool m_open = false;
};
