// orvelanctl's one-shot remote commands: a command line run on the server, file transfers, the
// pings and the interface counters.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"
#include "tools/ctl.h"

namespace ctl {

int cmdExec(int argc, char** argv) {
    if (argc < 1) return usage("exec needs a command line");
    std::string line;
    for (int i = 0; i < argc; ++i)
        line += (i ? " " : "") + std::string(argv[i]);
    int rc = vxRemoteExec(serverData.session.host, line.c_str());
    printf("%d\n", rc);
    if (rc == -1 && vxLastError().code != 0) fprintf(stderr, "%s\n", vxLastError().text);
    return rc == 0 ? EXIT_OK : EXIT_REFUSED;
}

int cmdTransfer(bool fetch, int argc, char** argv) {
    if (argc != 2) return usage(fetch ? "get needs REMOTE LOCAL" : "put needs LOCAL REMOTE");
    int rc = fetch ? vxGetRemoteFile(serverData.session.host, argv[0], argv[1])
                   : vxPutRemoteFile(serverData.session.host, argv[0], argv[1]);
    if (rc == 0) return EXIT_OK;
    fprintf(stderr, "%s (%d)\n", vxLastError().text, rc);
    return rc == -1 ? EXIT_SERVER : EXIT_REFUSED;
}

int cmdPing(int argc, char** argv) {
    int count = argc > 0 ? atoi(argv[0]) : 1;
    if (count < 1 || count > 1000) return usage("ping COUNT must be 1 to 1000");
    int lost = fnPing(serverData.session.host, stdout, count);
    if (lost < 0) fprintf(stderr, "%s\n", vxLastError().text);
    return lost == 0 ? EXIT_OK : lost < 0 ? EXIT_SERVER : EXIT_REFUSED;
}

int cmdRemotePing(int argc, char** argv) {
    if (argc != 1) return usage("remote-ping needs TARGET");
    if (vxRemotePing(serverData.session.host, argv[0], "ping.txt") != 0) {
        fprintf(stderr, "Hiba a proxy szerveren !\n  %s\n", vxLastError().text);
        return EXIT_SERVER;
    }
    emitFile("ping.txt");
    return EXIT_OK;
}

int cmdCounters() {
    char text[VX_STRING_MAX + 1] = {};
    vxClearError();
    vxNetCounters(serverData.session.host, text, sizeof text);
    if (vxLastError().code != 0) {
        fprintf(stderr, "Hiba a proxy szerveren !\n  %s\n", vxLastError().text);
        return EXIT_SERVER;
    }
    printf("%s\n", text);
    return EXIT_OK;
}

} // namespace ctl
