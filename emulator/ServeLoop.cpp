#include "ServeLoop.h"

#include "WirePace.h"
#include "base/EscapedBytes.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Set by SIGTERM and SIGINT, read between waits.
volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

std::string escaped(const uint8_t *bytes, size_t count)
{
    return escapedBytes(std::string_view(reinterpret_cast<const char *>(bytes), count));
}

// Stores each image once all its announced bytes have arrived.
class ImageStore {
public:
    explicit ImageStore(std::string folder) : folder_(std::move(folder)) {}
    void update(const UnitImages &images, Trace &trace, int64_t nowUs)
    {
        store("fpga", images.fpgaUploads, images.fpgaComplete, images.fpgaAccepted, images.fpga, &fpgaStored_, trace,
              nowUs);
        store("mcu", images.mcuUploads, images.mcuComplete, images.mcuAccepted, images.mcu, &mcuStored_, trace, nowUs);
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
    Server(UnitModel *unit, const UnitLine &line, bool paced, Trace &trace, ImageStore &store)
        : unit_(unit), master_(line.master.get()), slave_(line.slave.get()), paced_(paced), trace_(trace),
          store_(store)
    {
    }

    // Reads what the host sent, if anything; paced, only what has arrived.
    void takeInput()
    {
        uint8_t buffer[65536];
        const size_t capacity = paced_ ? std::min(sizeof buffer, arrivedShare()) : sizeof buffer;
        const ssize_t n = capacity == 0 ? 0 : read(master_, buffer, capacity);
        const int readError = errno;
        if (paced_) {
            gateHost();
        }
        if (n < 0) {
            if (readError == EIO) {
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

    // Paced, bytes that wait on the line are not worth a wake-up until more
    // of them have arrived: then the unit waits for that time, not for input.
    bool pacesInput() const { return paced_; }
    bool listens() const { return !paced_ || pace_.quiet; }
    bool inputDueAt(int64_t *atUs) const { return paced_ && wirePace_nextUs(pace_, waiting_, atUs); }

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
    // The host's bytes that wait on the line (as far as the unit can see).
    size_t bytesOnLine() const
    {
        int waiting = 0;
        return ioctl(master_, FIONREAD, &waiting) == 0 && waiting > 0 ? static_cast<size_t>(waiting) : 0;
    }

    // How many of the bytes waiting on the line have arrived by now.
    size_t arrivedShare()
    {
        const size_t waiting = bytesOnLine();
        const size_t count = wirePace_take(&pace_, monotonicUs(), hostBaud(master_), waiting);
        waiting_ = waiting - count;
        return count;
    }

    // The host is held while any of its bytes wait (once those arrived are
    // taken), so that the line holds about one of its writes, not the 20 KB
    // the pseudo-terminal takes.
    void gateHost()
    {
        if ((waiting_ > 0) != holding_) {
            holding_ = waiting_ > 0;
            holdHostWrites(slave_, holding_);
        }
    }

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
                    ", mcu " + std::to_string(images.mcu.size()) + " of " + std::to_string(images.mcuAnnouncedLength) +
                    ")";
        }
        trace_.line(now, line);
    }

    UnitModel *unit_;
    int master_, slave_;
    bool paced_, holding_ = false;
    WirePace pace_;
    size_t waiting_ = 0;
    Trace &trace_;
    ImageStore &store_;
    std::string pending_;
    std::string outText_;
    int64_t outStartUs_ = 0, outLastUs_ = 0;
    int outRate_ = 0, outHost_ = 0;
};

// Serves the host until a stop signal, a failed poll or the unit dropping off.
void serveTheLine(Server &server, UnitModel *unit, int masterFd, const sigset_t &waitMask)
{
    while (!stopRequested) {
        pollfd pfd{masterFd, static_cast<short>(server.listens() ? POLLIN : 0), 0};
        timespec timeout{};
        timespec *wait = nullptr;
        int64_t next = 0;
        bool timed = false;
        if (server.hasPending()) {
            pfd.events |= POLLOUT;
        } else {
            timed = unit_nextOutputTime(unit, &next);
        }
        int64_t inputAt = 0;
        if (server.inputDueAt(&inputAt)) {
            next = timed ? std::min(next, inputAt) : inputAt;
            timed = true;
        }
        if (timed) {
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
        if (server.pacesInput() || (ready > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR)) != 0)) {
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
// at once instead of filling the line.
void leaveTheLine(UnitModel *unit, Trace &trace, UnitLine &line, ComLink &link, const sigset_t &waitMask)
{
    const UnitImages &images = unit_images(unit);
    trace.line(monotonicUs(), "dropped off the line (fpga " + std::to_string(images.fpga.size()) + ", mcu " +
                                  std::to_string(images.mcu.size()) + " image bytes taken)");
    line.master.reset();
    line.slave.reset();
    link.pointAt("/dev/null/orvane-unit-dropped");
    while (!stopRequested) {
        sigsuspend(&waitMask);
    }
}

}  // namespace

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

void serveUnit(const UnitConfig &config, const std::string &imagesFolder, UnitLine &line, ComLink &link, Trace &trace,
               const sigset_t &waitMask)
{
    UnitModel *unit = unit_create(config);
    ImageStore store(imagesFolder);
    Server server(unit, line, config.paceOutput, trace, store);
    serveTheLine(server, unit, line.master.get(), waitMask);
    if (unit_isDropped(unit) && !stopRequested) {
        leaveTheLine(unit, trace, line, link, waitMask);
    }
    trace.line(monotonicUs(), "stopped");
    unit_destroy(unit);
}

// It hears nothing: every 10 ms what its rate allows, dropped where the line
// has no room (the host may have the port closed), and whatever the host
// sends thrown away.
void serveStream(const std::string &kind, long long bytesPerSecond, int masterFd, const sigset_t &waitMask)
{
    static const std::string NMEA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
                                    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    const std::string pattern = kind == "zeros" ? std::string(256, '\0') : NMEA;
    const int64_t startUs = monotonicUs();
    uint64_t sent = 0;
    size_t at = 0;
    while (!stopRequested) {
        const uint64_t due = static_cast<uint64_t>((monotonicUs() - startUs) * bytesPerSecond / 1'000'000);
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
