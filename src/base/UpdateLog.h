// The update log a production line keeps of one run: a heading, then one line
// per event with the milliseconds since the log was opened. Each line is
// flushed as it is written, so the log survives an unplugged cable or a killed
// process. Every function returns at once when no log is open: the program
// itself never opens one and pays nothing. The modules that log say what
// happened in their own words; this module only writes it.
#ifndef UPDATELOG_H_
#define UPDATELOG_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Bytes of a command or reply shown in a line; the full length follows.
#define UPDATE_LOG_TEXT_LIMIT 200

// Creates the file, which must not exist yet: an earlier log is never written
// over, nor a file reached through a link (see platform/NewFile.h). FALSE when
// it cannot be created; errno says why (EEXIST: something stands there).
BOOL UpdateLog_Open(const char *path);
void UpdateLog_Close(void);
BOOL UpdateLog_IsOpen(void);  // a file, not only an echo
// Whether events are taken at all (a file or an echo): an event that costs
// work to build is built only then.
BOOL UpdateLog_WantsEvents(void);
// Milliseconds since the log was opened; 0 when none is open.
int64_t UpdateLog_Now(void);

// A heading line, without a time.
void UpdateLog_Heading(const char *format, ...);
// One event line: time, a one-word kind, the text.
void UpdateLog_Event(const char *kind, const char *format, ...);
// An event about a call that failed: the text, then ", error N: " and the
// system's words for GetLastError, which is still the same afterwards.
void UpdateLog_Failure(const char *kind, const char *format, ...);
// One event line showing `bytes` escaped and quoted, with their full length
// and an optional note behind it.
void UpdateLog_Bytes(const char *kind, std::string_view bytes, const char *note = nullptr);
// A line of the technician's console.
void UpdateLog_Status(std::string_view text);
// An event line written to the file at once, even while events are routed
// (below): the last words of a run that ends before its console is read to
// the end. Safe from another thread than the one reading the routed stream.
void UpdateLog_LastEvent(const char *kind, std::string_view text);
// An event line as the log writes it, for one `ms` after the log was opened:
// for another program that adds the last words of a run that could not.
std::string UpdateLog_LineAt(int64_t ms, const char *kind, std::string_view text);
// errno of the first line the file did not take whole (a full disk); 0 while
// every line was written. The run goes on either way.
int UpdateLog_WriteError(void);

// Every event line (status lines excepted) also goes to `echo`, as the file
// has it, from now on and whether a file is open or not; null: no longer.
// The times count from this call until a file is opened.
void UpdateLog_EchoTo(void (*echo)(std::string_view line));

// Where events go while the console is captured: each is written to
// `stream` as a zero byte, its kind, a space, its text and "\n", between the
// console text around it (console text never holds a zero byte). Null:
// events go straight to the file.
void UpdateLog_RouteThrough(FILE *stream);
// Takes what was read from that stream, in order, in chunks cut anywhere:
// each piece of console text goes to `text`, and each event to the file with
// the time it arrives, right after `beforeEvent` has written what belongs
// before it. A record cut at the end of `bytes` waits for its rest.
void UpdateLog_ReadRouted(std::string_view bytes, void (*text)(std::string_view piece), void (*beforeEvent)(void));

#endif
