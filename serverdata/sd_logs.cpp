// The log tail: the server's tail program and the fetch of its output.
#include "serverdata/sd_logs.h"

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/sd_host.h"

SdLogResult SdFetchLogTail(const char* logFile, int lines, const char* remoteFile,
                           const char* localPath) {
    const char* host = SdHost();
    if (!host[0]) return SdLogResult::NoHost;
    char command[300];
    if (!vxFormat(command, sizeof command, "%s %s %d", "./vxtail", logFile, lines) ||
        vxRemoteExec(host, command) != 0)
        return SdLogResult::TailFailed;
    if (vxGetRemoteFile(host, remoteFile, localPath) != 0) return SdLogResult::FetchFailed;
    return SdLogResult::Fetched;
}
