// Serial operations of the POSIX platform: \\.\COMn over termios, with the
// exclusive open, the read time-outs and the complete writes the updater
// relies on from Windows.
#include <windows.h>

#include "platform/subset/LastError.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Port {
    int fd;
    COMMTIMEOUTS timeouts;
};

// Handles are ids that are never reused, never fds: the program keeps its
// handle after closing it, and a stale one must not reach an fd that a later
// open was given. The program drives its port from one thread.
std::map<std::uintptr_t, Port> g_ports;
std::uintptr_t g_lastId = 0;

Port *findPort(HANDLE h)
{
    const auto found = g_ports.find(reinterpret_cast<std::uintptr_t>(h));
    return found == g_ports.end() ? nullptr : &found->second;
}

// The n of "\\.\COMn" in decimal without leading zeros, or 0 for any other
// path. Large enough numbers stay below what the path buffers allow.
unsigned long portNumber(const char *path)
{
    static const char prefix[] = "\\\\.\\COM";
    if (path == nullptr || std::strncmp(path, prefix, sizeof prefix - 1) != 0) {
        return 0;
    }
    const char *digits = path + sizeof prefix - 1;
    if (*digits < '1' || *digits > '9') {
        return 0;
    }
    unsigned long n = 0;
    for (const char *c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || n > 99999999UL) {
            return 0;
        }
        n = n * 10 + static_cast<unsigned long>(*c - '0');
    }
    return n;
}

// dosdevices/comN in the current folder shadows the machine's own port, even
// as a link to nothing, which then stands for an absent port.
bool devicePath(unsigned long n, char *out, std::size_t size)
{
    char local[32];
    std::snprintf(local, sizeof local, "dosdevices/com%lu", n);
    struct stat entry {};
    const int length = lstat(local, &entry) == 0 ? std::snprintf(out, size, "%s", local)
                                                  : std::snprintf(out, size, "/dev/ttyS%lu", n - 1);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

void releaseAndClose(int fd)
{
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

// The Win32 reason for an open that failed with `error`, the system's own
// words kept with it; -1 for the caller to return.
int failOpen(int error)
{
    DWORD code = ERROR_GEN_FAILURE;
    switch (error) {
    case ENOENT: case ENXIO: case ENODEV: case ENOTDIR: case ELOOP: case ENOTTY: code = ERROR_FILE_NOT_FOUND; break;
    case EACCES: case EPERM: case EROFS: code = ERROR_ACCESS_DENIED; break;
    case EBUSY: case EWOULDBLOCK: code = ERROR_SHARING_VIOLATION; break;
    default: break;
    }
    // A lock held elsewhere reads better as the port being busy.
    subset_setLastError(code, strerror(error == EWOULDBLOCK ? EBUSY : error));
    return -1;
}

// Opens a tty for this process alone, in raw 8-bit mode; -1 on any failure,
// with its reason recorded.
int openExclusive(const char *path)
{
    // Non-blocking, so a modem line without carrier cannot hold the open.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return failOpen(errno);
    }
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0) {
        const int error = isatty(fd) ? errno : ENOTTY;
        close(fd);
        return failOpen(error);
    }
    // TIOCEXCL does not stop root; the lock does, and also a second handle of
    // ours. Losing it means someone else holds the port: leave their
    // exclusive mode alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return failOpen(error);
    }
    termios line{};
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || tcgetattr(fd, &line) != 0) {
        const int error = errno;
        releaseAndClose(fd);
        return failOpen(error);
    }
    cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        const int error = errno;
        releaseAndClose(fd);
        return failOpen(error);
    }
    return fd;
}

// Only rates with a termios constant: an arbitrary rate would need
// calls that differ from driver to driver, and the unit speaks the standard ones.
bool speedOf(DWORD rate, speed_t *speed)
{
    static const struct {
        DWORD rate;
        speed_t speed;
    } rates[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B921600
        {921600, B921600},
#endif
    };
    for (const auto &entry : rates) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

// An interval this long is Windows' way of saying "no interval".
constexpr DWORD kNoInterval = 0xFFFFFFFFu;

constexpr std::int64_t kNsPerMs = 1000000;

// In nanoseconds: whole milliseconds would let a window end up to 1 ms early.
std::int64_t nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 * kNsPerMs + now.tv_nsec;
}

constexpr int kInterrupted = -2;

// Waits for one event on fd at most timeoutMs (-1: no limit); the revents,
// 0 on time-out, -1 on failure, kInterrupted when a signal came first: the
// caller retries with what is left of its time, not the whole of it again.
int waitFor(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready < 0) {
        return errno == EINTR ? kInterrupted : -1;
    }
    return ready == 0 ? 0 : entry.revents;
}

// The port behind a transfer's handle, or nullptr when the call cannot be
// served: unknown handle, overlapped I/O, or no buffer for a non-empty count.
const Port *transferPort(HANDLE h, const void *buffer, DWORD length, LPOVERLAPPED overlapped)
{
    if (overlapped != nullptr || (buffer == nullptr && length > 0)) {
        return nullptr;
    }
    return findPort(h);
}

constexpr int kDeadlinePassed = -2;

// The poll time-out until `deadline` (INT64_MAX: none, -1), rounded up so poll
// never wakes before it; kDeadlinePassed once it has passed.
int msUntil(std::int64_t deadline)
{
    if (deadline == INT64_MAX) {
        return -1;
    }
    const std::int64_t left = deadline - nowNs();
    if (left <= 0) {
        return kDeadlinePassed;
    }
    const std::int64_t leftMs = (left + kNsPerMs - 1) / kNsPerMs;
    return leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    const unsigned long n = portNumber(lpFileName);
    char path[64];
    if (n == 0 || !devicePath(n, path, sizeof path)) {
        failOpen(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = openExclusive(path);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    const std::uintptr_t id = ++g_lastId;
    g_ports[id] = Port{fd, COMMTIMEOUTS{}};
    return reinterpret_cast<HANDLE>(id);
}

BOOL CloseHandle(HANDLE hObject)
{
    const auto found = g_ports.find(reinterpret_cast<std::uintptr_t>(hObject));
    if (found == g_ports.end()) {
        return FALSE;
    }
    // Give exclusive mode back, or the next open fails for anyone but root.
    releaseAndClose(found->second.fd);
    g_ports.erase(found);
    return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD)
{
    // The tty driver sizes its own queues.
    return findPort(hFile) != nullptr ? TRUE : FALSE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    Port *port = findPort(hFile);
    if (port == nullptr || lpCommTimeouts == nullptr) {
        return FALSE;
    }
    port->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    const Port *port = findPort(hFile);
    speed_t speed = B0;
    if (port == nullptr || lpDCB == nullptr || !speedOf(lpDCB->BaudRate, &speed) || lpDCB->ByteSize != 8 ||
        lpDCB->Parity != NOPARITY || lpDCB->StopBits != ONESTOPBIT) {
        return FALSE;
    }
    termios line{};
    if (tcgetattr(port->fd, &line) != 0 || cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) {
        return FALSE;
    }
    if (lpDCB->fOutxCtsFlow) {
        line.c_cflag |= CRTSCTS;
    } else {
        line.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    return tcsetattr(port->fd, TCSANOW, &line) == 0 ? TRUE : FALSE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    const Port *port = findPort(hFile);
    if (port == nullptr) {
        return FALSE;
    }
    const bool input = (dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool output = (dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!input && !output) {
        return TRUE;
    }
    const int queues = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return tcflush(port->fd, queues) == 0 ? TRUE : FALSE;
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc)
{
    const Port *port = findPort(hFile);
    if (port == nullptr) {
        return FALSE;
    }
    int request = 0;
    int lines = 0;
    switch (dwFunc) {
    case SETDTR: request = TIOCMBIS; lines = TIOCM_DTR; break;
    case CLRDTR: request = TIOCMBIC; lines = TIOCM_DTR; break;
    case SETRTS: request = TIOCMBIS; lines = TIOCM_RTS; break;
    case CLRRTS: request = TIOCMBIC; lines = TIOCM_RTS; break;
    default: return FALSE;
    }
    return ioctl(port->fd, request, &lines) == 0 ? TRUE : FALSE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    DWORD ignored = 0;
    DWORD &count = lpNumberOfBytesRead != nullptr ? *lpNumberOfBytesRead : ignored;
    count = 0;
    const Port *port = transferPort(hFile, lpBuffer, nNumberOfBytesToRead, lpOverlapped);
    if (port == nullptr) {
        return FALSE;
    }
    const COMMTIMEOUTS &t = port->timeouts;
    const std::int64_t total =
        (static_cast<std::int64_t>(t.ReadTotalTimeoutMultiplier) * nNumberOfBytesToRead + t.ReadTotalTimeoutConstant) *
        kNsPerMs;
    const std::int64_t interval = static_cast<std::int64_t>(t.ReadIntervalTimeout) * kNsPerMs;
    // As on Windows: no total and no usable interval means take what is
    // there; an interval alone waits for the first byte without limit.
    const bool takeWhatIsThere = total == 0 && (t.ReadIntervalTimeout == 0 || t.ReadIntervalTimeout == kNoInterval);
    const std::int64_t start = nowNs();
    std::int64_t lastByte = 0;
    auto *bytes = static_cast<unsigned char *>(lpBuffer);

    while (count < nNumberOfBytesToRead) {
        int timeoutMs = 0;
        if (!takeWhatIsThere) {
            std::int64_t deadline = total > 0 ? start + total : INT64_MAX;
            if (count > 0 && interval != 0 && lastByte + interval < deadline) {
                deadline = lastByte + interval;
            }
            timeoutMs = msUntil(deadline);
            if (timeoutMs == kDeadlinePassed) {
                break;
            }
        }
        const int events = waitFor(port->fd, POLLIN, timeoutMs);
        if (events == kInterrupted) {
            continue;
        }
        if (events < 0 || (events & POLLNVAL) != 0) {
            return FALSE;
        }
        if (events == 0) {
            if (takeWhatIsThere) {
                break;
            }
            continue;
        }
        if ((events & POLLIN) == 0) {
            // Hang-up or error with nothing left to read: the peer is gone.
            return FALSE;
        }
        const ssize_t got = read(port->fd, bytes + count, nNumberOfBytesToRead - count);
        if (got > 0) {
            count += static_cast<DWORD>(got);
            lastByte = nowNs();
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            // End of file on a tty is a hang-up.
            return FALSE;
        }
    }
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    DWORD ignored = 0;
    DWORD &count = lpNumberOfBytesWritten != nullptr ? *lpNumberOfBytesWritten : ignored;
    count = 0;
    const Port *port = transferPort(hFile, lpBuffer, nNumberOfBytesToWrite, lpOverlapped);
    if (port == nullptr) {
        return FALSE;
    }
    const auto *bytes = static_cast<const unsigned char *>(lpBuffer);
    while (count < nNumberOfBytesToWrite) {
        // Waiting for room here rather than in write() lets a vanished peer
        // end the write instead of holding it.
        const int events = waitFor(port->fd, POLLOUT, -1);
        if (events == kInterrupted) {
            continue;
        }
        if (events < 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return FALSE;
        }
        const ssize_t sent = write(port->fd, bytes + count, nNumberOfBytesToWrite - count);
        if (sent > 0) {
            count += static_cast<DWORD>(sent);
        } else if (sent == 0 || (errno != EINTR && errno != EAGAIN)) {
            return FALSE;
        }
    }
    return TRUE;
}
