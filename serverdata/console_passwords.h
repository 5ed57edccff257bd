// The console's password files (user and administrator level) and password changes through the
// server's crypt.
#pragma once

#include <cstddef>

#include "serverdata/checkout_lock.h"
#include "serverdata/sd_session.h"

class ConsolePasswords {
  public:
    ConsolePasswords(const SdSession& session, CheckoutLock& lock)
        : m_session(session), m_lock(lock) {}

    // Check the typed password against the file of the session's SelectedLevel: 1 accepted;
    // 0 refused; -1; -2.
    int Check(const char* typed);
    // `encrypted` (capacity encryptedSize) holds the stored password on entry and the new one on
    // success; the old one is checked when one is stored and oldPlain is given. 1; 0 old
    // password wrong; -1.
    int Change(const char* oldPlain, const char* newPlain, char* encrypted, size_t encryptedSize);
    // Changes the console password of a level under the lock: 1; 0 old password wrong; -1; -2;
    // -3.
    int ChangeConsole(const char* oldPlain, const char* newPlain, int level);

  private:
    const SdSession& m_session;
    CheckoutLock& m_lock;
};
