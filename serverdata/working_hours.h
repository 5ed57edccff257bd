// The working hours in the server's "attandance.txt": one line "HH:MM - HH:MM".
#pragma once

#include "serverdata/sd_session.h"

class WorkingHours {
  public:
    explicit WorkingHours(const SdSession& session) : m_session(session) {}

    // Load: 0 read; -1 not available (defaults 8:00 - 16:30 filled in). Save (decimal texts as
    // typed): 0 sent; -1 upload failed; -2 local.
    int Load(int* startHour, int* startMinute, int* endHour, int* endMinute);
    int Save(const char* startHour, const char* startMinute, const char* endHour,
             const char* endMinute);

  private:
    const SdSession& m_session;
};
