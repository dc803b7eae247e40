// The emulated unit: its side of every exchange the updater has with it, as
// plain functions over one state record. It knows nothing of transports; the
// simulated platform of the tests and the OrvaneUnitSim program both drive it
// with bytes and microsecond timestamps.
#ifndef UNITMODEL_H_
#define UNITMODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class UnitVariant { TX, RX };

// The exchanges of an update, in the order they happen; each can carry a fault.
enum class UnitExchange {
    None,
    Probe,        // "%help -c version" and its help text
    Version,      // "%fw -v" and the version reply
    Product,      // "%fw -p" and the identity line
    FpgaCommand,  // "%fw -l ..." and "Ready"
    FpgaData,     // the FPGA image bytes and "SUCCESS"
    McuCommand,   // "%fw -h ..." and "Ready"
    McuData,      // the microcontroller image bytes and "SUCCESS"
    Closing,      // the text the unit prints once it has rebooted
    Count
};

enum class UnitFault {
    None,
    Silence,       // no reply at all
    Garbled,       // the reply's bytes changed so that they match nothing
    ExtraLineEnd,  // the right reply followed by "\r\n"
    Split,         // the reply in two pieces, splitGapMs apart
    Endless,       // the reply, then bytes without end
    Zeros,         // zero bytes without end instead of the reply
    Drop,          // the connection goes away (only FpgaData/McuData: after dropAfterBytes image bytes)
};

struct UnitConfig {
    UnitVariant variant = UnitVariant::TX;
    int normalBaud = 9600;
    // The version reply: "%d.%d.%d\r\n%s\r\n%d.%d\r\n%d\r\n>>".
    int fwVer = 1, fwRev = 0, fwSub = 4;
    std::string model = "SDI6G";
    int fpgaVer = 1, fpgaRev = 4;
    int deviceCode = 1;
    // Replaces the identity line when not empty (e.g. another product).
    std::string productReply;
    // Text after the reboot; must begin with "[" and end with ">>" to count.
    std::string closingText = "[Dexrig 6V IZA DOVOVUDI ZARE RIZOR 1.0.5]\r\n>>";
    int64_t closingDelayMs = 144000;  // after the microcontroller "SUCCESS"
    int64_t replyDelayMs = 2;         // from the end of a command line to its reply
    int64_t readyDelayMs = 50;        // from an upload command to "Ready"
    bool paceOutput = true;           // bytes leave at the unit's own wire rate
    int missedProbes = 0;             // the first N probes get no answer
    // After the reboot, the version reply still gives the firmware it had:
    // the image it took and confirmed did not take.
    bool keepsFirmware = false;

    // One fault at one exchange (several can be given; each applies once,
    // at the first time its exchange happens, except Probe faults, which hold
    // for every probe).
    struct Fault {
        UnitExchange at = UnitExchange::None;
        UnitFault what = UnitFault::None;
        // 0: as above; n: only the n-th time the exchange happens (the second
        // "%fw -p" of a receiver, the second probe at a rate).
        int occurrence = 0;
    };
    std::vector<Fault> faults;
    int64_t splitGapMs = 0;         // 0: 1.5 read windows of that exchange
    int64_t dropAfterBytes = 4096;  // image bytes taken before a Drop fault
};

// What the unit has taken of each image, for the tests to compare.
struct UnitImages {
    std::vector<uint8_t> fpga;
    std::vector<uint8_t> mcu;
    uint32_t fpgaAnnouncedChecksum = 0, mcuAnnouncedChecksum = 0;
    int64_t fpgaAnnouncedLength = -1, mcuAnnouncedLength = -1;
    bool fpgaAccepted = false, mcuAccepted = false;  // "SUCCESS" was sent
    // Upload commands taken, and whether every announced byte of the latest
    // one has arrived (so that a program can store each finished image once).
    int fpgaUploads = 0, mcuUploads = 0;
    bool fpgaComplete = false, mcuComplete = false;
};

struct UnitModel;

// A new unit in its normal state, at its normal rate.
UnitModel *unit_create(const UnitConfig &config);
void unit_destroy(UnitModel *unit);

// Bytes from the host that reached the unit at nowUs, sent at hostBaud. Bytes
// sent at a rate other than the unit's current one are noise to it.
void unit_receive(UnitModel *unit, int64_t nowUs, int hostBaud, const uint8_t *data, size_t count);

// The time at which the next byte the unit sends has fully arrived on the
// line, or false when nothing is pending. With paceOutput, one byte takes
// 10 bits at the unit's current rate.
bool unit_nextOutputTime(const UnitModel *unit, int64_t *atUs);
// Takes up to `capacity` bytes that have arrived by nowUs, in order.
size_t unit_takeOutput(UnitModel *unit, int64_t nowUs, uint8_t *out, size_t capacity);

// The rate the unit listens at, as of the latest time it was given.
int unit_currentBaud(const UnitModel *unit);
// The rate the next pending byte is sent at (the current rate when nothing is
// pending); one unit_takeOutput call never mixes two rates.
int unit_outputBaud(const UnitModel *unit);
// True once a Drop fault has taken the unit off the line.
bool unit_isDropped(const UnitModel *unit);
const UnitImages &unit_images(const UnitModel *unit);

// The time `bytes` bytes of 10 bits (start, 8 data, stop) take on a line at
// `baud`, to the nearest microsecond: the one figure the unit's pacing, the
// simulated line and the tests all use.
int64_t unit_wireTimeUs(uint64_t bytes, int baud);
// How many bytes of a stream that began to arrive at startUs, at `baud`, have
// fully arrived by nowUs (the inverse of unit_wireTimeUs).
uint64_t unit_wireArrivals(int64_t startUs, int baud, int64_t nowUs);

// Changes bytes that were sent at one rate and read at another so that they
// match nothing the host expects.
void unit_garble(uint8_t *bytes, size_t count);

// Fixed texts of the unit's command line interface.
extern const char *const UNIT_HELP_VERSION_REPLY;
extern const char *const UNIT_TX_PRODUCT_REPLY;
extern const char *const UNIT_RX_PRODUCT_REPLY;

#endif
