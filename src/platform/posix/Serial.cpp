// Serial operations of the POSIX platform: \\.\COMn over termios, with the
// exclusive open, the read time-outs and the write windows the updater
// relies on from Windows.
#include <windows.h>

#include "platform/PortHolder.h"
#include "platform/posix/DevicePath.h"
#include "platform/posix/PortHolders.h"
#include "platform/subset/ComPath.h"
#include "platform/subset/LastError.h"
#include "platform/subset/ReadTimeouts.h"
#include "platform/subset/WriteTimeouts.h"

#include <algorithm>
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
    // A write's window passed with bytes still queued that the line does not take.
    bool stalled;
};

// Handles are ids that are never reused, never fds: the program keeps its
// handle after closing it, and a stale one must not reach an fd that a later
// open was given. The program drives its port from one thread.
std::map<std::uintptr_t, Port> g_ports;
std::uintptr_t g_lastId = 0;

// The other process that held the port the last open could not have.
PORT_HOLDER g_holder{};
bool g_holderKnown = false;

Port *findPort(HANDLE h)
{
    const auto found = g_ports.find(reinterpret_cast<std::uintptr_t>(h));
    if (found == g_ports.end()) {
        subset_setLastError(ERROR_INVALID_HANDLE, nullptr);
        return nullptr;
    }
    return &found->second;
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
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case ELOOP:
    case ENOTTY: code = ERROR_FILE_NOT_FOUND; break;
    case EACCES:
    case EPERM:
    case EROFS: code = ERROR_ACCESS_DENIED; break;
    case EBUSY:
    case EWOULDBLOCK: code = ERROR_SHARING_VIOLATION; break;
    default: break;
    }
    // A lock held elsewhere reads better as the port being busy.
    subset_setLastError(code, strerror(error == EWOULDBLOCK ? EBUSY : error));
    return -1;
}

// Looks for another process that has the tty open (fd: ours on it, or -1
// when the open itself was refused); true when one was found and kept.
bool findHolder(int fd, const char *path)
{
    struct stat device {};
    g_holderKnown = (fd >= 0 ? fstat(fd, &device) : stat(path, &device)) == 0 && S_ISCHR(device.st_mode) &&
                    posix_findPortHolder(device, &g_holder);
    return g_holderKnown;
}

// Opens a tty for this process alone, in raw 8-bit mode; -1 on any failure,
// with its reason recorded.
int openExclusive(const char *path)
{
    // Non-blocking, so a modem line without carrier cannot hold the open; and
    // it stays so, for a write to take only what the line has room for and
    // keep to its window.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY) {
            findHolder(-1, path);
        }
        return failOpen(error);
    }
    if (!isatty(fd)) {
        close(fd);
        return failOpen(ENOTTY);
    }
    // A program that has the port open without any lock would take every
    // byte written to it: the port is busy before anything goes out.
    if (findHolder(fd, path)) {
        close(fd);
        return failOpen(EBUSY);
    }
    // Exclusive mode is a flag of the port, not of our descriptor: when we
    // lose the lock below, it is ours to clear only if we set it.
    int wasExclusive = 1;
    ioctl(fd, TIOCGEXCL, &wasExclusive);
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        return failOpen(error);
    }
    // TIOCEXCL does not stop root; the lock does, and also a second handle of
    // ours.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (wasExclusive == 0) {
            ioctl(fd, TIOCNXCL);
        }
        close(fd);
        return failOpen(error);
    }
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
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

// The tty a name opens: \\.\COMn where it leads, or a device path as it is.
bool devicePathOf(LPCSTR name, char *path, std::size_t size)
{
    const unsigned long n = subset_comPortNumber(name);
    if (n != 0) {
        return posix_comDevicePath(n, path, size);
    }
    const int length = name != nullptr && name[0] == '/' ? std::snprintf(path, size, "%s", name) : -1;
    return length > 0 && static_cast<std::size_t>(length) < size;
}

// Only rates with a termios constant: an arbitrary rate would need
// calls that differ from driver to driver, and the unit speaks the standard ones.
bool speedOf(DWORD rate, speed_t *speed)
{
    static const struct {
        DWORD rate;
        speed_t speed;
    } rates[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto &entry : rates) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

// Microseconds on the monotonic clock, the unit of the read time-out rule.
std::int64_t nowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The poll time-out for a wait of `waitUs` (READ_WAIT_UNLIMITED: none),
// rounded up so that poll never wakes before the window ends.
int pollTimeoutMs(std::int64_t waitUs)
{
    if (waitUs == READ_WAIT_UNLIMITED) {
        return -1;
    }
    const std::int64_t ms = (waitUs + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
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
Port *transferPort(HANDLE h, const void *buffer, DWORD length, LPOVERLAPPED overlapped)
{
    if (overlapped != nullptr || (buffer == nullptr && length > 0)) {
        subset_setLastError(ERROR_INVALID_PARAMETER, nullptr);
        return nullptr;
    }
    return findPort(h);
}

// A value the line cannot take.
BOOL refused()
{
    subset_setLastError(ERROR_INVALID_PARAMETER, nullptr);
    return FALSE;
}

// The tty driver said no; errno says why.
BOOL systemFailure()
{
    subset_setLastError(ERROR_GEN_FAILURE, strerror(errno));
    return FALSE;
}

// The far end is gone: a tty says so with EIO.
BOOL hungUp()
{
    subset_setLastError(ERROR_GEN_FAILURE, strerror(EIO));
    return FALSE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    g_holderKnown = false;
    char path[PATH_MAX];
    if (!devicePathOf(lpFileName, path, sizeof path)) {
        failOpen(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = openExclusive(path);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    const std::uintptr_t id = ++g_lastId;
    g_ports[id] = Port{fd, COMMTIMEOUTS{}, false};
    return reinterpret_cast<HANDLE>(id);
}

BOOL CloseHandle(HANDLE hObject)
{
    const Port *port = findPort(hObject);
    if (port == nullptr) {
        return FALSE;
    }
    // What a stalled line did not take would hold the close until it drains.
    if (port->stalled) {
        tcflush(port->fd, TCOFLUSH);
    }
    // Give exclusive mode back, or the next open fails for anyone but root.
    releaseAndClose(port->fd);
    g_ports.erase(reinterpret_cast<std::uintptr_t>(hObject));
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
    if (port == nullptr) {
        return FALSE;
    }
    if (lpCommTimeouts == nullptr) {
        return refused();
    }
    port->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    const Port *port = findPort(hFile);
    speed_t speed = B0;
    if (port == nullptr) {
        return FALSE;
    }
    if (lpDCB == nullptr || !speedOf(lpDCB->BaudRate, &speed) || lpDCB->ByteSize != 8 || lpDCB->Parity != NOPARITY ||
        lpDCB->StopBits != ONESTOPBIT) {
        return refused();
    }
    termios line{};
    if (tcgetattr(port->fd, &line) != 0 || cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) {
        return systemFailure();
    }
    if (lpDCB->fOutxCtsFlow) {
        line.c_cflag |= CRTSCTS;
    } else {
        line.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    return tcsetattr(port->fd, TCSANOW, &line) == 0 ? TRUE : systemFailure();
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
    return tcflush(port->fd, queues) == 0 ? TRUE : systemFailure();
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
    case SETDTR:
        request = TIOCMBIS;
        lines = TIOCM_DTR;
        break;
    case CLRDTR:
        request = TIOCMBIC;
        lines = TIOCM_DTR;
        break;
    case SETRTS:
        request = TIOCMBIS;
        lines = TIOCM_RTS;
        break;
    case CLRRTS:
        request = TIOCMBIC;
        lines = TIOCM_RTS;
        break;
    default: return refused();
    }
    return ioctl(port->fd, request, &lines) == 0 ? TRUE : systemFailure();
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
    const std::int64_t start = nowUs();
    std::int64_t lastByte = start;
    auto *bytes = static_cast<unsigned char *>(lpBuffer);

    while (count < nNumberOfBytesToRead) {
        const std::int64_t now = nowUs();
        const std::int64_t wait =
            subset_readWaitUs(&port->timeouts, nNumberOfBytesToRead, count, now - start, now - lastByte);
        const int events = waitFor(port->fd, POLLIN, pollTimeoutMs(wait));
        if (events == kInterrupted || (events == 0 && wait > 0)) {
            continue;
        }
        if (events == 0) {
            break;
        }
        if (events < 0 || (events & POLLIN) == 0) {
            // Hang-up or error with nothing left to read: the peer is gone.
            return hungUp();
        }
        const ssize_t got = read(port->fd, bytes + count, nNumberOfBytesToRead - count);
        if (got > 0) {
            count += static_cast<DWORD>(got);
            lastByte = nowUs();
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            // End of file on a tty is a hang-up.
            return hungUp();
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
    Port *port = transferPort(hFile, lpBuffer, nNumberOfBytesToWrite, lpOverlapped);
    if (port == nullptr) {
        return FALSE;
    }
    const std::int64_t start = nowUs();
    const std::int64_t window = subset_writeWindowUs(&port->timeouts, nNumberOfBytesToWrite);
    const auto *bytes = static_cast<const unsigned char *>(lpBuffer);
    while (count < nNumberOfBytesToWrite) {
        const std::int64_t left = window == WRITE_WAIT_UNLIMITED
                                      ? READ_WAIT_UNLIMITED
                                      : std::max<std::int64_t>(window - (nowUs() - start), 0);
        // Waiting for room here rather than in write() lets a vanished peer
        // end the write instead of holding it, and the window end it.
        const int events = waitFor(port->fd, POLLOUT, pollTimeoutMs(left));
        if (events == kInterrupted || (events == 0 && left > 0)) {
            continue;
        }
        if (events == 0) {
            port->stalled = true;
            break;
        }
        if (events < 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return hungUp();
        }
        const ssize_t sent = write(port->fd, bytes + count, nNumberOfBytesToWrite - count);
        if (sent > 0) {
            count += static_cast<DWORD>(sent);
        } else if (sent == 0 || (errno != EINTR && errno != EAGAIN)) {
            return hungUp();
        }
    }
    return TRUE;
}

BOOL PortHolder_OfLastOpen(PORT_HOLDER *holder)
{
    if (!g_holderKnown || holder == nullptr) {
        return FALSE;
    }
    *holder = g_holder;
    return TRUE;
}
