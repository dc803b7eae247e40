// While a command talks to a unit, standard output is a pipe, and a reader
// thread hands every byte on to the console, with any byte a unit may have
// put there escaped, and turns the text into status lines while a log is
// open. The log's events travel through the same pipe (see
// UpdateLog_RouteThrough), so the one reader writes the whole log in the
// order things happened; the log module takes the events out of what it
// reads.
#include "console/ToolConsole.h"

#include "console/StatusLines.h"
#include "platform/ConsolePipe.h"

#include "base/EscapedBytes.h"
#include "base/ProgramState.h"
#include "base/UpdateLog.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include <unistd.h>

namespace {

std::atomic<int> g_realStdout{-1};
// Where the reader hands the console text on to.
std::atomic<int> g_console{-1};
std::thread g_reader;
// The console of the last capture is standard error (a run with --json).
std::atomic<bool> g_toStandardError{false};
// The standard output kept for the JSON object; -1: not kept.
int g_jsonOutput = -1;
std::atomic<bool> g_jsonPrinted{false};
std::string g_whyNot;  // why the last capture could not be set up

ConsoleDetail g_detail = ConsoleDetail::Normal;
ProgressStyle g_progress = ProgressStyle::ByConsole;
// What the capture in progress shows of the text: nothing, the text as it
// is drawn, or its finished lines.
enum class Showing { Nothing, Drawn, Lines };
std::atomic<Showing> g_showing{Showing::Drawn};
// The last line of shown text, for -q.
bool g_keepLastLine = false;
std::string g_lastLine;
// Drawn text left the console's cursor within a line.
std::atomic<bool> g_midLine{false};

void writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const int n = static_cast<int>(write(fd, bytes.data(), static_cast<unsigned>(bytes.size())));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

// The updater's word for a step the unit did not go along with.
const char *const FAILED_WORD = "FAILED";
// The last console line that held it, from that word on; read once the
// reader has ended.
std::string g_lastFailed;

// A finished line (or a new tenth of one): the log's status line, and the
// console's line when a pipe or a file takes the console text.
void logStatus(const std::string &line)
{
    if (line.find(FAILED_WORD) != std::string::npos) {
        g_lastFailed = line.substr(line.find(FAILED_WORD));
    }
    if (line.empty()) {
        return;
    }
    UpdateLog_Status(line);
    if (g_showing == Showing::Lines) {
        writeAll(g_console, line + "\n");
    }
    if (g_keepLastLine) {
        g_lastLine = line;
    }
}

// The updater's own texts hold printable ASCII, "\r", "\n" and "\b" only;
// anything else came from a unit (a model word, a reply) and must not reach
// a terminal or the log as it is.
bool isConsoleByte(char c)
{
    return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\b';
}

std::string consoleText(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        shown += isConsoleByte(c) ? std::string(1, c) : escapedBytes(std::string_view(&c, 1));
    }
    return shown;
}

// Console text: on to the console at once, and into status lines.
void passText(std::string_view raw)
{
    const std::string text = consoleText(raw);
    if (g_showing == Showing::Drawn && !text.empty()) {
        writeAll(g_console, text);
        g_midLine = text.back() != '\n';
    }
    for (const std::string &line : statusLines_feed(text)) {
        logStatus(line);
    }
}

// An event is about to be logged: the label it belongs to goes first.
void passLabel(void)
{
    logStatus(statusLines_pending());
}

void forward(int pipeEnd)
{
    char buffer[4096];
    for (;;) {
        const int n = static_cast<int>(read(pipeEnd, buffer, sizeof buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        UpdateLog_ReadRouted(std::string_view(buffer, static_cast<size_t>(n)), passText, passLabel);
    }
    logStatus(statusLines_finish());
    close(pipeEnd);
}

bool isTerminal(int fd)
{
    return g_progress == ProgressStyle::ByConsole ? isatty(fd) != 0 : g_progress == ProgressStyle::Drawn;
}

Showing showingFor(ConsoleText text, int console)
{
    const bool shown =
        text == ConsoleText::Shown ? g_detail != ConsoleDetail::Quiet : g_detail == ConsoleDetail::Verbose;
    if (!shown) {
        return Showing::Nothing;
    }
    return isTerminal(console) ? Showing::Drawn : Showing::Lines;
}

// An event line of -v, on a line of its own.
void echoEvent(std::string_view line)
{
    toolConsole_tell(std::string(g_midLine.exchange(false) ? "\n" : "") + std::string(line) + "\n");
}

// Standard output becomes the pipe the reader takes everything from.
bool startReader(int console)
{
    int ends[2];
    if (!consolePipe_create(ends)) {
        return false;
    }
    if (dup2(ends[1], 1) < 0) {
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    close(ends[1]);
    statusLines_reset();
    UpdateLog_RouteThrough(stdout);
    g_console = console;
    g_reader = std::thread(forward, ends[0]);
    return true;
}

}  // namespace

void toolConsole_setDetail(ConsoleDetail detail)
{
    g_detail = detail;
    UpdateLog_EchoTo(detail == ConsoleDetail::Verbose ? echoEvent : nullptr);
}

void toolConsole_setProgress(ProgressStyle style)
{
    g_progress = style;
}

bool toolConsole_begin(bool toStandardError, ConsoleText text)
{
    fflush(stdout);
    // Nobody may have to press a key for a tool command to end.
    setKeyWaitBeforeExit(FALSE);
    if (toStandardError) {
        consolePipe_binaryOutput(2);
    }
    g_toStandardError = toStandardError;
    g_lastFailed.clear();
    g_realStdout = dup(1);
    if (g_realStdout < 0) {
        g_whyNot = strerror(errno);
        return false;
    }
    const int console = toStandardError ? 2 : g_realStdout.load();
    g_showing = showingFor(text, console);
    g_keepLastLine = text == ConsoleText::Shown && g_detail == ConsoleDetail::Quiet;
    g_lastLine.clear();
    g_midLine = false;
    const bool ready = startReader(console);
    if (!ready) {
        g_whyNot = strerror(errno);
        close(g_realStdout);
        g_realStdout = -1;
    }
    return ready;
}

std::string toolConsole_whyNot(void)
{
    return "the console cannot be captured: " + g_whyNot;
}

void toolConsole_end(void)
{
    if (g_realStdout < 0) {
        return;
    }
    fflush(stdout);
    // The real standard output back in place closes the pipe's last writing
    // end: the reader sees its end once it has passed everything on.
    UpdateLog_RouteThrough(nullptr);
    dup2(g_realStdout, 1);
    if (g_reader.joinable()) {
        g_reader.join();
    }
    if (g_keepLastLine && !g_lastLine.empty()) {
        writeAll(g_console, g_lastLine + "\n");
    }
    if (g_midLine.exchange(false)) {
        writeAll(g_console, "\n");
    }
    close(g_realStdout);
    g_realStdout = -1;
    setKeyWaitBeforeExit(TRUE);
}

std::string toolConsole_lastFailedLine(void)
{
    return g_lastFailed;
}

void toolConsole_tell(std::string_view text)
{
    const int captured = g_realStdout >= 0 ? g_console.load() : -1;
    writeAll(captured >= 0 ? captured : g_toStandardError ? 2 : 1, text);
}

bool toolConsole_keepOutputForJson(void)
{
    fflush(stdout);
    consolePipe_binaryOutput(2);
    g_jsonOutput = dup(1);
    if (g_jsonOutput < 0) {
        return false;
    }
    consolePipe_notInherited(g_jsonOutput);
    return dup2(2, 1) >= 0;
}

void toolConsole_printJson(const std::string &json)
{
    const int realStdout = g_realStdout;
    const int out = g_jsonOutput >= 0 ? g_jsonOutput : realStdout >= 0 ? realStdout : 1;
    writeAll(out, json + "\n");
    g_jsonPrinted = true;
}

bool toolConsole_jsonPrinted(void)
{
    return g_jsonPrinted;
}
