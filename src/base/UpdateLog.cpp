#include "base/UpdateLog.h"

#include "base/ErrorText.h"
#include "base/EscapedBytes.h"

#include <chrono>
#include <cstdarg>

namespace {

FILE *g_logFile = nullptr;
FILE *g_routeStream = nullptr;
std::chrono::steady_clock::time_point g_start;
int g_portInUse = 0;

constexpr size_t LINE_SIZE = 1024;

std::string formatted(const char *format, va_list arguments)
{
    char text[LINE_SIZE];
    vsnprintf(text, sizeof text, format, arguments);
    return text;
}

void writeToFile(std::string_view line)
{
    fwrite(line.data(), 1, line.size(), g_logFile);
    fputc('\n', g_logFile);
    fflush(g_logFile);
}

// The time of the line is the time it is written.
std::string stampedLine(const char *kind, std::string_view text)
{
    char head[48];
    snprintf(head, sizeof head, "%8lld ms  %-7s ", static_cast<long long>(UpdateLog_Now()), kind);
    return head + std::string(text);
}

void writeEvent(const char *kind, std::string_view text)
{
    if (g_routeStream == nullptr) {
        writeToFile(stampedLine(kind, text));
        return;
    }
    // Whoever reads the stream hands the event back, in order with the
    // console text around it, and it gets its time then.
    const std::string record = std::string(1, '\0') + kind + " " + std::string(text) + "\n";
    fwrite(record.data(), 1, record.size(), g_routeStream);
    fflush(g_routeStream);
}

// An event about a failed call: the text, then the reason. Writing the log
// must not lose that reason for the caller.
void writeFailure(const char *kind, const std::string &text)
{
    const DWORD code = GetLastError();
    writeEvent(kind, text + ", error " + std::to_string(code) + ": " + ErrorText_Of(code));
    if (GetLastError() != code) {
        SetLastError(code);
    }
}

std::string lineSettings(DWORD baudRate, BOOL ctsFlow)
{
    return "at " + std::to_string(baudRate) + " baud, CTS flow control " + (ctsFlow ? "on" : "off");
}

}  // namespace

BOOL UpdateLog_Open(const char *path)
{
    UpdateLog_Close();
    g_logFile = fopen(path, "wb");
    g_start = std::chrono::steady_clock::now();
    g_portInUse = 0;
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

int64_t UpdateLog_Now(void)
{
    if (g_logFile == nullptr) {
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
    if (g_logFile == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    writeEvent(kind, text);
}

void UpdateLog_Bytes(const char *kind, std::string_view bytes, const char *note)
{
    if (g_logFile == nullptr) {
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

void UpdateLog_RouteThrough(FILE *stream)
{
    g_routeStream = stream;
}

void UpdateLog_WriteRouted(std::string_view record)
{
    if (g_logFile == nullptr) {
        return;
    }
    const size_t space = record.find(' ');
    const std::string kind(record.substr(0, space));
    const std::string_view text = space == std::string_view::npos ? "" : record.substr(space + 1);
    writeToFile(stampedLine(kind.c_str(), text));
}

void UpdateLog_Status(std::string_view text)
{
    if (g_logFile == nullptr) {
        return;
    }
    writeToFile(stampedLine("status", text));
}

void UpdateLog_PortLook(int nId, BOOL present)
{
    if (g_logFile == nullptr) {
        return;
    }
    const std::string port = "COM" + std::to_string(nId);
    if (present) {
        writeEvent("look", port + " present");
    } else {
        writeFailure("look", port + " cannot be opened");
    }
}

void UpdateLog_PortOpened(int nId, BOOL opened, DWORD baudRate, BOOL ctsFlow)
{
    if (g_logFile == nullptr) {
        return;
    }
    const std::string port = "COM" + std::to_string(nId);
    if (opened) {
        g_portInUse = nId;
        writeEvent("open", port + " " + lineSettings(baudRate, ctsFlow));
    } else {
        writeFailure("open", port + " failed " + lineSettings(baudRate, ctsFlow));
    }
}

void UpdateLog_PortClosed(DWORD baudRate, BOOL ctsFlow)
{
    if (g_logFile == nullptr) {
        return;
    }
    writeEvent("close", "COM" + std::to_string(g_portInUse) + " " + lineSettings(baudRate, ctsFlow));
    g_portInUse = 0;
}

void UpdateLog_Setting(const char *name, int value, const char *unit, BOOL applied)
{
    if (g_logFile == nullptr) {
        return;
    }
    // With no port open a setter only stages its value for the next open.
    const char *outcome = g_portInUse == 0 ? " (staged)" : applied ? "" : " (refused)";
    if (unit == nullptr) {
        UpdateLog_Event("set", "%s %s%s", name, value != 0 ? "on" : "off", outcome);
    } else {
        UpdateLog_Event("set", "%s %d%s%s", name, value, unit, outcome);
    }
}

void UpdateLog_CommandSent(std::string_view line, BOOL written)
{
    UpdateLog_Bytes("sent", line, written ? nullptr : "write FAILED");
}

void UpdateLog_ReplyReceived(std::string_view text, size_t bytesReceived, BOOL cutShort)
{
    if (g_logFile == nullptr) {
        return;
    }
    std::string note;
    if (bytesReceived != text.size()) {
        note = std::to_string(bytesReceived) + " bytes on the line";
    }
    if (cutShort) {
        note += note.empty() ? "cut short" : ", cut short";
    }
    UpdateLog_Bytes("reply", text, note.empty() ? nullptr : note.c_str());
}

void UpdateLog_DataBlock(int bytes, BOOL written, int64_t startedMs)
{
    if (g_logFile == nullptr) {
        return;
    }
    const long long duration = static_cast<long long>(UpdateLog_Now() - startedMs);
    UpdateLog_Event("data", "%d bytes in %lld ms%s", bytes, duration, written ? "" : ", write FAILED");
}
