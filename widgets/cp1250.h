// Windows-1250 text at the widget boundary: server bytes to QString for display and back for input.
#pragma once

#include <string>
#include <string_view>

#include <QString>

// Converts Windows-1250 bytes to Unicode. Every byte converts: the five bytes that Windows-1250
// leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98) become the control characters of the same value
// (U+0081 ...), as Windows does, so that text read from the server goes back unchanged.
QString fromCp1250(std::string_view bytes);
QString fromCp1250(const char* bytes); // a NUL-terminated string; nullptr gives an empty string

// Converts Unicode to Windows-1250 bytes into out. Returns false, leaves out untouched and, when
// badPos is given, stores there the index (in UTF-16 units) of the first character that
// Windows-1250 cannot represent (for example "ñ" or "中"); returns true on success.
bool toCp1250(const QString& text, std::string& out, qsizetype* badPos = nullptr);
