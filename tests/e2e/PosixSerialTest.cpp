// The POSIX serial operations against pseudo-terminals: the test plays the
// unit on the master side. Every test shadows all 32 COM ports with links to
// nothing, so the machine's own ports are never opened.
#include <windows.h>

#include "SerialLine.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never sees the slave side vanish
    std::string name;

    Pty()
    {
        char path[128];
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0) {
            name = path;
        }
    }
    ~Pty()
    {
        closeMaster();
        close(slave);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    void closeMaster()
    {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }
    void send(const std::string &bytes) const
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Whatever arrives within the window, up to max bytes.
    std::string receive(size_t max, int windowMs) const
    {
        std::string got;
        const auto start = Clock::now();
        while (got.size() < max && msSince(start) < windowMs) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 20) == 1 && (entry.revents & POLLIN) != 0) {
                char chunk[4096];
                const ssize_t n = read(master, chunk, std::min(sizeof chunk, max - got.size()));
                if (n <= 0) {
                    break;
                }
                got.append(chunk, static_cast<size_t>(n));
            }
        }
        return got;
    }
    bool exclusive() const
    {
        int state = 0;
        return ioctl(slave, TIOCGEXCL, &state) == 0 && state != 0;
    }
};

// Signals a thread every 2 ms with a handler that interrupts system calls,
// as a timer or a terminal resize would: partial writes and EINTR on demand.
class Interrupter {
public:
    Interrupter() : target_(pthread_self())
    {
        struct sigaction action {};
        action.sa_handler = +[](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        poker_ = std::thread([this] {
            while (!stop_) {
                pthread_kill(target_, SIGUSR1);
                pause(2);
            }
        });
    }
    ~Interrupter()
    {
        stop_ = true;
        poker_.join();
    }
    Interrupter(const Interrupter &) = delete;
    Interrupter &operator=(const Interrupter &) = delete;

private:
    pthread_t target_;
    std::atomic<bool> stop_{false};
    std::thread poker_;
};

std::string comPath(int n)
{
    return "\\\\.\\COM" + std::to_string(n);
}

class SerialPort : public ::testing::Test {
protected:
    TempFolder folder;
    std::optional<InFolder> inside;
    std::vector<HANDLE> opened;

    void SetUp() override
    {
        ASSERT_TRUE(shadowComPorts(folder.path()));
        inside.emplace(folder.path());
    }
    void TearDown() override
    {
        for (HANDLE h : opened) {
            CloseHandle(h);
        }
        inside.reset();
    }

    std::string link(int n) const { return comPortLink(folder.path(), n); }
    void serve(int n, const std::string &target) const { ASSERT_TRUE(linkComPort(folder.path(), n, target)); }
    HANDLE open(int n) { return openPath(comPath(n)); }
    HANDLE openPath(const std::string &path)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            opened.push_back(h);
        }
        return h;
    }
    // An open port on a fresh pty, with the given read time-outs.
    HANDLE openServed(int n, const Pty &pty, DWORD intervalMs, DWORD totalMs)
    {
        serve(n, pty.name);
        HANDLE h = open(n);
        COMMTIMEOUTS timeouts{intervalMs, 0, totalMs, 0, 0};
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetCommTimeouts(h, &timeouts));
        return h;
    }
};

std::string readPort(HANDLE h, DWORD n, BOOL *result = nullptr)
{
    std::string buffer(n, '\0');
    DWORD count = 12345;
    const BOOL ok = ReadFile(h, buffer.data(), n, &count, nullptr);
    if (result != nullptr) {
        *result = ok;
    } else {
        EXPECT_TRUE(ok);
    }
    buffer.resize(count);
    return buffer;
}

}  // namespace

TEST_F(SerialPort, PortNumbersResolveThroughTheLinks)
{
    Pty first;
    Pty twelfth;
    serve(1, first.name);
    serve(12, twelfth.name);
    const HANDLE h12 = open(12);
    const HANDLE h1 = open(1);
    ASSERT_NE(h12, INVALID_HANDLE_VALUE);
    ASSERT_NE(h1, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(h12, "twelve", 6, &count, nullptr));
    EXPECT_EQ(twelfth.receive(6, 500), "twelve");
    EXPECT_EQ(first.receive(6, 50), "");
}

// The reason is Windows' (the port is not there), the words the system's.
TEST_F(SerialPort, DanglingLinksAndNonTerminalsAreAbsentPorts)
{
    const std::string plain = folder.path("plain.bin");
    ASSERT_EQ(close(::open(plain.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    serve(3, plain);
    serve(4, "/dev/null");
    const std::pair<int, int> cases[] = {{2, ENOENT}, {32, ENOENT}, {3, ENOTTY}, {4, ENOTTY}};
    for (const auto &[port, error] : cases) {
        EXPECT_EQ(open(port), INVALID_HANDLE_VALUE) << port;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << port;
        char words[128] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, words,
                       sizeof words, nullptr);
        EXPECT_STREQ(words, strerror(error)) << port;
    }
}

TEST_F(SerialPort, ExclusiveModeBelongsToWhoeverSetIt)
{
    Pty pty;
    serve(5, pty.name);
    const HANDLE held = open(5);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(pty.exclusive());
    EXPECT_EQ(open(5), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(pty.exclusive()) << "a refused open must leave the holder's exclusive mode alone";
    EXPECT_TRUE(CloseHandle(held));
    opened.clear();
    EXPECT_FALSE(pty.exclusive()) << "closing must give the port back to other users";

    // A holder that only locks the port must find it as it left it.
    const int other = ::open(pty.name.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(open(5), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(pty.exclusive()) << "a refused open must not leave exclusive mode behind";
    close(other);
}

TEST_F(SerialPort, StaleHandleNeverReachesALaterPort)
{
    Pty before;
    Pty after;
    serve(1, before.name);
    serve(2, after.name);
    const HANDLE stale = open(1);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(stale));
    opened.clear();
    const HANDLE current = open(2);  // likely given the fd the stale handle had
    ASSERT_NE(current, INVALID_HANDLE_VALUE);

    DWORD count = 7;
    char buffer[4] = {};
    EXPECT_FALSE(WriteFile(stale, "lost", 4, &count, nullptr));
    EXPECT_FALSE(ReadFile(stale, buffer, sizeof buffer, &count, nullptr));
    EXPECT_FALSE(CloseHandle(stale));
    EXPECT_EQ(after.receive(4, 100), "");
    EXPECT_TRUE(WriteFile(current, "kept", 4, &count, nullptr));
    EXPECT_EQ(after.receive(4, 500), "kept");
}

TEST_F(SerialPort, SignalsNeitherEndNorStretchAReadWindow)
{
    Pty pty;
    const HANDLE h = openServed(8, pty, 500, 500);
    const auto start = Clock::now();
    Interrupter signals;
    EXPECT_EQ(readPort(h, 64), "");
    EXPECT_GE(msSince(start), 500);
    EXPECT_LT(msSince(start), 600);
}

TEST_F(SerialPort, LineSettingsReachThePeerSide)
{
    Pty pty;
    const HANDLE h = openServed(13, pty, 100, 100);
    const std::pair<DWORD, speed_t> rates[] = {{1200, B1200},   {2400, B2400},     {4800, B4800},
                                               {9600, B9600},   {19200, B19200},   {38400, B38400},
                                               {57600, B57600}, {115200, B115200}, {230400, B230400}};
    termios seen{};
    for (const auto &[rate, speed] : rates) {
        DCB dcb = lineAt(rate);
        EXPECT_TRUE(SetCommState(h, &dcb)) << rate;
        ASSERT_EQ(tcgetattr(pty.master, &seen), 0);
        EXPECT_EQ(cfgetospeed(&seen), speed) << rate;
        EXPECT_EQ(cfgetispeed(&seen), speed) << rate;
    }

    DCB flow = lineAt(57600);
    flow.fOutxCtsFlow = 1;
    EXPECT_TRUE(SetCommState(h, &flow));
    ASSERT_EQ(tcgetattr(pty.master, &seen), 0);
    EXPECT_NE(seen.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(seen.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(seen.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));

    // A refused setting leaves the line as it was.
    DCB odd = lineAt(12345);
    DCB seven = lineAt(9600);
    seven.ByteSize = 7;
    EXPECT_FALSE(SetCommState(h, &odd));
    EXPECT_FALSE(SetCommState(h, &seven));
    ASSERT_EQ(tcgetattr(pty.master, &seen), 0);
    EXPECT_EQ(cfgetospeed(&seen), speed_t(B57600));
    EXPECT_NE(seen.c_cflag & CRTSCTS, 0u);
    flow.fOutxCtsFlow = 0;
    EXPECT_TRUE(SetCommState(h, &flow));
    ASSERT_EQ(tcgetattr(pty.master, &seen), 0);
    EXPECT_EQ(seen.c_cflag & CRTSCTS, 0u);
}

TEST_F(SerialPort, LargeWriteCompletesAgainstASlowReaderDespiteSignals)
{
    Pty pty;
    const HANDLE h = openServed(14, pty, 100, 100);
    std::string image(1 << 20, '\0');
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    std::string received;
    std::thread peer([&] {
        while (received.size() < image.size()) {
            const std::string chunk = pty.receive(8192, 2000);
            if (chunk.empty()) {
                return;
            }
            received += chunk;
            pause(1);
        }
    });
    DWORD count = 0;
    {
        Interrupter signals;
        EXPECT_TRUE(WriteFile(h, image.data(), DWORD(image.size()), &count, nullptr));
    }
    EXPECT_EQ(count, image.size());
    peer.join();
    EXPECT_TRUE(received == image) << "received " << received.size() << " bytes";
}

TEST_F(SerialPort, PeerClosingEndsWritesAndReadsPromptly)
{
    Pty pty;
    const HANDLE h = openServed(15, pty, 1000, 1000);
    // A write blocked on a full queue when the peer goes.
    std::thread peer([&] {
        pty.receive(65536, 300);
        pty.closeMaster();
    });
    std::string big(1 << 20, 'w');
    DWORD count = 0;
    auto start = Clock::now();
    EXPECT_FALSE(WriteFile(h, big.data(), DWORD(big.size()), &count, nullptr));
    EXPECT_LT(count, big.size());
    EXPECT_LT(msSince(start), 1000);
    peer.join();

    start = Clock::now();
    EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    BOOL ok = TRUE;
    EXPECT_EQ(readPort(h, 16, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_LT(msSince(start), 100);
    EXPECT_TRUE(CloseHandle(h));
    opened.clear();
}
