// While a log is open, standard output is a pipe, and a reader thread hands
// every byte on to the console and turns the text into status lines. The
// log's events travel through the same pipe (see UpdateLog_RouteThrough), so
// the one reader writes the whole log in the order things happened; the log
// module takes the events out of what it reads.
#include "console/ToolConsole.h"

#include "console/StatusLines.h"
#include "platform/ConsolePipe.h"

#include "base/UpdateLog.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include <unistd.h>

namespace {

int g_realStdout = -1;
// Where the reader hands the console text on to.
int g_console = -1;
std::thread g_reader;

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

void logStatus(const std::string &line)
{
    if (!line.empty()) {
        UpdateLog_Status(line);
    }
}

// Console text: on to the console at once, and into status lines.
void passText(std::string_view text)
{
    writeAll(g_console, text);
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

bool toolConsole_begin(bool toStandardError)
{
    fflush(stdout);
    if (toStandardError) {
        consolePipe_binaryOutput(2);
    }
    g_realStdout = dup(1);
    if (g_realStdout < 0) {
        return false;
    }
    const bool ready =
        UpdateLog_IsOpen() ? startReader(toStandardError ? 2 : g_realStdout) : !toStandardError || dup2(2, 1) >= 0;
    if (!ready) {
        close(g_realStdout);
        g_realStdout = -1;
    }
    return ready;
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
    close(g_realStdout);
    g_realStdout = -1;
}
