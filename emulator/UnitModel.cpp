#include "UnitModel.h"

#include "base/ReadWindows.h"

#include <algorithm>
#include <array>
#include <deque>
#include <limits>

const char *const UNIT_HELP_VERSION_REPLY =
    "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
const char *const UNIT_TX_PRODUCT_REPLY = "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>";
const char *const UNIT_RX_PRODUCT_REPLY = "Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\r\n>>";

namespace {

constexpr int UPLOAD_BAUD = 115200;
// A command line longer than this is garbage; it is answered as unknown.
constexpr size_t MAX_LINE = 512;
// Bounds the elapsed time in the arrival arithmetic so that it cannot
// overflow; an endless reply stalls after about eleven days.
constexpr int64_t MAX_ELAPSED_US = 1'000'000'000'000;
constexpr int64_t NEVER = std::numeric_limits<int64_t>::min();

enum class Phase {
    Command,     // collecting command lines
    AwaitReady,  // an upload command was taken; input is ignored until "Ready" is out
    Image,       // taking raw image bytes
    Rebooting,   // silent, ignoring input until the closing text
    Dropped,     // off the line for good
};

enum class ImageKind { Fpga, Mcu };

// One piece of output: a reply, half of a split reply, an echo, or the
// endless tail that follows a reply that never ends.
struct Chunk {
    std::string bytes;  // for an endless tail: the pattern it repeats
    int64_t startUs;
    int baud;
    bool paced;
    bool endless;
    uint64_t taken = 0;
};

// A change of state the unit makes on its own at a given time (the rate
// switch after "Ready", the return to the normal rate, the end of a reboot).
struct Step {
    int64_t atUs;
    int baud = 0;  // 0: unchanged
    bool setsPhase = false;
    Phase phase = Phase::Command;
    bool rebooted = false;
    bool drops = false;
};

struct FaultSet {
    bool silence = false, garbled = false, extraLineEnd = false, split = false, endless = false, zeros = false,
         drop = false;
};

// The host's read window for each exchange; a split reply by default waits
// one and a half of them so that the host sees only the first half.
int64_t readWindowMs(UnitExchange exchange)
{
    switch (exchange) {
    case UnitExchange::Probe: return MAX_WAIT_READ;
    case UnitExchange::Version:
    case UnitExchange::Product: return QUERY_READ_TIMEOUT_MS;
    case UnitExchange::FpgaCommand: return FPGA_READY_TIMEOUT_MS;
    case UnitExchange::McuCommand: return MCU_READY_TIMEOUT_MS;
    case UnitExchange::FpgaData:
    case UnitExchange::McuData: return DATA_REPLY_TIMEOUT_MS;
    case UnitExchange::Closing: return CLOSING_READ_TIMEOUT_MS;
    case UnitExchange::None:
    case UnitExchange::Count: break;
    }
    return QUERY_READ_TIMEOUT_MS;
}

// How many bytes of a paced stream starting at startUs have fully arrived by nowUs:
// the largest m with unit_wireTimeUs(m) <= nowUs - startUs.
uint64_t pacedArrivals(int64_t startUs, int baud, int64_t nowUs)
{
    if (nowUs < startUs) {
        return 0;
    }
    const int64_t elapsed = std::min(nowUs - startUs, MAX_ELAPSED_US);
    const int64_t numerator = (elapsed + 1) * baud - 1 - baud / 2;
    return numerator < 0 ? 0 : static_cast<uint64_t>(numerator / 10'000'000);
}

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> result;
    size_t at = 0;
    while (at < text.size()) {
        const size_t begin = text.find_first_not_of(' ', at);
        if (begin == std::string::npos) {
            break;
        }
        const size_t end = std::min(text.find(' ', begin), text.size());
        result.push_back(text.substr(begin, end - begin));
        at = end;
    }
    return result;
}

bool parseDecimal(const std::string &word, uint64_t max, uint64_t *value)
{
    if (word.empty() || word.size() > 19) {
        return false;
    }
    uint64_t result = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    if (result > max) {
        return false;
    }
    *value = result;
    return true;
}

}  // namespace

struct UnitModel {
    UnitConfig config;
    int baud = 9600;
    Phase phase = Phase::Command;
    std::string line;
    bool lineTooLong = false;
    int probes = 0;
    int fwVer = 0, fwRev = 0, fwSub = 0;
    std::array<int, static_cast<size_t>(UnitExchange::Count)> exchangeCount{};

    std::deque<Chunk> output;
    int64_t outputEndUs = NEVER;  // when the last queued byte has arrived
    bool jammed = false;          // an endless tail is queued: nothing after it goes out
    std::vector<Step> steps;      // by time

    UnitImages images;
    // The image being taken.
    ImageKind kind = ImageKind::Fpga;
    int64_t announcedLength = 0;
    uint32_t announcedChecksum = 0;
    uint32_t sum = 0;
    int64_t dropLimit = -1;  // image bytes taken before a Drop; -1: none
    FaultSet dataFaults;
};

namespace {

std::vector<uint8_t> &imageBytes(UnitModel &u)
{
    return u.kind == ImageKind::Fpga ? u.images.fpga : u.images.mcu;
}

void addStep(UnitModel &u, const Step &step)
{
    const auto at = std::upper_bound(u.steps.begin(), u.steps.end(), step.atUs,
                                     [](int64_t t, const Step &s) { return t < s.atUs; });
    u.steps.insert(at, step);
}

void dropOffLine(UnitModel &u)
{
    u.phase = Phase::Dropped;
    u.output.clear();
    u.steps.clear();
    u.line.clear();
}

// Applies the unit's own changes of state due by untilUs.
void applySteps(UnitModel &u, int64_t untilUs)
{
    while (!u.steps.empty() && u.phase != Phase::Dropped && u.steps.front().atUs <= untilUs) {
        const Step step = u.steps.front();
        u.steps.erase(u.steps.begin());
        if (step.baud != 0) {
            u.baud = step.baud;
        }
        if (step.setsPhase) {
            u.phase = step.phase;
            u.line.clear();
            u.lineTooLong = false;
        }
        if (step.rebooted && !u.config.keepsFirmware) {
            // The image it was given is version 1.0.5.
            u.fwVer = 1;
            u.fwRev = 0;
            u.fwSub = 5;
        }
        if (step.drops) {
            dropOffLine(u);
        }
    }
}

// Queues bytes to start at atUs (or when the output before them is done);
// gives the time their last byte has arrived.
int64_t enqueue(UnitModel &u, const std::string &bytes, int64_t atUs, int baud, bool paced)
{
    const int64_t start = std::max(atUs, u.outputEndUs);
    if (bytes.empty()) {
        return start;
    }
    const int64_t end = paced ? start + unit_wireTimeUs(bytes.size(), baud) : start;
    if (!u.jammed) {
        u.output.push_back(Chunk{bytes, start, baud, paced, false});
        u.outputEndUs = end;
    }
    return end;
}

FaultSet takeFaults(UnitModel &u, UnitExchange exchange)
{
    FaultSet set;
    const int count = ++u.exchangeCount[static_cast<size_t>(exchange)];
    for (const UnitConfig::Fault &fault : u.config.faults) {
        const bool due =
            fault.occurrence == 0 ? (exchange == UnitExchange::Probe || count == 1) : count == fault.occurrence;
        if (fault.at != exchange || !due) {
            continue;
        }
        switch (fault.what) {
        case UnitFault::Silence: set.silence = true; break;
        case UnitFault::Garbled: set.garbled = true; break;
        case UnitFault::ExtraLineEnd: set.extraLineEnd = true; break;
        case UnitFault::Split: set.split = true; break;
        case UnitFault::Endless: set.endless = true; break;
        case UnitFault::Zeros: set.zeros = true; break;
        case UnitFault::Drop: set.drop = true; break;
        case UnitFault::None: break;
        }
    }
    return set;
}

// Queues a reply with its faults; gives the time the reply is over (its
// start when it is silenced). An endless tail goes at tailBaud, the rate the
// unit is at once the reply is out.
int64_t queueReply(UnitModel &u, std::string text, int64_t atUs, int baud, UnitExchange exchange,
                   const FaultSet &faults, int tailBaud)
{
    if (faults.silence) {
        return std::max(atUs, u.outputEndUs);
    }
    if (faults.zeros) {
        // Paced even without paceOutput, so that no transport is ever flooded.
        const int64_t start = std::max(atUs, u.outputEndUs);
        if (!u.jammed) {
            u.output.push_back(Chunk{std::string(1, '\0'), start, baud, true, true});
            u.jammed = true;
        }
        return start;
    }
    if (faults.extraLineEnd) {
        text += "\r\n";
    }
    if (faults.garbled) {
        unit_garble(reinterpret_cast<uint8_t *>(text.data()), text.size());
    }
    const bool paced = u.config.paceOutput;
    int64_t end = 0;
    if (faults.split && text.size() >= 2) {
        const int64_t gapMs = u.config.splitGapMs > 0 ? u.config.splitGapMs : readWindowMs(exchange) * 3 / 2;
        const size_t half = text.size() / 2;
        end = enqueue(u, text.substr(0, half), atUs, baud, paced);
        end = enqueue(u, text.substr(half), end + gapMs * 1000, baud, paced);
    } else {
        end = enqueue(u, text, atUs, baud, paced);
    }
    if (faults.endless && !u.jammed) {
        // Paced even without paceOutput, so that no transport is ever flooded.
        u.output.push_back(Chunk{text, end, tailBaud, true, true});
        u.jammed = true;
    }
    return end;
}

int64_t replyDelayUs(const UnitModel &u)
{
    return u.config.replyDelayMs * 1000;
}

// Every announced byte has arrived (at nowUs): the verdict, and for an
// accepted microcontroller image the reboot. The unit goes on in the
// resulting phase at once, or, when deferred, from nowUs on.
void finishImage(UnitModel &u, int64_t nowUs, bool deferred)
{
    const auto received = static_cast<int64_t>(imageBytes(u).size());
    const bool accepted = received == u.announcedLength && static_cast<uint32_t>(0u - u.sum) == u.announcedChecksum;
    const bool mcu = u.kind == ImageKind::Mcu;
    (mcu ? u.images.mcuAccepted : u.images.fpgaAccepted) = accepted;
    (mcu ? u.images.mcuComplete : u.images.fpgaComplete) = true;

    const std::string verdict = accepted ? "SUCCESS" : "FAILED";
    const UnitExchange exchange = mcu ? UnitExchange::McuData : UnitExchange::FpgaData;
    const int normal = u.config.normalBaud;
    const Phase next = mcu && accepted ? Phase::Rebooting : Phase::Command;
    if (deferred) {
        Step step{nowUs};
        step.setsPhase = true;
        step.phase = next;
        addStep(u, step);
    } else {
        u.phase = next;
    }
    if (next == Phase::Command) {
        queueReply(u, verdict, nowUs + replyDelayUs(u), UPLOAD_BAUD, exchange, u.dataFaults, UPLOAD_BAUD);
        return;
    }
    const int64_t end = queueReply(u, verdict, nowUs + replyDelayUs(u), UPLOAD_BAUD, exchange, u.dataFaults, normal);
    Step back{end};
    back.baud = normal;
    addStep(u, back);
    const int64_t closingAt = end + u.config.closingDelayMs * 1000;
    queueReply(u, u.config.closingText, closingAt, normal, UnitExchange::Closing, takeFaults(u, UnitExchange::Closing),
               normal);
    Step up{closingAt};
    up.setsPhase = true;
    up.phase = Phase::Command;
    up.rebooted = true;
    addStep(u, up);
}

void beginUpload(UnitModel &u, ImageKind kind, uint32_t checksum, int64_t length, int64_t nowUs)
{
    const bool mcu = kind == ImageKind::Mcu;
    u.kind = kind;
    u.announcedChecksum = checksum;
    u.announcedLength = length;
    u.sum = 0;
    imageBytes(u).clear();
    (mcu ? u.images.mcuAnnouncedChecksum : u.images.fpgaAnnouncedChecksum) = checksum;
    (mcu ? u.images.mcuAnnouncedLength : u.images.fpgaAnnouncedLength) = length;
    (mcu ? u.images.mcuAccepted : u.images.fpgaAccepted) = false;
    (mcu ? u.images.mcuComplete : u.images.fpgaComplete) = false;
    ++(mcu ? u.images.mcuUploads : u.images.fpgaUploads);

    const FaultSet commandFaults = takeFaults(u, mcu ? UnitExchange::McuCommand : UnitExchange::FpgaCommand);
    u.dataFaults = takeFaults(u, mcu ? UnitExchange::McuData : UnitExchange::FpgaData);
    u.dropLimit = u.dataFaults.drop ? std::min(u.config.dropAfterBytes, length) : -1;

    // "Ready" goes at the rate the command came at; the host switches to
    // 115200 only once it has read it, and so does the unit.
    const int64_t readyEnd =
        queueReply(u, "Ready", nowUs + u.config.readyDelayMs * 1000, u.baud,
                   mcu ? UnitExchange::McuCommand : UnitExchange::FpgaCommand, commandFaults, UPLOAD_BAUD);
    u.phase = Phase::AwaitReady;
    Step ready{readyEnd};
    ready.baud = UPLOAD_BAUD;
    ready.drops = u.dropLimit == 0;
    ready.setsPhase = length > 0;
    ready.phase = Phase::Image;
    addStep(u, ready);
    if (length == 0 && !ready.drops) {
        finishImage(u, readyEnd, true);
    }
}

bool parseUpload(const std::string &text, ImageKind *kind, uint32_t *checksum, int64_t *length)
{
    const std::vector<std::string> parts = words(text);
    if (parts.size() != 4 || parts[0] != "%fw" || (parts[1] != "-l" && parts[1] != "-h")) {
        return false;
    }
    uint64_t sumValue = 0, lengthValue = 0;
    if (!parseDecimal(parts[2], 0xFFFFFFFFu, &sumValue) || !parseDecimal(parts[3], 1u << 30, &lengthValue)) {
        return false;
    }
    *kind = parts[1] == "-l" ? ImageKind::Fpga : ImageKind::Mcu;
    *checksum = static_cast<uint32_t>(sumValue);
    *length = static_cast<int64_t>(lengthValue);
    return true;
}

std::string versionReply(const UnitModel &u)
{
    const UnitConfig &c = u.config;
    return std::to_string(u.fwVer) + "." + std::to_string(u.fwRev) + "." + std::to_string(u.fwSub) + "\r\n" + c.model +
           "\r\n" + std::to_string(c.fpgaVer) + "." + std::to_string(c.fpgaRev) + "\r\n" +
           std::to_string(c.deviceCode) + "\r\n>>";
}

void answerLine(UnitModel &u, const std::string &line, int64_t nowUs)
{
    const bool echo = line.compare(0, 2, "%%") != 0;
    const std::string text = echo ? line : line.substr(2);
    if (echo) {
        enqueue(u, text + "\r\n", nowUs, u.baud, u.config.paceOutput);
    }
    const int64_t replyAt = nowUs + replyDelayUs(u);
    ImageKind kind = ImageKind::Fpga;
    uint32_t checksum = 0;
    int64_t length = 0;
    if (u.lineTooLong) {
        enqueue(u, "Unknown command\r\n>>", replyAt, u.baud, u.config.paceOutput);
    } else if (text == "%help -c version") {
        const FaultSet faults = takeFaults(u, UnitExchange::Probe);
        if (++u.probes > u.config.missedProbes) {
            queueReply(u, UNIT_HELP_VERSION_REPLY, replyAt, u.baud, UnitExchange::Probe, faults, u.baud);
        }
    } else if (text == "%fw -v") {
        queueReply(u, versionReply(u), replyAt, u.baud, UnitExchange::Version, takeFaults(u, UnitExchange::Version),
                   u.baud);
    } else if (text == "%fw -p") {
        std::string reply = u.config.productReply;
        if (reply.empty()) {
            reply = u.config.variant == UnitVariant::TX ? UNIT_TX_PRODUCT_REPLY : UNIT_RX_PRODUCT_REPLY;
        }
        queueReply(u, reply, replyAt, u.baud, UnitExchange::Product, takeFaults(u, UnitExchange::Product), u.baud);
    } else if (parseUpload(text, &kind, &checksum, &length)) {
        beginUpload(u, kind, checksum, length, nowUs);
    } else if (text.empty()) {
        enqueue(u, ">>", replyAt, u.baud, u.config.paceOutput);
    } else {
        enqueue(u, "Unknown command\r\n>>", replyAt, u.baud, u.config.paceOutput);
    }
}

void takeCommandByte(UnitModel &u, uint8_t byte, int64_t nowUs)
{
    if (byte == '\n') {
        const std::string line = u.line;
        u.line.clear();
        answerLine(u, line, nowUs);
        u.lineTooLong = false;
        return;
    }
    // The CR of the host's "\n\r" arrives at the start of the next line; in
    // command mode a CR means nothing anywhere.
    if (byte == '\r' && (u.line.empty() || u.line.compare(0, 2, "%%") == 0)) {
        return;
    }
    if (u.line.size() >= MAX_LINE) {
        u.lineTooLong = true;
        return;
    }
    u.line.push_back(static_cast<char>(byte));
}

// Takes image bytes from data; gives how many it used.
size_t takeImageBytes(UnitModel &u, const uint8_t *data, size_t count, int64_t nowUs)
{
    std::vector<uint8_t> &image = imageBytes(u);
    const auto have = static_cast<int64_t>(image.size());
    const int64_t limit = u.dropLimit >= 0 ? u.dropLimit : u.announcedLength;
    const auto take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), limit - have));
    for (size_t i = 0; i < take; ++i) {
        u.sum += data[i];
    }
    image.insert(image.end(), data, data + take);
    const auto now = static_cast<int64_t>(image.size());
    if (u.dropLimit >= 0 && now >= u.dropLimit) {
        dropOffLine(u);
    } else if (now == u.announcedLength) {
        finishImage(u, nowUs, false);
    }
    return take;
}

}  // namespace

UnitModel *unit_create(const UnitConfig &config)
{
    auto *u = new UnitModel;
    u->config = config;
    u->baud = config.normalBaud;
    u->fwVer = config.fwVer;
    u->fwRev = config.fwRev;
    u->fwSub = config.fwSub;
    return u;
}

void unit_destroy(UnitModel *unit)
{
    delete unit;
}

void unit_receive(UnitModel *unit, int64_t nowUs, int hostBaud, const uint8_t *data, size_t count)
{
    UnitModel &u = *unit;
    applySteps(u, nowUs);
    if (u.phase == Phase::Dropped || count == 0) {
        return;
    }
    if (hostBaud != u.baud) {
        u.line.clear();
        u.lineTooLong = false;
        return;
    }
    size_t i = 0;
    while (i < count) {
        switch (u.phase) {
        case Phase::Command:
            takeCommandByte(u, data[i], nowUs);
            ++i;
            break;
        case Phase::Image: i += takeImageBytes(u, data + i, count - i, nowUs); break;
        case Phase::AwaitReady:
        case Phase::Rebooting:
        case Phase::Dropped: return;
        }
    }
}

bool unit_nextOutputTime(const UnitModel *unit, int64_t *atUs)
{
    if (unit->output.empty()) {
        return false;
    }
    const Chunk &c = unit->output.front();
    *atUs = c.paced ? c.startUs + unit_wireTimeUs(c.taken + 1, c.baud) : c.startUs;
    return true;
}

size_t unit_takeOutput(UnitModel *unit, int64_t nowUs, uint8_t *out, size_t capacity)
{
    UnitModel &u = *unit;
    size_t n = 0;
    int rate = 0;
    while (n < capacity && !u.output.empty()) {
        Chunk &c = u.output.front();
        if (n > 0 && c.baud != rate) {
            break;
        }
        uint64_t arrived = c.paced ? pacedArrivals(c.startUs, c.baud, nowUs) : (nowUs >= c.startUs ? UINT64_MAX : 0);
        if (!c.endless) {
            arrived = std::min<uint64_t>(arrived, c.bytes.size());
        }
        if (arrived <= c.taken) {
            break;
        }
        const auto take = static_cast<size_t>(std::min<uint64_t>(arrived - c.taken, capacity - n));
        if (c.endless) {
            const size_t period = c.bytes.size();
            for (size_t i = 0; i < take; ++i) {
                out[n + i] = static_cast<uint8_t>(c.bytes[(c.taken + i) % period]);
            }
        } else {
            std::copy_n(c.bytes.begin() + static_cast<std::ptrdiff_t>(c.taken), take, out + n);
        }
        c.taken += take;
        n += take;
        rate = c.baud;
        if (c.endless || c.taken < c.bytes.size()) {
            break;
        }
        u.output.pop_front();
    }
    // A change takes effect once every byte sent before it has been handed
    // out, so that whoever asks for the rate between two takes learns the
    // rate of the bytes still to come ("Ready" at the old rate, to the last).
    int64_t next = 0;
    const bool pending = unit_nextOutputTime(unit, &next);
    applySteps(u, pending ? std::min(nowUs, next - 1) : nowUs);
    return n;
}

int unit_currentBaud(const UnitModel *unit)
{
    return unit->baud;
}

int unit_outputBaud(const UnitModel *unit)
{
    return unit->output.empty() ? unit->baud : unit->output.front().baud;
}

bool unit_isDropped(const UnitModel *unit)
{
    return unit->phase == Phase::Dropped;
}

const UnitImages &unit_images(const UnitModel *unit)
{
    return unit->images;
}

int64_t unit_wireTimeUs(uint64_t bytes, int baud)
{
    return (static_cast<int64_t>(bytes) * 10'000'000 + baud / 2) / baud;
}

uint64_t unit_wireArrivals(int64_t startUs, int baud, int64_t nowUs)
{
    return pacedArrivals(startUs, baud, nowUs);
}

void unit_garble(uint8_t *bytes, size_t count)
{
    // Flipping the top bit changes every byte, and text stays free of zeros.
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(bytes[i] ^ 0x80u);
    }
}
