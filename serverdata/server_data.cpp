// The process-wide data layer object: its parts wired together, reset and released as one.
#include "serverdata/server_data.h"

#include <cstring>

#include "lib/vx_err.h"
#include "serverdata/sd_text.h"

ServerData serverData;

ServerData::ServerData() : session{} {
    groups.onRenumber = [this](const int* newIndex, int oldCount) {
        users.RenumberGroups(newIndex, oldCount);
        urls.RenumberGroups(newIndex, oldCount);
    };
}

void ServerData::Reset() {
    session = SdSession{};
    groups.Clear();
    users.Clear();
    users.modified = 0;
    urls.Reset();
}

int ServerData::ReleaseAll() {
    // Each step runs whatever an earlier one gave; the first failure's cause stays recorded.
    int result = users.Release();
    auto step = [&result](auto run) {
        if (result < 0) {
            SdKeepError keep;
            run();
        } else if (run() < 0) {
            result = -1;
        }
    };
    step([this] { return groups.Release(); });
    step([this] { return groups.Count() == 0 && groups.Load(false) < 0 ? -1 : urls.Release(); });
    return result < 0 ? -1 : 0;
}
