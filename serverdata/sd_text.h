// Text rules of the server's list files: what a field may hold, local file writing that never
// leaves a half-written file, bounded line reading, and parameter lookups with defaults.
#pragma once

#include <cstddef>
#include <cstdio>

#include "serverdata/sd_records.h"

// Why a text may not be stored: the checks below answer with a code, which the data layer and
// orvelanctl turn into the English reason (sdRefusalReason) and the pages into their own texts.
enum class SdRefusal {
    None,             // the text may be stored
    TooLong,          // a field as long as its capacity, or without its end
    Separator,        // ':' in a user field
    Quote,            // a single quote in a user field
    Control,          // a control character or line end in a user field
    Name,             // a name that breaks the name rule (vx_names.h)
    GroupNameTooLong, // a group name longer than its member's room
    KindLength,       // a list kind that is empty or longer than 7 bytes
    KindCharacter,    // a blank, control character or quote in a list kind
    PathEmpty,        // an empty server path
    PathTooLong,      // a server path that leaves no room for the longest command
    PathDash,         // a server path that a command would read as an option
    PathCharacters,   // a blank, quote, control character or shell metacharacter in a path
    UrlEmpty,         // an empty URL
    UrlTooLong,       // a URL longer than a permit file word
    UrlCharacters,    // a blank or control character in a URL
};

// The English reason of a refusal (nullptr for None): what is recorded with vxSetError and what
// orvelanctl prints. `refused` is the text that was refused; the name rule's reason names the
// byte at fault in it.
const char* sdRefusalReason(SdRefusal code, const char* refused);

// A user field: no ':' (field separator), no single quote (the splitters' quote), no control
// character (line ends included), and shorter than its capacity.
SdRefusal sdUserFieldProblem(const char* text, size_t capacity);
// A user name: the name rule (vx_names.h).
SdRefusal sdUserNameProblem(const char* name);
// A whole user record: the name by the name rule, the other fields as above; for a Name refusal
// the record's name is the text refused.
SdRefusal sdUserRecordProblem(const UserRecord& user);
// A group name: at most SD_GROUP_NAME_MAX bytes (its member's room), and the name rule.
SdRefusal sdGroupNameProblem(const char* name);
// A list kind: 1 to 7 word bytes without quotes.
SdRefusal sdKindProblem(const char* kind);
// A path that is sent to a server command line: only bytes that no shell interprets.
SdRefusal sdShellPathProblem(const char* path);
// A URL entry: 1 to 511 bytes (as a permit file word), no blank or control character.
SdRefusal sdUrlProblem(const char* url);

// Records a refusal (code 22, library kind) as "<what>: <reason>" (what cut to 80 bytes) and
// returns `result`.
int sdRefuse(int result, const char* what, const char* reason);
// The same with a check's code as the reason; `refused` is the text the check refused.
int sdRefuse(int result, const char* what, SdRefusal code, const char* refused);

// Writes a local file completely through `write` into "<path>.tmp" (mode: permission bits) and
// renames it over path. write returns false on failure. 0, or -2 with the error recorded.
int sdWriteLocalFile(const char* path, bool (*write)(FILE*, const void*), const void* context,
                     unsigned mode = 0644);

// Records a refusal of line lineNo of a file as "<file>:<line>: <reason>" and returns result.
int sdRefuseLine(int result, const char* fileName, int lineNo, const char* reason);

// Reads one line of at most `size`-1 bytes (its newline included; a last line may lack it) and
// counts it in *lineNo. A line the list formats cannot hold is refused with its number: one with
// a NUL byte, or with a CR that does not end it before its LF (a line ended by CR alone).
// 1 a line; 0 end of file; -1 read error or a line that does not fit (recorded).
int sdReadLine(FILE* in, char* buf, int size, const char* fileName, int* lineNo);

// The parameter's value, or the default when the parameter table has none.
const char* sdParam(const char* key, const char* fallback);

// Server command lines and lock names are formatted into buffers of this size.
constexpr int SD_COMMAND_SIZE = 256;

// Formats "<verb> <remotePath>" into command and, unless lockName is null, "<remotePath>._vx_lck_"
// into lockName (both SD_COMMAND_SIZE bytes). False (recorded) for a path that a shell would read
// as more than a path or that leaves no room for the longest command: nothing is sent then.
bool sdLockCommand(char* command, char* lockName, const char* verb, const char* remotePath);

// Runs a command line on the server with a cleared error record: its result (0 success). A
// command that ran and ended nonzero is recorded as `<what>"<command>" failed with exit status
// N` (code 105); a link failure keeps the remote link's own record.
int sdRunCommand(const char* server, const char* command, const char* what = "");

// Keeps the recorded error across the steps that follow a failure (releasing what was checked
// out, restoring a file), so that the cause a person sees is the failure's own.
class SdKeepError {
  public:
    SdKeepError();
    ~SdKeepError();
    SdKeepError(const SdKeepError&) = delete;
    SdKeepError& operator=(const SdKeepError&) = delete;

  private:
    int m_code, m_severity, m_kind;
    char m_text[256];
};

// Deletes a local file; a missing file is no failure.
void sdRemove(const char* path);

// Byte-wise ascending comparison (unsigned bytes).
inline bool sdLess(const char* a, const char* b);

#include <cstring>
inline bool sdLess(const char* a, const char* b) {
    return std::strcmp(a, b) < 0;
}
