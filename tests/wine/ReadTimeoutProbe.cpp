// Measures, on Windows (or Wine), how long the serial module's reads take:
//   ReadTimeoutProbe.exe PORT
// PORT leads to a silent peer, or to an emulated unit at 9600 baud that
// answers the probe command. The port is opened and set up by the program's
// own serial module; the read windows are timed with QueryPerformanceCounter.
// Exit status 0 when every window held to within 100 ms.
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr double TOLERANCE_MS = 100.0;

double elapsedMs(const LARGE_INTEGER &from, const LARGE_INTEGER &to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One read of up to `size` bytes in the current window; its duration in ms.
double timedRead(char *buffer, int size, int *count)
{
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    ComPortAPI_ReadCOM(buffer, size, count);
    QueryPerformanceCounter(&end);
    return elapsedMs(start, end);
}

bool within(double measured, double expected)
{
    return measured >= expected - TOLERANCE_MS && measured <= expected + TOLERANCE_MS;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        fputs("usage: ReadTimeoutProbe PORT\n", stderr);
        return 2;
    }
    const int port = atoi(argv[1]);
    ComPortAPI_SetHardwareFlowControl(FALSE);
    if (!ComPortAPI_OpenCOM(port)) {
        printf("\nopen of COM%d failed\n", port);
        return 2;
    }
    bool held = true;
    static char buffer[4096];

    // Silence: the whole window, then nothing.
    for (const int window : {500, 1000}) {
        ComPortAPI_SetReadingTimeoutInMs(window);
        for (int attempt = 0; attempt < 2; ++attempt) {
            int count = -1;
            const double ms = timedRead(buffer, sizeof buffer, &count);
            const bool ok = count == 0 && within(ms, window);
            printf("silence, window %4d ms: %7.1f ms, %d bytes%s\n", window, ms, count, ok ? "" : "  <-- off");
            held = held && ok;
        }
    }

    // A reply arriving early in the window: the read still lasts the window,
    // which is how the program's exchanges are paced.
    ComPortAPI_SetReadingTimeoutInMs(500);
    const char probe[] = "%%%" PROBE_COMMAND "\n\r";
    int written = 0;
    ComPortAPI_WriteCOM(const_cast<char *>(probe), static_cast<int>(strlen(probe)), &written);
    int count = 0;
    const double ms = timedRead(buffer, sizeof buffer, &count);
    const bool replyOk = count > 0 && within(ms, 500);
    printf("reply, window  500 ms: %7.1f ms, %d bytes%s\n", ms, count, replyOk ? "" : "  <-- off");
    held = held && replyOk;

    // Whether a second exclusive open of the held port is refused.
    const HANDLE second = ComPortAPI_OpenDevice(port);
    printf("second open while held: %s\n", second == INVALID_HANDLE_VALUE ? "refused" : "allowed");
    if (second != INVALID_HANDLE_VALUE) {
        CloseHandle(second);
    }
    ComPortAPI_CloseCOM();
    return held ? 0 : 1;
}
