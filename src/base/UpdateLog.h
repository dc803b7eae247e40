// The update log a production line keeps of one run: a heading, then one line
// per event with the milliseconds since the log was opened. Each line is
// flushed as it is written, so the log survives an unplugged cable or a killed
// process. Every function returns at once when no log is open: the program
// itself never opens one and pays nothing.
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

// Creates (or replaces) the file. FALSE when it cannot be created; errno says why.
BOOL UpdateLog_Open(const char *path);
void UpdateLog_Close(void);
BOOL UpdateLog_IsOpen(void);
// Milliseconds since the log was opened; 0 when none is open.
int64_t UpdateLog_Now(void);

// A heading line, without a time.
void UpdateLog_Heading(const char *format, ...);
// One event line: time, a one-word kind, the text.
void UpdateLog_Event(const char *kind, const char *format, ...);
// One event line showing `bytes` escaped and quoted, with their full length
// and an optional note behind it.
void UpdateLog_Bytes(const char *kind, std::string_view bytes, const char *note = nullptr);

// Where events go while the console is captured: each is written to
// `stream` as a zero byte, its kind, a space, its text and "\n", between the
// console text around it (console text never holds a zero byte), and whoever
// reads that stream hands it back with UpdateLog_WriteRouted. Null: events go
// straight to the file.
void UpdateLog_RouteThrough(FILE *stream);
// An event as routed above (without the zero byte and the "\n"), written
// with the time it arrives.
void UpdateLog_WriteRouted(std::string_view record);
// A line of the technician's console.
void UpdateLog_Status(std::string_view text);

// Hooks of the serial module and the command channel.
void UpdateLog_PortLook(int nId, BOOL present);
void UpdateLog_PortOpened(int nId, BOOL opened, DWORD baudRate, BOOL ctsFlow);
void UpdateLog_PortClosed(DWORD baudRate, BOOL ctsFlow);
// A setter changed a value; `applied` is the platform's answer. Without a
// unit the value is a switch, shown as on or off.
void UpdateLog_Setting(const char *name, int value, const char *unit, BOOL applied);
void UpdateLog_CommandSent(std::string_view line, BOOL written);
void UpdateLog_ReplyReceived(std::string_view text, size_t bytesReceived, BOOL cutShort);
void UpdateLog_DataBlock(int bytes, BOOL written, int64_t startedMs);

#endif
