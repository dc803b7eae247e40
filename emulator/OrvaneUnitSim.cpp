// OrvaneUnitSim: the emulated unit, served on a pseudo-terminal that
// FOLDER/dosdevices/comN points to, so that the updater (Linux build or the
// Windows build under Wine) finds it as COMn.
//
// The slave side stays open in here for the whole run. Without that, reads on
// the master fail with EIO whenever the host has the port closed (it opens and
// closes it many times), and the line settings the host made could be lost
// between its opens. Holding an fd opened before the host's TIOCEXCL does not
// stand in the host's way, and this program never flocks it.
#include "UnitModel.h"

#include "base/EscapedBytes.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void adopt(int fd)
    {
        reset();
        fd_ = fd;
    }
    void reset()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

struct Speed {
    speed_t code;
    int baud;
};

const Speed SPEEDS[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B2000000, 2000000}, {B4000000, 4000000},
};

bool speedCode(int baud, speed_t *code)
{
    for (const Speed &s : SPEEDS) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

// The rate the host has set on its side (0 when unknown). On Linux the
// master reports the slave's settings.
int hostBaud(int master)
{
    termios t{};
    if (tcgetattr(master, &t) != 0) {
        return 0;
    }
    const speed_t code = cfgetospeed(&t);
    for (const Speed &s : SPEEDS) {
        if (s.code == code) {
            return s.baud;
        }
    }
    return 0;
}

int64_t monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

std::string escaped(const uint8_t *bytes, size_t count)
{
    return escapedBytes(std::string_view(reinterpret_cast<const char *>(bytes), count));
}

// One line per event, with the milliseconds since the start.
class Trace {
public:
    bool open(const std::string &path, int64_t startUs)
    {
        startUs_ = startUs;
        file_ = fopen(path.c_str(), "w");
        return file_ != nullptr;
    }
    ~Trace()
    {
        if (file_ != nullptr) {
            fclose(file_);
        }
    }
    bool on() const { return file_ != nullptr; }
    void line(int64_t nowUs, const std::string &text)
    {
        if (file_ == nullptr) {
            return;
        }
        fprintf(file_, "%10.3f %s\n", static_cast<double>(nowUs - startUs_) / 1000.0, text.c_str());
        fflush(file_);
    }

private:
    FILE *file_ = nullptr;
    int64_t startUs_ = 0;
};

struct Options {
    int com = 0;
    UnitConfig unit;
    bool haveVariant = false, haveBaud = false;
    std::string dir = ".";
    std::string trace;
    std::string images;
    // Not a unit: a device that never stops sending (zeros or NMEA-like
    // text), at streamRate bytes a second.
    std::string stream;
    long long streamRate = 0;
};

void usage()
{
    fputs("usage: OrvaneUnitSim --com N --variant tx|rx --baud RATE [--dir FOLDER]\n"
          "         [--fw-version a.b.c] [--model WORD] [--fpga-version a.b] [--device-code N]\n"
          "         [--product TEXT] [--closing-text TEXT] [--closing-delay-ms MS]\n"
          "         [--reply-delay-ms MS] [--ready-delay-ms MS] [--pace] [--missed-probes N]\n"
          "         [--fault EXCHANGE:FAULT]... [--split-gap-ms MS] [--drop-after BYTES]\n"
          "         [--trace FILE] [--images FOLDER]\n"
          "   or: OrvaneUnitSim --com N --stream zeros|nmea --stream-rate BYTES_PER_SECOND [--dir FOLDER]\n"
          "EXCHANGE: probe version product fpga-command fpga-data mcu-command mcu-data closing\n"
          "FAULT: silence garbled extra-line-end split endless zeros drop\n"
          "TEXT may hold \\r \\n \\\\.\n",
          stderr);
}

bool parseNumber(const std::string &text, long long min, long long max, long long *value)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) {
        return false;
    }
    *value = v;
    return true;
}

// "a.b" or "a.b.c": exactly `count` numbers.
bool parseDotted(const std::string &text, size_t count, int *parts)
{
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t dot = i + 1 < count ? text.find('.', at) : text.size();
        long long v = 0;
        if (dot == std::string::npos || !parseNumber(text.substr(at, dot - at), 0, 999999, &v)) {
            return false;
        }
        parts[i] = static_cast<int>(v);
        at = dot + 1;
    }
    return true;
}

bool decodeEscapes(const std::string &text, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case '\\': *out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

bool parseFault(const std::string &text, UnitConfig::Fault *fault)
{
    static const std::pair<const char *, UnitExchange> exchanges[] = {
        {"probe", UnitExchange::Probe},          {"version", UnitExchange::Version},
        {"product", UnitExchange::Product},      {"fpga-command", UnitExchange::FpgaCommand},
        {"fpga-data", UnitExchange::FpgaData},   {"mcu-command", UnitExchange::McuCommand},
        {"mcu-data", UnitExchange::McuData},     {"closing", UnitExchange::Closing},
    };
    static const std::pair<const char *, UnitFault> faults[] = {
        {"silence", UnitFault::Silence}, {"garbled", UnitFault::Garbled}, {"extra-line-end", UnitFault::ExtraLineEnd},
        {"split", UnitFault::Split},     {"endless", UnitFault::Endless}, {"zeros", UnitFault::Zeros},
        {"drop", UnitFault::Drop},
    };
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string exchange = text.substr(0, colon), what = text.substr(colon + 1);
    fault->at = UnitExchange::None;
    fault->what = UnitFault::None;
    for (const auto &[name, value] : exchanges) {
        if (exchange == name) {
            fault->at = value;
        }
    }
    for (const auto &[name, value] : faults) {
        if (what == name) {
            fault->what = value;
        }
    }
    if (fault->what == UnitFault::Drop && fault->at != UnitExchange::FpgaData && fault->at != UnitExchange::McuData) {
        return false;
    }
    return fault->at != UnitExchange::None && fault->what != UnitFault::None;
}

// False (after saying why) when the command line is not usable.
enum class OptionResult { Ok, BadValue, Unknown };

// Stores one option that takes a value.
OptionResult setOption(const std::string &name, const std::string &value, Options *o)
{
    UnitConfig &u = o->unit;
    long long n = 0;
    int parts[3] = {0, 0, 0};
    bool ok = true;
    if (name == "--com") {
        ok = parseNumber(value, 1, 999, &n);
        o->com = static_cast<int>(n);
    } else if (name == "--variant") {
        ok = value == "tx" || value == "rx";
        u.variant = value == "rx" ? UnitVariant::RX : UnitVariant::TX;
        o->haveVariant = true;
    } else if (name == "--baud") {
        speed_t code = 0;
        ok = parseNumber(value, 1, 4000000, &n) && speedCode(static_cast<int>(n), &code);
        u.normalBaud = static_cast<int>(n);
        o->haveBaud = true;
    } else if (name == "--dir") {
        o->dir = value;
    } else if (name == "--fw-version") {
        ok = parseDotted(value, 3, parts);
        u.fwVer = parts[0];
        u.fwRev = parts[1];
        u.fwSub = parts[2];
    } else if (name == "--model") {
        u.model = value;
    } else if (name == "--fpga-version") {
        ok = parseDotted(value, 2, parts);
        u.fpgaVer = parts[0];
        u.fpgaRev = parts[1];
    } else if (name == "--device-code") {
        ok = parseNumber(value, -2147483647LL, 2147483647LL, &n);
        u.deviceCode = static_cast<int>(n);
    } else if (name == "--product") {
        ok = decodeEscapes(value, &u.productReply);
    } else if (name == "--closing-text") {
        ok = decodeEscapes(value, &u.closingText);
    } else if (name == "--closing-delay-ms" || name == "--reply-delay-ms" || name == "--ready-delay-ms" ||
               name == "--split-gap-ms" || name == "--drop-after") {
        ok = parseNumber(value, 0, 1'000'000'000'000LL, &n);
        int64_t &target = name == "--closing-delay-ms" ? u.closingDelayMs
                          : name == "--reply-delay-ms" ? u.replyDelayMs
                          : name == "--ready-delay-ms" ? u.readyDelayMs
                          : name == "--split-gap-ms"   ? u.splitGapMs
                                                       : u.dropAfterBytes;
        target = n;
    } else if (name == "--missed-probes") {
        ok = parseNumber(value, 0, 1'000'000, &n);
        u.missedProbes = static_cast<int>(n);
    } else if (name == "--fault") {
        UnitConfig::Fault fault;
        ok = parseFault(value, &fault);
        u.faults.push_back(fault);
    } else if (name == "--stream") {
        ok = value == "zeros" || value == "nmea";
        o->stream = value;
    } else if (name == "--stream-rate") {
        ok = parseNumber(value, 1, 1'000'000, &o->streamRate);
    } else if (name == "--trace") {
        o->trace = value;
    } else if (name == "--images") {
        o->images = value;
    } else {
        return OptionResult::Unknown;
    }
    return ok ? OptionResult::Ok : OptionResult::BadValue;
}

bool parseOptions(int argc, char **argv, Options *o)
{
    UnitConfig &u = o->unit;
    u.paceOutput = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--pace") {
            u.paceOutput = true;
            continue;
        }
        if (name == "--help" || name == "-h") {
            usage();
            exit(0);
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                fprintf(stderr, "OrvaneUnitSim: %s needs a value\n", name.c_str());
                return false;
            }
            value = argv[++i];
        }
        const OptionResult result = setOption(name, value, o);
        if (result == OptionResult::Unknown) {
            fprintf(stderr, "OrvaneUnitSim: unknown option %s\n", name.c_str());
            return false;
        }
        if (result == OptionResult::BadValue) {
            fprintf(stderr, "OrvaneUnitSim: bad value for %s: %s\n", name.c_str(), value.c_str());
            return false;
        }
    }
    if (!o->stream.empty()) {
        if (o->com == 0 || o->streamRate == 0) {
            fputs("OrvaneUnitSim: --com and --stream-rate are required with --stream\n", stderr);
            return false;
        }
        return true;
    }
    if (o->com == 0 || !o->haveVariant || !o->haveBaud) {
        fputs("OrvaneUnitSim: --com, --variant and --baud are required\n", stderr);
        return false;
    }
    return true;
}

// Points `link` at `target`, replacing whatever entry was there without a
// moment in which the name is missing (a missing COM entry would send the
// host to the machine's own /dev/ttyS ports).
bool pointLink(const fs::path &link, const std::string &target)
{
    const fs::path temporary = link.string() + ".new-" + std::to_string(getpid());
    std::error_code error;
    fs::remove(temporary, error);
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

// Removes the link only while it is still ours.
void removeLink(const fs::path &link, const std::string &target)
{
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(link, error)) && fs::read_symlink(link, error).string() == target) {
        fs::remove(link, error);
    }
}

// Stores each image once all its announced bytes have arrived.
class ImageStore {
public:
    explicit ImageStore(std::string folder) : folder_(std::move(folder)) {}
    void update(const UnitImages &images, Trace &trace, int64_t nowUs)
    {
        store("fpga", images.fpgaUploads, images.fpgaComplete, images.fpgaAccepted, images.fpga, &fpgaStored_,
              trace, nowUs);
        store("mcu", images.mcuUploads, images.mcuComplete, images.mcuAccepted, images.mcu, &mcuStored_, trace,
              nowUs);
    }

private:
    void store(const char *name, int upload, bool complete, bool accepted, const std::vector<uint8_t> &bytes,
               int *stored, Trace &trace, int64_t nowUs)
    {
        if (folder_.empty() || !complete || upload == *stored) {
            return;
        }
        *stored = upload;
        const std::string path = (fs::path(folder_) / (std::string(name) + ".bin")).string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fprintf(stderr, "OrvaneUnitSim: cannot write %s\n", path.c_str());
        }
        trace.line(nowUs, "stored " + path + " (" + std::to_string(bytes.size()) + " bytes, " +
                              (accepted ? "accepted" : "rejected") + ")");
    }

    std::string folder_;
    int fpgaStored_ = 0, mcuStored_ = 0;
};

// The unit on the master side of the pseudo-terminal.
class Server {
public:
    Server(UnitModel *unit, int master, Trace &trace, ImageStore &store)
        : unit_(unit), master_(master), trace_(trace), store_(store)
    {
    }

    // Reads what the host sent, if anything.
    void takeInput()
    {
        uint8_t buffer[65536];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EIO) {
                // Nobody holds the slave (cannot happen while this program
                // keeps it open, but a busy loop must not follow if it does).
                const timespec pause{0, 10'000'000};
                nanosleep(&pause, nullptr);
            }
            return;
        }
        if (n == 0) {
            return;
        }
        const int64_t now = monotonicUs();
        const int baud = hostBaud(master_);
        const UnitImages &images = unit_images(unit_);
        const size_t fpgaBefore = images.fpga.size(), mcuBefore = images.mcu.size();
        unit_receive(unit_, now, baud, buffer, static_cast<size_t>(n));
        if (trace_.on()) {
            flushTrace();
            traceInput(now, baud, buffer, static_cast<size_t>(n), fpgaBefore, mcuBefore);
        }
        store_.update(images, trace_, now);
    }

    // Writes whatever is due, as far as the line takes it.
    void sendDue()
    {
        for (;;) {
            if (!pending_.empty()) {
                const ssize_t n = write(master_, pending_.data(), pending_.size());
                if (n < 0) {
                    return;
                }
                pending_.erase(0, static_cast<size_t>(n));
                if (!pending_.empty()) {
                    return;
                }
            }
            const int64_t now = monotonicUs();
            int64_t next = 0;
            if (!unit_nextOutputTime(unit_, &next) || next > now) {
                return;
            }
            const int rate = unit_outputBaud(unit_);
            uint8_t buffer[4096];
            const size_t n = unit_takeOutput(unit_, now, buffer, sizeof buffer);
            if (n == 0) {
                return;
            }
            // Bytes sent at one rate and read at another are noise to the host.
            const int host = hostBaud(master_);
            if (trace_.on()) {
                traceOutput(now, rate, host, buffer, n);
            }
            if (host != rate) {
                unit_garble(buffer, n);
            }
            pending_.assign(reinterpret_cast<char *>(buffer), n);
        }
    }

    bool hasPending() const { return !pending_.empty(); }

    // Writes out the output line being gathered.
    void flushTrace()
    {
        if (outText_.empty()) {
            return;
        }
        std::string line = "out " + std::to_string(outRate_) + " ";
        if (outHost_ != outRate_) {
            line += "garbled for a host at " + std::to_string(outHost_) + " ";
        }
        trace_.line(outStartUs_, line + "\"" + outText_ + "\"");
        outText_.clear();
    }

private:
    // Paced output leaves a few bytes at a time; bytes that follow each other
    // closely at the same rates share one trace line.
    void traceOutput(int64_t now, int rate, int host, const uint8_t *bytes, size_t n)
    {
        if (rate != outRate_ || host != outHost_ || now - outLastUs_ > 20'000 || outText_.size() > 200) {
            flushTrace();
        }
        if (outText_.empty()) {
            outStartUs_ = now;
            outRate_ = rate;
            outHost_ = host;
        }
        outText_ += escaped(bytes, n);
        outLastUs_ = now;
    }

    void traceInput(int64_t now, int baud, const uint8_t *bytes, size_t n, size_t fpgaBefore, size_t mcuBefore)
    {
        const UnitImages &images = unit_images(unit_);
        // A new upload empties its image, so only growth counts.
        const size_t image = (images.fpga.size() > fpgaBefore ? images.fpga.size() - fpgaBefore : 0) +
                             (images.mcu.size() > mcuBefore ? images.mcu.size() - mcuBefore : 0);
        std::string line = "in  " + std::to_string(baud) + " ";
        if (image == 0) {
            line += "\"" + escaped(bytes, n) + "\"";
            if (baud != unit_currentBaud(unit_)) {
                line += " (noise: unit at " + std::to_string(unit_currentBaud(unit_)) + ")";
            }
        } else {
            line += std::to_string(n) + " bytes, image +" + std::to_string(image) + " (fpga " +
                    std::to_string(images.fpga.size()) + " of " + std::to_string(images.fpgaAnnouncedLength) +
                    ", mcu " + std::to_string(images.mcu.size()) + " of " +
                    std::to_string(images.mcuAnnouncedLength) + ")";
        }
        trace_.line(now, line);
    }

    UnitModel *unit_;
    int master_;
    Trace &trace_;
    ImageStore &store_;
    std::string pending_;
    std::string outText_;
    int64_t outStartUs_ = 0, outLastUs_ = 0;
    int outRate_ = 0, outHost_ = 0;
};

// A raw pseudo-terminal at the unit's rate, so that a tool which does not set
// the rate itself can talk to it by hand (the host sets its own). False, with
// the reason printed, when there is none.
bool openUnitLine(int baud, Fd *master, Fd *slave, std::string *slavePath)
{
    int masterFd = -1, slaveFd = -1;
    if (openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) != 0) {
        fprintf(stderr, "OrvaneUnitSim: openpty: %s\n", strerror(errno));
        return false;
    }
    master->adopt(masterFd);
    slave->adopt(slaveFd);
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    const char *slaveName = ttyname(slaveFd);
    if (slaveName == nullptr) {
        fprintf(stderr, "OrvaneUnitSim: ttyname: %s\n", strerror(errno));
        return false;
    }
    *slavePath = slaveName;
    termios t{};
    speed_t code = B9600;
    speedCode(baud, &code);
    if (tcgetattr(masterFd, &t) != 0 || (cfmakeraw(&t), cfsetspeed(&t, code)) != 0 ||
        tcsetattr(masterFd, TCSANOW, &t) != 0) {
        fprintf(stderr, "OrvaneUnitSim: cannot set the line up: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// The stop signals are held back except while waiting, so that one arriving
// between a check and a wait cannot be missed. Returns the mask to wait with.
sigset_t holdStopSignals()
{
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return waitMask;
}

// Serves the host until a stop signal, a failed poll or the unit dropping off.
void serveTheLine(Server &server, UnitModel *unit, int masterFd, const sigset_t &waitMask)
{
    while (!stopRequested) {
        pollfd pfd{masterFd, POLLIN, 0};
        timespec timeout{};
        timespec *wait = nullptr;
        int64_t next = 0;
        if (server.hasPending()) {
            pfd.events |= POLLOUT;
        } else if (unit_nextOutputTime(unit, &next)) {
            const int64_t us = std::max<int64_t>(0, next - monotonicUs());
            timeout.tv_sec = static_cast<time_t>(us / 1'000'000);
            timeout.tv_nsec = static_cast<long>(us % 1'000'000) * 1000;
            wait = &timeout;
        }
        const int ready = ppoll(&pfd, 1, wait, &waitMask);
        if (ready < 0 && errno != EINTR) {
            fprintf(stderr, "OrvaneUnitSim: poll: %s\n", strerror(errno));
            break;
        }
        if (ready > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            server.takeInput();
        }
        server.sendDue();
        if (unit_isDropped(unit)) {
            break;
        }
    }
    server.flushTrace();
}

// Off the line: closing both sides hangs the host's fd up, so its writes fail
// at once instead of filling the line. The COM entry stays, pointing nowhere,
// so that the port reads as absent; the program itself waits for its stop
// signal like any other run. Returns where the link now points.
std::string leaveTheLine(UnitModel *unit, Trace &trace, Fd &master, Fd &slave, const fs::path &link,
                         const std::string &linkTarget, const sigset_t &waitMask)
{
    const UnitImages &images = unit_images(unit);
    trace.line(monotonicUs(), "dropped off the line (fpga " + std::to_string(images.fpga.size()) + ", mcu " +
                                  std::to_string(images.mcu.size()) + " image bytes taken)");
    master.reset();
    slave.reset();
    const std::string nowhere = "/dev/null/orvane-unit-dropped";
    const std::string target = pointLink(link, nowhere) ? nowhere : linkTarget;
    while (!stopRequested) {
        sigsuspend(&waitMask);
    }
    return target;
}

// A device on the port that talks without end and hears nothing: every
// 10 ms what its rate allows, dropped where the line has no room (the host
// may have the port closed), and whatever the host sends thrown away.
void serveStream(const Options &options, int masterFd, const sigset_t &waitMask)
{
    static const std::string NMEA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
                                    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    const std::string pattern = options.stream == "zeros" ? std::string(256, '\0') : NMEA;
    const int64_t startUs = monotonicUs();
    uint64_t sent = 0;
    size_t at = 0;
    while (!stopRequested) {
        const uint64_t due = static_cast<uint64_t>((monotonicUs() - startUs) * options.streamRate / 1'000'000);
        std::string chunk;
        for (; sent < due; ++sent, at = (at + 1) % pattern.size()) {
            chunk += pattern[at];
        }
        if (!chunk.empty() && write(masterFd, chunk.data(), chunk.size()) < 0 && errno != EAGAIN) {
            break;
        }
        char input[4096];
        while (read(masterFd, input, sizeof input) > 0) {
        }
        const timespec tick{0, 10'000'000};
        pselect(0, nullptr, nullptr, nullptr, &tick, &waitMask);
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        usage();
        return 2;
    }
    const int64_t startUs = monotonicUs();

    Fd master, slave;
    std::string slavePath;
    if (!openUnitLine(options.unit.normalBaud, &master, &slave, &slavePath)) {
        return 1;
    }

    std::error_code error;
    const fs::path devices = fs::path(options.dir) / "dosdevices";
    fs::create_directories(devices, error);
    const fs::path link = devices / ("com" + std::to_string(options.com));
    if (!pointLink(link, slavePath)) {
        fprintf(stderr, "OrvaneUnitSim: cannot link %s: %s\n", link.c_str(), strerror(errno));
        return 1;
    }
    std::string linkTarget = slavePath;

    Trace trace;
    if (!options.trace.empty() && !trace.open(options.trace, startUs)) {
        fprintf(stderr, "OrvaneUnitSim: cannot write %s: %s\n", options.trace.c_str(), strerror(errno));
        removeLink(link, linkTarget);
        return 1;
    }
    if (!options.images.empty()) {
        fs::create_directories(options.images, error);
    }

    const sigset_t waitMask = holdStopSignals();
    printf("%s\n", slavePath.c_str());
    fflush(stdout);

    if (!options.stream.empty()) {
        serveStream(options, master.get(), waitMask);
        removeLink(link, linkTarget);
        return 0;
    }
    UnitModel *unit = unit_create(options.unit);
    ImageStore store(options.images);
    Server server(unit, master.get(), trace, store);
    trace.line(startUs, std::string("unit ") + (options.unit.variant == UnitVariant::RX ? "rx" : "tx") + " at " +
                            std::to_string(options.unit.normalBaud) + " on " + slavePath + " as " + link.string());

    serveTheLine(server, unit, master.get(), waitMask);
    if (unit_isDropped(unit) && !stopRequested) {
        linkTarget = leaveTheLine(unit, trace, master, slave, link, linkTarget, waitMask);
    }
    trace.line(monotonicUs(), "stopped");
    removeLink(link, linkTarget);
    unit_destroy(unit);
    return 0;
}
