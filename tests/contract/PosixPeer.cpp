// The peer on the POSIX platform: the master side of a pseudo-terminal that
// dosdevices/com7 leads to, in a temporary folder whose other 31 ports are
// links to nothing (so the machine's own ports are never opened), in real
// time.
#include "SerialPeer.h"

#include "ShadowedComPorts.h"
#include "TempFolder.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Machine {
    TempFolder folder;
    std::optional<InFolder> inside;
    int master = -1;
    int slave = -1;  // kept open so the master never sees the line hang up
    int otherOpener = -1;
    pid_t otherProgram = -1;
    std::vector<std::thread> senders;
    std::thread taker;
    std::atomic<std::size_t> taken{0};
    std::string takenBytes;
    // Bytes that were on the line before the port wrote: taken, not handed on.
    std::size_t before = 0;
    std::optional<struct sigaction> previousAction;
};

std::unique_ptr<Machine> machine;

void writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(machine->master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("the peer could not write to its pseudo-terminal");
        }
        done += static_cast<std::size_t>(n);
    }
}

// Up to `count` bytes from the line, waiting at most `windowMs` in all.
std::string readFromLine(std::size_t count, int windowMs)
{
    std::string got;
    const auto end = Clock::now() + std::chrono::milliseconds(windowMs);
    while (got.size() < count && Clock::now() < end) {
        pollfd entry{machine->master, POLLIN, 0};
        if (poll(&entry, 1, 10) == 1 && (entry.revents & POLLIN) != 0) {
            char chunk[4096];
            const ssize_t n = read(machine->master, chunk, std::min(sizeof chunk, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.append(chunk, static_cast<std::size_t>(n));
        }
    }
    return got;
}

void makePorts(const std::string &ptyName)
{
    if (!shadowComPorts(machine->folder.path()) || !linkComPort(machine->folder.path(), PEER_COM, ptyName)) {
        throw std::runtime_error("no shadowed COM ports");
    }
}

// Takes `total` bytes on a thread of its own, at most `most` at a time, with
// `beforeEach` done before each take.
void takeOnAThread(std::size_t total, std::size_t most, std::function<void()> beforeEach)
{
    machine->taker = std::thread([total, most, beforeEach] {
        while (machine->taken < total) {
            beforeEach();
            const std::string chunk = readFromLine(std::min(most, total - machine->taken), 2000);
            if (chunk.empty()) {
                return;
            }
            machine->takenBytes += chunk;
            machine->taken += chunk.size();
        }
    });
}

// Fills the line's queue from the port's own side until it takes no more;
// gives how many bytes it holds.
std::size_t fillTheQueue()
{
    const int flags = fcntl(machine->slave, F_GETFL);
    fcntl(machine->slave, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, '\x5A');
    std::size_t queued = 0;
    for (;;) {
        const ssize_t n = write(machine->slave, block.data(), block.size());
        if (n > 0) {
            queued += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            throw std::runtime_error("the peer could not fill its line");
        }
    }
    fcntl(machine->slave, F_SETFL, flags);
    return queued;
}

// Starts `sleep` as another program with the port as its standard input and,
// withMaster, the line's far end as fd 3; nothing else of ours goes with it.
// Returns once it runs as sleep.
pid_t startHolder(bool withMaster)
{
    const std::string port = ttyname(machine->slave);
    const char *const program = access("/usr/bin/sleep", X_OK) == 0 ? "/usr/bin/sleep" : "/bin/sleep";
    char *const argv[] = {const_cast<char *>("sleep"), const_cast<char *>("60"), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0 || (withMaster && dup2(machine->master, 3) < 0)) {
            _exit(127);
        }
        for (int other = withMaster ? 4 : 3; other < 1024; ++other) {
            close(other);
        }
        execv(program, argv);
        _exit(127);
    }
    const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (pid > 0 && Clock::now() < end) {
        std::ifstream in(comm);
        std::string name;
        if (std::getline(in, name) && name == "sleep") {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    throw std::runtime_error("the other program did not start");
}

// Returns once the thread `tid` of this process sleeps (in a system call
// that waits), or after a second of waiting for it to.
void waitUntilAsleep(pid_t tid)
{
    const std::string stat = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto end = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < end) {
        std::ifstream in(stat);
        std::string line;
        std::getline(in, line);
        // The state follows the name, which is in parentheses.
        const std::size_t name = line.rfind(')');
        if (name != std::string::npos && name + 2 < line.size() && line[name + 2] == 'S') {
            return;
        }
        std::this_thread::yield();
    }
}

}  // namespace

void peer_begin()
{
    machine = std::make_unique<Machine>();
    char name[128];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&machine->master, &machine->slave, name, &raw, nullptr) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    makePorts(name);
    machine->inside.emplace(machine->folder.path());
}

void peer_end()
{
    for (std::thread &sender : machine->senders) {
        sender.join();
    }
    if (machine->taker.joinable()) {
        machine->taker.join();
    }
    if (machine->otherProgram > 0) {
        kill(machine->otherProgram, SIGKILL);
        waitpid(machine->otherProgram, nullptr, 0);
    }
    for (int fd : {machine->otherOpener, machine->master, machine->slave}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (machine->previousAction) {
        sigaction(SIGUSR1, &*machine->previousAction, nullptr);
    }
    machine.reset();
}

void peer_send(const std::string &bytes, int afterMs)
{
    if (afterMs == 0) {
        writeAll(bytes);
        return;
    }
    const auto when = Clock::now() + std::chrono::milliseconds(afterMs);
    machine->senders.emplace_back([bytes, when] {
        std::this_thread::sleep_until(when);
        writeAll(bytes);
    });
}

void peer_settle()
{
    // The peer's own end of the port shares the port's input queue: it is
    // readable once the bytes have passed the line discipline.
    pollfd entry{machine->slave, POLLIN, 0};
    poll(&entry, 1, 1000);
}

std::string peer_receive(std::size_t count, int windowMs)
{
    return readFromLine(count, windowMs);
}

void peer_takeSlowly(std::size_t total)
{
    // 4 KiB every 2 ms at most: far slower than the port writes, so the
    // pseudo-terminal's queue fills and the writer must wait.
    takeOnAThread(total, 4096, [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
}

void peer_takeAFewBytesAtATime(std::size_t total)
{
    machine->before = fillTheQueue();
    // A handler, so that the signal only ends the wait; without SA_RESTART,
    // so that it does end it.
    struct sigaction interrupt {};
    interrupt.sa_handler = +[](int) {};
    sigemptyset(&interrupt.sa_mask);
    machine->previousAction.emplace();
    sigaction(SIGUSR1, &interrupt, &*machine->previousAction);
    // The thread that called this is the one that writes.
    const pthread_t writer = pthread_self();
    const pid_t writerTid = gettid();
    takeOnAThread(machine->before + total, 64, [writer, writerTid] {
        waitUntilAsleep(writerTid);
        pthread_kill(writer, SIGUSR1);
    });
}

std::size_t peer_taken()
{
    return machine->taken - std::min<std::size_t>(machine->taken, machine->before);
}

std::string peer_finishTaking()
{
    machine->taker.join();
    return machine->takenBytes.substr(std::min(machine->before, machine->takenBytes.size()));
}

void peer_holdPort(bool held)
{
    if (!held) {
        close(machine->otherOpener);
        machine->otherOpener = -1;
        return;
    }
    // Another program's exclusive open: the lock our own opens take too.
    machine->otherOpener = open(ttyname(machine->slave), O_RDWR | O_NOCTTY);
    if (machine->otherOpener < 0 || flock(machine->otherOpener, LOCK_EX | LOCK_NB) != 0) {
        throw std::runtime_error("the peer could not hold its port");
    }
}

void peer_stopTaking()
{
    // The master is read only when a test asks: nobody takes anything now.
}

PORT_HOLDER peer_holdPortWithoutALock()
{
    machine->otherProgram = startHolder(false);
    return PORT_HOLDER{static_cast<DWORD>(machine->otherProgram), "sleep"};
}

void peer_holdBothEnds()
{
    machine->otherProgram = startHolder(true);
}

int64_t peer_nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

int64_t peer_earlyUs()
{
    return 2000;
}

int64_t peer_lateUs()
{
    return 120000;
}
