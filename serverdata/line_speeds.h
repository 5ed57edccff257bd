// The line-speed settings file "setup.bin": nine speeds in kilobits per second.
#pragma once

// In file order; stored as 72 bytes of little-endian IEEE 754 doubles, nothing else.
struct LineSpeeds {
    double internetIn, lanIn, intranetIn;
    double internetOut, lanOut, intranetOut;
    double internetTotal, lanTotal, intranetTotal; // incoming plus outgoing, set by the setup page
};
static_assert(sizeof(LineSpeeds) == 72);

// The program's one record (all zero before a file was read): process-wide, as "setup.bin" is
// one file that the Setup page writes and the network page reads.
extern LineSpeeds lineSpeeds;

// Reads "setup.bin" of the working directory: 0 read; 1 missing, unreadable or not exactly 72
// bytes (the record is then unchanged).
int ReadLineSpeeds(LineSpeeds& speeds);

// Writes "setup.bin" whole (temporary file and rename): 0; 1 it could not be written.
int WriteLineSpeeds(const LineSpeeds& speeds);

// Sets the six incoming and outgoing speeds to 128, 10000, 128 (Internet, LAN, intranet); the
// totals stay.
void DefaultLineSpeeds(LineSpeeds& speeds);
