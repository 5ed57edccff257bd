// The group table and the group list file: loading, saving, releasing, exporting and importing,
// and the checked editing of the table.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

#include "serverdata/checkout_lock.h"
#include "serverdata/sd_records.h"

class GroupList {
  public:
    explicit GroupList(CheckoutLock& lock) : m_lock(lock) {}
    GroupList(const GroupList&) = delete;
    GroupList& operator=(const GroupList&) = delete;

    // Users and the URL list hold group indexes: this is told every time indexes move, with
    // newIndex[old] (-1 for a deleted group) for each of the oldCount groups before the move.
    std::function<void(const int* newIndex, int oldCount)> onRenumber;

    int Count() const { return m_count; }
    const GroupRecord& operator[](int index) const { return m_groups[index]; }
    // The index of the group with this name, or -1.
    int Find(const char* name) const;
    // The group's name, or "" for an index outside the table.
    const char* NameOf(int index) const;
    void Clear() { m_count = 0; }
    // Puts back a table copied out before (no holder of group indexes is told: they are put
    // back with it).
    void Restore(const GroupRecord* groups, int n);

    // Load (for editing under the lock, or for viewing): 1; -1; -2 (a load that fails leaves the
    // table as it was); -3. Save (sorts first): 1; -1; -2. Release: 0 or -1. Export: 1; -2.
    // Import: 1; -2; -4 (a refused line or a full table).
    int Load(bool forEditing);
    // With `first`, that file (held by this console) is written with firstContent and checked in
    // before the group list, under the same post-save command: both are saved or neither.
    int Save(const ListFile* first = nullptr, const char* firstContent = nullptr);
    int Release();
    int Export(const char* fileName) const;
    int Import(const char* fileName);

    // Checked editing: refuses a name that breaks the name rule or is in the table, and a permit
    // path no server command may carry; the index used, or -1 with the reason recorded.
    int Add(const char* name, const char* kind, const char* permitPath);
    void Delete(int index); // later indexes move down

    // One row of a table built anew: origin is the row's index in the table before, or -1.
    struct Row {
        const char* name;
        const char* kind;
        int origin;
    };
    // Replaces the table with the rows (each added as Add does; a refused row is left out), and
    // moves the holders of group indexes along: a group whose row is gone becomes -1.
    void Rebuild(const Row* rows, int n);

    // Paths from the parameters (or their defaults).
    static const char* PermitDir(char* out, size_t size); // with its trailing "/"
    static bool DerivePermitPath(const char* name, const char* kind, char* out, size_t size);

  private:
    int ReadList(FILE* in, bool importing);
    int Append(const char* name, const char* kind, const char* permitPath);
    void Sort();
    int CheckForSave() const;

    CheckoutLock& m_lock;
    GroupRecord m_groups[SD_MAX_GROUPS];
    int32_t m_count = 0;
};
