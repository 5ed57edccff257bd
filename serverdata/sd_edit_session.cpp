// The edit session of a server list and the status texts of the data layer's results.
#include "lib/vx_err.h"
#include "serverdata/edit_session.h"

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
             : m_list == SdList::Groups ? m_data.groups.Save()
                                        : m_data.urls.Save();
    if (rc >= 0) m_open = false;
    return static_cast<SdResult>(rc);
}

SdResult EditSession::Abandon() {
    vxClearError();
    if (!m_open) return SD_DONE;
    int rc = m_list == SdList::Users    ? m_data.users.Release()
             : m_list == SdList::Groups ? m_data.groups.Release()
                                        : m_data.urls.Release();
    if (rc < 0) return SD_SERVER;
    m_open = false;
    return SD_DONE;
}
