// The URL table of the current group and its permit file: loading, saving, releasing, exporting
// and importing, and the checked editing of the table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "serverdata/checkout_lock.h"
#include "serverdata/group_list.h"
#include "serverdata/sd_records.h"

class UrlList {
  public:
    UrlList(CheckoutLock& lock, const GroupList& groups) : m_lock(lock), m_groups(groups) {}
    UrlList(const UrlList&) = delete;
    UrlList& operator=(const UrlList&) = delete;

    int32_t currentGroup = -1; // group whose permit list is in the table; -1 none
    int32_t modified = 0;      // the table differs from the server's file

    int Count() const { return m_count; }
    const char* operator[](int index) const { return m_urls[index]; }
    // Empties the table (the modified flag stays).
    void Clear();
    // Puts back a table copied out before, as the server has it (not modified).
    void Restore(const std::vector<std::string>& urls);
    // Empties the table and forgets the current group and the flag.
    void Reset();

    // Load: 1; 0 no current group; -1; -2; -3; another fetch failure as reported. Save: 1; 0
    // nothing changed or no current group; -1; -2. Release (every group's permit file): 0 or -1.
    // Export: 1; -2. Import: 1; -2; -4 (too long or refused line, or a full table).
    int Load(bool forEditing);
    int Save();
    int Release();
    int Export(const char* fileName) const;
    int Import(const char* fileName);

    // Checked editing: the index used, or -1 with the reason recorded (vxLastError).
    int Add(const char* url);
    void Delete(int index);

    // Moves the current group along a renumbering of the group table.
    void RenumberGroups(const int* newIndex, int oldCount);

  private:
    int ReadPermitFile(FILE* in);
    int Append(const char* url);
    static bool Write(FILE* f, const void* list, int which);

    CheckoutLock& m_lock;
    const GroupList& m_groups;
    char* m_urls[SD_MAX_URLS];
    char* m_cursor = nullptr; // next free byte of m_pool; null before first use
    char m_pool[SD_URL_POOL_SIZE];
    int32_t m_count = 0;
};
