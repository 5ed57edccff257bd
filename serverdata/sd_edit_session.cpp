// The edit session of a server list and the status texts of the data layer's results.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "lib/vx_err.h"
#include "serverdata/edit_session.h"
#include "serverdata/sd_text.h"

struct EditSession::Kept {
    std::unique_ptr<UserTable> users; // users and groups (the users hold group indexes)
    std::vector<GroupRecord> groups;  // groups
    int32_t urlGroup = -1;            // groups (the current group follows its group)
    std::vector<std::string> urls;    // urls
    // groups: where each checked-out group is now (-1 gone), followed through every renumbering
    std::vector<int> groupAt;
    std::function<void(const int*, int)> onRenumber; // the holders' hook while this one follows
};

namespace {

using Renames = std::vector<std::pair<std::string, std::string>>; // old name, new name

// The user list text with each user's group (field 2) renamed; `changed` tells whether any was.
bool renameInUserList(const char* path, const Renames& renames, std::string& out, bool& changed) {
    FILE* in = std::fopen(path, "rb");
    if (!in) {
        vxSysError(path);
        return false;
    }
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;)
        text.append(buf, n);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        vxSysError(path);
        return false;
    }
    changed = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        size_t a = text.find(':', start), b = a < end ? text.find(':', a + 1) : std::string::npos;
        if (a < end && b < end) {
            std::string group = text.substr(a + 1, b - a - 1);
            group.erase(group.find_last_not_of(' ') + 1);
            for (const auto& [from, to] : renames) {
                if (group != from) continue;
                text.replace(a + 1, b - a - 1, to);
                end = end - (b - a - 1) + to.size();
                changed = true;
                break;
            }
        }
        start = end;
    }
    out = std::move(text);
    return true;
}

} // namespace

const char* SdResultText(int result) {
    switch (result) {
    case SD_DONE:
    case SD_NOTHING:
        return "OK !";
    case SD_LOCAL:
        return "Lokális file kezelési hiba !";
    case SD_CONCURRENT:
        return "Konkurens használat !";
    case SD_MALFORMED:
        return "Hibás import file !";
    default:
        return "Hiba a proxy szerveren !";
    }
}

const char* SdStartupLoadText(int result, bool users) {
    if (result == SD_CONCURRENT)
        return users ? "Konkurens használat (userek)" : "Konkurens használat (csoportok)";
    if (result == SD_LOCAL)
        return users ? "Lokális file olvasási hiba (userek) !"
                     : "Lokális file olvasási hiba (csoportok) !";
    return nullptr;
}

EditSession::EditSession(ServerData& data) : m_data(data) {}

EditSession::~EditSession() {
    if (m_open) Abandon();
}

SdResult EditSession::Begin(SdList list, int group) {
    vxClearError();
    if (m_open) {
        vxSetError(22, 2, VX_KIND_LIB, "an edit session is already open");
        return SD_CONCURRENT;
    }
    int rc = SD_SERVER;
    switch (list) {
    case SdList::Users:
        rc = m_data.users.Load(true);
        break;
    case SdList::Groups:
        rc = m_data.groups.Load(true);
        break;
    case SdList::Urls:
        if (group < 0 || group >= m_data.groups.Count()) {
            vxSetError(22, 2, VX_KIND_LIB, "no such group");
            return SD_NOTHING;
        }
        m_data.urls.currentGroup = group;
        rc = m_data.urls.Load(true);
        break;
    }
    m_list = list;
    m_open = rc == SD_DONE;
    if (m_open) Keep();
    return static_cast<SdResult>(rc);
}

void EditSession::MarkModified() {
    if (m_list == SdList::Users) m_data.users.modified = 1;
    if (m_list == SdList::Urls) m_data.urls.modified = 1;
}

SdResult EditSession::Import(const char* fileName) {
    vxClearError();
    if (!m_open) {
        vxSetError(22, 2, VX_KIND_LIB, "no edit session is open");
        return SD_SERVER;
    }
    int rc = m_list == SdList::Users    ? m_data.users.Import(fileName)
             : m_list == SdList::Groups ? m_data.groups.Import(fileName)
                                        : m_data.urls.Import(fileName);
    if (rc >= 0) MarkModified();
    return static_cast<SdResult>(rc);
}

SdResult EditSession::Commit() {
    vxClearError();
    if (!m_open) {
        vxSetError(22, 2, VX_KIND_LIB, "no edit session is open");
        return SD_SERVER;
    }
    int rc = m_list == SdList::Users    ? m_data.users.Save()
             : m_list == SdList::Groups ? CommitGroups()
                                        : m_data.urls.Save();
    if (rc >= 0) {
        m_open = false;
        Drop();
    }
    return static_cast<SdResult>(rc);
}

// A renamed group keeps its members: the user list names groups, so when a group that was
// checked out has another name now, the user list is checked out as well and saved with the new
// names together with the group list (the post-save command then sees both files agree). The
// user list's lock is held only for this save.
int EditSession::CommitGroups() {
    Renames renames;
    for (size_t k = 0; m_kept && k < m_kept->groupAt.size(); k++) {
        const char* was = m_kept->groups[k].name;
        const char* now = m_data.groups.NameOf(m_kept->groupAt[k]);
        if (now[0] && std::strcmp(was, now) != 0) renames.emplace_back(was, now);
    }
    if (renames.empty()) return m_data.groups.Save();
    const ListFile users = UserList::ListFileOf();
    int rc = m_data.lock.Checkout(users.remote, users.local);
    if (rc < 0) return rc;
    if (rc == 0) return m_data.groups.Save(); // no user list: nobody to follow
    std::string content;
    bool changed = false;
    if (!renameInUserList(users.local, renames, content, changed))
        rc = -2;
    else if (changed)
        rc = m_data.groups.Save(&users, content.c_str());
    if (rc < 0 || !changed) {
        SdKeepError keep; // the save's failure is the cause, whatever the release says
        m_data.lock.Release(users.remote, users.local);
    }
    return rc < 0 || changed ? rc : m_data.groups.Save();
}

SdResult EditSession::Abandon() {
    vxClearError();
    if (!m_open) return SD_DONE;
    Restore();
    int rc = m_list == SdList::Users    ? m_data.users.Release()
             : m_list == SdList::Groups ? m_data.groups.Release()
                                        : m_data.urls.Release();
    if (rc < 0) return SD_SERVER;
    m_open = false;
    return SD_DONE;
}

// A failed save may have sorted or rebuilt the tables (a group save renumbers the users), and
// the page's edits are in them: what was checked out is kept so that an abandon can drop both.
void EditSession::Keep() {
    m_kept = std::make_unique<Kept>();
    Kept& k = *m_kept;
    if (m_list != SdList::Urls) {
        k.users = std::make_unique<UserTable>();
        m_data.users.CopyTable(*k.users);
    }
    if (m_list == SdList::Groups) {
        for (int i = 0; i < m_data.groups.Count(); i++) {
            k.groups.push_back(m_data.groups[i]);
            k.groupAt.push_back(i);
        }
        k.urlGroup = m_data.urls.currentGroup;
        k.onRenumber = m_data.groups.onRenumber;
        m_data.groups.onRenumber = [this](const int* newIndex, int oldCount) {
            if (m_kept->onRenumber) m_kept->onRenumber(newIndex, oldCount);
            for (int& at : m_kept->groupAt)
                at = at >= 0 && at < oldCount ? newIndex[at] : -1;
        };
    }
    if (m_list == SdList::Urls)
        for (int i = 0; i < m_data.urls.Count(); i++)
            k.urls.emplace_back(m_data.urls[i]);
}

void EditSession::Restore() {
    if (!m_kept) return;
    const Kept& k = *m_kept;
    if (m_list == SdList::Groups) {
        m_data.groups.Restore(k.groups.data(), static_cast<int>(k.groups.size()));
        m_data.urls.currentGroup = k.urlGroup;
    }
    if (k.users) m_data.users.RestoreTable(*k.users);
    if (m_list == SdList::Urls) m_data.urls.Restore(k.urls);
    Drop(); // once: a later retry of the release leaves the tables alone
}

void EditSession::Drop() {
    if (m_kept && m_kept->onRenumber) m_data.groups.onRenumber = m_kept->onRenumber;
    m_kept.reset();
}
