// orvelanctl's output channel: usage errors, the data layer's results with their exit statuses,
// and server bytes on standard output (converted to UTF-8 when asked).
#include <cstdio>
#include <iconv.h>
#include <string>

#include "lib/vx_err.h"
#include "serverdata/edit_session.h"
#include "serverdata/server_data.h"
#include "tools/ctl.h"

namespace ctl {

bool g_utf8 = false;

int usage(const char* why) {
    fprintf(stderr, "orvelanctl: %s\nTry 'orvelanctl --help'.\n", why);
    return EXIT_USAGE;
}

int report(int result) {
    if (result == SD_DONE || result == SD_NOTHING) {
        puts(SdResultText(result));
        return EXIT_OK;
    }
    fprintf(stderr, "%s\n", SdResultText(result));
    if (vxLastError().code != 0) fprintf(stderr, "  %s\n", vxLastError().text);
    return result < 0 && result >= SD_MALFORMED ? -result : EXIT_SERVER;
}

void emit(const char* bytes, size_t size) {
    if (!g_utf8) {
        fwrite(bytes, 1, size, stdout);
        return;
    }
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    std::string out(size * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes);
    char* o = out.data();
    size_t inLeft = size, outLeft = out.size();
    if (cd == reinterpret_cast<iconv_t>(-1) ||
        iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
        fwrite(bytes, 1, size, stdout);
    } else {
        fwrite(out.data(), 1, out.size() - outLeft, stdout);
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

void emitLine(const std::string& line) {
    emit(line.data(), line.size());
    emit("\n", 1);
}

bool emitFile(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    emit(text.data(), text.size());
    return true;
}

} // namespace ctl
