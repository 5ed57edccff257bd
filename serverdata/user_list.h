// The user table and the user list and user data files: loading, saving, releasing, exporting
// and importing, and the checked editing of the table.
#pragma once

#include <memory>

#include "serverdata/checkout_lock.h"
#include "serverdata/group_list.h"
#include "serverdata/sd_records.h"

// The user table (about 800 KB, kept on the heap).
struct UserTable {
    UserRecord users[SD_MAX_USERS];
    int32_t count;
};

class UserList {
  public:
    // Users name their group: the group table must be loaded before the users.
    UserList(CheckoutLock& lock, const GroupList& groups);
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    int32_t modified = 0; // the table differs from the server's files

    int Count() const { return m_table->count; }
    const UserRecord& operator[](int index) const { return m_table->users[index]; }
    // The index of the user with this name, or -1.
    int Find(const char* name) const;
    // Whether the user of this name holds right S (a super user); false for an unknown name.
    bool IsSuper(const char* name) const;
    // IsSuper as the statistics readers' check (StatSuperCheck); list is a const UserList*.
    static bool IsSuperIn(const char* name, void* list) {
        return static_cast<const UserList*>(list)->IsSuper(name);
    }
    void Clear() { m_table->count = 0; }
    // A copy of the table, and the table put back from one (as the server has it: not modified).
    void CopyTable(UserTable& out) const { out = *m_table; }
    void RestoreTable(const UserTable& table) {
        *m_table = table;
        modified = 0;
    }

    // Load: 1; -1; -2; -3. Save: 1; 0 nothing changed (released only); -1 server failure or
    // failed post-save command (files stay checked out); -2. Release: 0 or -1. Export: 1 or -2.
    // Import: 1; -2; -4.
    int Load(bool forEditing);
    int Save();
    int Release();
    int Export(const char* fileName) const;
    int Import(const char* fileName);

    // Checked editing: refuses text that would corrupt a list file and stops at the table's
    // bound: the index used, or -1 with the reason recorded (vxLastError).
    int Add(const UserRecord& user);
    int Set(int index, const UserRecord& user);
    void Delete(int index);

    // The user list file (server path and working copy): a group save that renames groups with
    // members checks it out and writes it with the new names.
    static ListFile ListFileOf();

    // Moves the users' group indexes along a renumbering of the group table.
    void RenumberGroups(const int* newIndex, int oldCount);

  private:
    int ReadFiles(bool withData, bool viewing);
    int ReadList(FILE* in);
    int ReadData(FILE* in);
    bool Append(const UserRecord& u);
    bool Fill(char** f, int n, bool importing, UserRecord& u) const;
    int CheckForSave() const;
    static bool Write(FILE* f, const void* list, int which);

    CheckoutLock& m_lock;
    const GroupList& m_groups;
    std::unique_ptr<UserTable> m_table;
};
