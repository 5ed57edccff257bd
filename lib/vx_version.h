// The release every Orvelan program reports with "--version".
#pragma once

// The release number of this build ("0.1").
const char* vxVersion();

// True when the only argument is "--version": then prints "NAME (Orvelan) RELEASE" on standard
// output, and the caller ends with status 0.
bool vxVersionRequested(const char* name, int argc, char** argv);
