#include "base/UpdateLog.h"

#include "base/ErrorText.h"
#include "base/EscapedBytes.h"
#include "platform/NewFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>

namespace {

FILE *g_logFile = nullptr;
FILE *g_routeStream = nullptr;
void (*g_echo)(std::string_view line) = nullptr;
std::chrono::steady_clock::time_point g_start;
// The routed stream's record in progress, when a chunk ended inside one.
std::string g_record;
bool g_inRecord = false;
// errno of the first line the file did not take; read by the tool at the end
// of a run, and by the thread that ends an interrupted one.
std::atomic<int> g_writeError{0};

constexpr size_t LINE_SIZE = 1024;

// Whether events are wanted at all: by a file or an echo.
bool active(void)
{
    return g_logFile != nullptr || g_echo != nullptr;
}

std::string formatted(const char *format, va_list arguments)
{
    char text[LINE_SIZE];
    vsnprintf(text, sizeof text, format, arguments);
    return text;
}

// One write per line: a line written from another thread (the verdict of an
// interrupted run) never lands inside it.
void writeToFile(std::string_view line)
{
    if (g_logFile == nullptr) {
        return;
    }
    const std::string whole = std::string(line) + "\n";
    errno = 0;
    const bool written = fwrite(whole.data(), 1, whole.size(), g_logFile) == whole.size();
    if ((fflush(g_logFile) != 0 || !written) && g_writeError == 0) {
        g_writeError = errno != 0 ? errno : EIO;
    }
}

// The time of the line is the time it is written.
std::string stampedLine(const char *kind, std::string_view text)
{
    return UpdateLog_LineAt(UpdateLog_Now(), kind, text);
}

void writeStamped(const char *kind, std::string_view text)
{
    const std::string line = stampedLine(kind, text);
    writeToFile(line);
    if (g_echo != nullptr && strcmp(kind, "status") != 0) {
        g_echo(line);
    }
}

void writeEvent(const char *kind, std::string_view text)
{
    if (g_routeStream == nullptr) {
        writeStamped(kind, text);
        return;
    }
    // Whoever reads the stream hands the event back, in order with the
    // console text around it, and it gets its time then.
    const std::string record = std::string(1, '\0') + kind + " " + std::string(text) + "\n";
    fwrite(record.data(), 1, record.size(), g_routeStream);
    fflush(g_routeStream);
}

// An event as routed (without its zero byte and "\n").
void writeRouted(std::string_view record)
{
    if (!active()) {
        return;
    }
    const size_t space = record.find(' ');
    const std::string kind(record.substr(0, space));
    const std::string_view text = space == std::string_view::npos ? "" : record.substr(space + 1);
    writeStamped(kind.c_str(), text);
}

}  // namespace

BOOL UpdateLog_Open(const char *path)
{
    UpdateLog_Close();
    g_logFile = NewFile_Open(path);
    g_start = std::chrono::steady_clock::now();
    g_record.clear();
    g_inRecord = false;
    g_writeError = 0;
    return g_logFile != nullptr ? TRUE : FALSE;
}

void UpdateLog_Close(void)
{
    if (g_logFile != nullptr) {
        fclose(g_logFile);
        g_logFile = nullptr;
    }
    g_routeStream = nullptr;
}

BOOL UpdateLog_IsOpen(void)
{
    return g_logFile != nullptr ? TRUE : FALSE;
}

BOOL UpdateLog_WantsEvents(void)
{
    return active() ? TRUE : FALSE;
}

int64_t UpdateLog_Now(void)
{
    if (!active()) {
        return 0;
    }
    const auto elapsed = std::chrono::steady_clock::now() - g_start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

void UpdateLog_Heading(const char *format, ...)
{
    if (g_logFile == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    writeToFile(formatted(format, arguments));
    va_end(arguments);
}

void UpdateLog_Event(const char *kind, const char *format, ...)
{
    if (!active()) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    writeEvent(kind, text);
}

void UpdateLog_LastEvent(const char *kind, std::string_view text)
{
    if (!active()) {
        return;
    }
    writeStamped(kind, text);
}

std::string UpdateLog_LineAt(int64_t ms, const char *kind, std::string_view text)
{
    char head[48];
    snprintf(head, sizeof head, "%8lld ms  %-7s ", static_cast<long long>(ms), kind);
    return head + std::string(text);
}

int UpdateLog_WriteError(void)
{
    return g_writeError;
}

// Writing the log must not lose the reason of the failure for the caller.
void UpdateLog_Failure(const char *kind, const char *format, ...)
{
    if (!active()) {
        return;
    }
    const DWORD code = GetLastError();
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    writeEvent(kind, text + ", error " + std::to_string(code) + ": " + ErrorText_Of(code));
    if (GetLastError() != code) {
        SetLastError(code);
    }
}

void UpdateLog_Bytes(const char *kind, std::string_view bytes, const char *note)
{
    if (!active()) {
        return;
    }
    std::string text = "\"" + escapedBytes(bytes, UPDATE_LOG_TEXT_LIMIT) + "\"";
    if (bytes.size() > UPDATE_LOG_TEXT_LIMIT) {
        text += "...";
    }
    text += " (" + std::to_string(bytes.size()) + " bytes)";
    if (note != nullptr) {
        text += std::string(" ") + note;
    }
    writeEvent(kind, text);
}

void UpdateLog_EchoTo(void (*echo)(std::string_view line))
{
    if (echo != nullptr && g_logFile == nullptr) {
        g_start = std::chrono::steady_clock::now();
    }
    g_echo = echo;
}

void UpdateLog_RouteThrough(FILE *stream)
{
    g_routeStream = stream;
}

void UpdateLog_Status(std::string_view text)
{
    UpdateLog_LastEvent("status", text);
}

void UpdateLog_ReadRouted(std::string_view bytes, void (*text)(std::string_view piece), void (*beforeEvent)(void))
{
    while (!bytes.empty()) {
        const size_t end = bytes.find(g_inRecord ? '\n' : '\0');
        const std::string_view piece = bytes.substr(0, end);
        if (g_inRecord) {
            g_record.append(piece);
        } else if (!piece.empty()) {
            text(piece);
        }
        if (end == std::string_view::npos) {
            return;
        }
        if (g_inRecord) {
            beforeEvent();
            writeRouted(g_record);
            g_record.clear();
        }
        g_inRecord = !g_inRecord;
        bytes.remove_prefix(end + 1);
    }
}
