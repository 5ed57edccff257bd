// A permit-list URL as a client sends it: the lists hold Windows-1250 text, while browsers send
// an international host name in its IDNA ("xn--") form and the rest of a URL percent-encoded as
// UTF-8. The generated Squid patterns are written in that form, so that they can match.
#pragma once

#include <string>

// The Windows-1250 text as UTF-8 (the five unassigned bytes as the code points of their values).
std::string vxdCp1250ToUtf8(const std::string& text);

// The client form of a permit-list entry: an optional "scheme://", then the host (up to the first
// '/', ':', '?' or '#') in its IDNA form, and every byte of the rest outside ASCII as %XX of its
// UTF-8. An ASCII entry is returned as it is. false, with *error saying why, when the host is no
// valid international domain name.
bool vxdClientUrl(const std::string& entry, std::string* out, std::string* error);
