// Windows-1250 conversion through iconv ("CP1250"), done once into a 256-entry table.
#include "widgets/cp1250.h"

#include <array>
#include <cstring>
#include <iconv.h>

#include <QHash>

namespace {

struct Cp1250Table {
    std::array<char16_t, 256> toUnicode{};
    QHash<char16_t, unsigned char> fromUnicode;

    Cp1250Table() {
        iconv_t cd = iconv_open("UTF-16LE", "CP1250");
        for (int b = 0; b < 256; ++b) {
            char16_t unit = char16_t(b); // undefined bytes keep their own value
            if (cd != iconv_t(-1)) {
                char in[1] = {char(b)};
                unsigned char outBuf[8]; // one UTF-16 unit (2 bytes) plus room for a BOM
                char* inPtr = in;
                char* outPtr = reinterpret_cast<char*>(outBuf);
                size_t inLeft = 1, outLeft = sizeof outBuf;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) &&
                    sizeof outBuf - outLeft == 2)
                    unit = char16_t(outBuf[0] | (outBuf[1] << 8));
            }
            toUnicode[b] = unit;
            fromUnicode.insert(unit, static_cast<unsigned char>(b));
        }
        if (cd != iconv_t(-1)) iconv_close(cd);
    }
};

const Cp1250Table& table() {
    static const Cp1250Table t;
    return t;
}

} // namespace

QString fromCp1250(std::string_view bytes) {
    const auto& t = table().toUnicode;
    QString s(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar* d = s.data();
    for (size_t i = 0; i < bytes.size(); ++i)
        d[i] = QChar(t[static_cast<unsigned char>(bytes[i])]);
    return s;
}

QString fromCp1250(const char* bytes) {
    return bytes ? fromCp1250(std::string_view(bytes, std::strlen(bytes))) : QString();
}

bool toCp1250(const QString& text, std::string& out, qsizetype* badPos) {
    const auto& map = table().fromUnicode;
    std::string result;
    result.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        auto it = map.constFind(text[i].unicode());
        if (it == map.constEnd()) {
            if (badPos) *badPos = i;
            return false;
        }
        result.push_back(char(it.value()));
    }
    out = std::move(result);
    return true;
}
