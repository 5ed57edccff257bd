// What a proxy user or group name may hold: the one rule that the console checks when a name is
// entered and that the server's post-save commands check before they put a name into the proxy
// configuration (a file name, an ACL name and a line of the NCSA password file).
#pragma once

constexpr int VX_NAME_MAX = 255; // bytes of a name (user names; groups have less room)

// Bytes that may not stand anywhere in a name, besides blanks and control characters: path and
// field separators, quotes, shell metacharacters, and what Squid or the list formats read as
// syntax.
constexpr const char* VX_NAME_FORBIDDEN = "/\\\"'`$&|;<>()[]{}*?!#~^%=:,";

// nullptr when the name may be stored, else the reason (English): empty, longer than
// VX_NAME_MAX, beginning with '.' or '-', holding a blank, a control character or one of
// VX_NAME_FORBIDDEN. The reason stays valid until the next call.
const char* vxNameProblem(const char* name);
