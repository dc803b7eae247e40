#include <windows.h>

#include <cerrno>
#include <ctime>

void Sleep(DWORD dwMilliseconds)
{
    timespec remaining{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    // A signal must not cut a pause short.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
