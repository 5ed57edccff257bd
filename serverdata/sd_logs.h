// The server's logs for the log pages: the tail program runs on the server and its output is
// fetched into a local file.
#pragma once

enum class SdLogResult {
    Fetched,     // the local file holds the tail
    NoHost,      // the console has no server
    TailFailed,  // the tail program could not run (or the log cannot be read)
    FetchFailed, // the tail's output could not be fetched
};

// Runs "./vxtail LOGFILE LINES" on the server, which leaves the last lines of the log in
// remoteFile of its working directory, and fetches that into localPath.
SdLogResult SdFetchLogTail(const char* logFile, int lines, const char* remoteFile,
                           const char* localPath);
