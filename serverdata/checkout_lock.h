// The checkout lock protocol with the server: a file is checked out into a local working copy,
// checked in, released or restored, one file or a list's files in their order.
#pragma once

#include <cstdio>

#include "serverdata/sd_records.h"
#include "serverdata/sd_session.h"

// The working copy in the working directory is the record that this console holds the file's
// lock; it outlives the process, so that a later run (or "orvelanctl release") in the same
// directory drops what an earlier one left. Only Checkout creates a working copy; viewing loads
// fetch into copies of their own names (FetchForViewing), so they never touch a held one.
class CheckoutLock {
  public:
    explicit CheckoutLock(const SdSession& session) : m_session(session) {}

    // Checkout: 1 fetched; 0 no such server file (lock dropped, no local copy); -1 server
    // failure; -3 held by another console. Checkin: 1; 0 upload reported "no such file"; -1.
    // Release: 1 released; 0 no working copy (nothing sent); -1. Restore: always 0.
    int Checkout(const char* remotePath, const char* localPath);
    int Checkin(const char* remotePath, const char* localPath);
    int Release(const char* remotePath, const char* localPath);
    int Restore(const char* remotePath);

    // Checks out files[0..n) in order; results[i] gets each result. On a negative result the
    // files already held are released (last first) and that result is returned; else 1.
    int CheckoutAll(const ListFile* files, int n, int* results);

    // Writes files[i] through write(f, context, i) and checks it in, in order; runs the post-save
    // command (parameter procKey, else procDefault), then releases them in order: 1. A failing
    // check-in restores the files checked in before it and returns its result; an unwritable
    // copy -2; a failing command restores every file in check-in order and keeps the locks (-1).
    int CommitAll(const ListFile* files, int n, const char* procKey, const char* procDefault,
                  bool (*write)(FILE*, const void* context, int which), const void* context);

    // Releases files[0..n) in order, each even when an earlier one failed (a lock left behind
    // must not keep the others); -1 when any failed (the first failure's cause stays recorded),
    // else 0.
    int ReleaseAll(const ListFile* files, int n);

    // Releases what a failed load had checked out; the load's failure stays the recorded cause.
    void DropAfterFailure(const ListFile* files, int n);

    // Read-only fetch of a server file into a viewing copy (never a working copy's name): 1
    // fetched; 0 no such file; -1.
    int FetchForViewing(const char* remotePath, const char* viewPath);

    const char* Host() const { return m_session.host; }

  private:
    const SdSession& m_session;
};
