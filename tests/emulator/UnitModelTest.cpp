#include "UnitModel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct UnitDeleter {
    void operator()(UnitModel *unit) const { unit_destroy(unit); }
};
using Unit = std::unique_ptr<UnitModel, UnitDeleter>;

UnitConfig quickConfig()
{
    UnitConfig config;
    config.paceOutput = false;
    return config;
}

Unit makeUnit(const UnitConfig &config = quickConfig())
{
    return Unit(unit_create(config));
}

void send(const Unit &unit, int64_t atUs, int baud, const std::string &bytes)
{
    unit_receive(unit.get(), atUs, baud, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// Everything that has arrived by nowUs.
std::string takeAll(const Unit &unit, int64_t nowUs)
{
    std::string text;
    uint8_t buffer[256];
    while (size_t n = unit_takeOutput(unit.get(), nowUs, buffer, sizeof buffer)) {
        text.append(reinterpret_cast<char *>(buffer), n);
    }
    return text;
}

// Byte by byte, each taken at its own arrival time, up to untilUs.
std::vector<std::pair<int64_t, char>> arrivals(const Unit &unit, int64_t untilUs)
{
    std::vector<std::pair<int64_t, char>> result;
    int64_t at = 0;
    while (unit_nextOutputTime(unit.get(), &at) && at <= untilUs) {
        uint8_t byte = 0;
        EXPECT_EQ(unit_takeOutput(unit.get(), at, &byte, 1), 1u);
        result.emplace_back(at, static_cast<char>(byte));
    }
    return result;
}

uint32_t checksumOf(const std::string &image)
{
    uint32_t sum = 0;
    for (unsigned char byte : image) {
        sum += byte;
    }
    return 0u - sum;
}

std::string uploadCommand(const char *option, uint32_t checksum, size_t length)
{
    return std::string("%%%fw ") + option + " " + std::to_string(checksum) + " " + std::to_string(length) + "\n\r";
}

const std::string PROBE = "%%%help -c version\n\r";
const int64_t SECOND = 1'000'000;

// Runs the FPGA upload up to the point where the unit waits for the image
// at 115200; gives the time by which "Ready" is out.
int64_t startFpgaUpload(const Unit &unit, const std::string &image, int64_t atUs = 0)
{
    send(unit, atUs, 9600, uploadCommand("-l", checksumOf(image), image.size()));
    EXPECT_EQ(takeAll(unit, atUs + 50'000), "Ready");
    return atUs + 50'000;
}

}  // namespace

TEST(UnitModelTest, AnswersEachCommandAfterTheReplyDelay)
{
    UnitConfig config = quickConfig();
    config.fwVer = 2;
    config.fwRev = 13;
    config.fwSub = 7;
    config.model = "SDI12G";
    config.fpgaVer = 3;
    config.fpgaRev = 9;
    config.deviceCode = 42;
    Unit unit = makeUnit(config);

    send(unit, 0, 9600, PROBE);
    EXPECT_EQ(takeAll(unit, 1999), "");
    EXPECT_EQ(takeAll(unit, 2000), "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>");
    EXPECT_EQ(std::string(UNIT_HELP_VERSION_REPLY).size(), 74u);
    send(unit, SECOND, 9600, "%%%fw -v\n\r");
    EXPECT_EQ(takeAll(unit, 2 * SECOND), "2.13.7\r\nSDI12G\r\n3.9\r\n42\r\n>>");
    send(unit, 3 * SECOND, 9600, "%%%fw -p\n\r");
    EXPECT_EQ(takeAll(unit, 4 * SECOND), "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>");
    send(unit, 5 * SECOND, 9600, "%%%fw -x\n\r");
    EXPECT_EQ(takeAll(unit, 6 * SECOND), "Unknown command\r\n>>");
    // Without its own "%" the probe is another command.
    send(unit, 7 * SECOND, 9600, "%%help -c version\n\r");
    EXPECT_EQ(takeAll(unit, 8 * SECOND), "Unknown command\r\n>>");

    config.variant = UnitVariant::RX;
    Unit rx = makeUnit(config);
    send(rx, 0, 9600, "%%%fw -p\n\r");
    EXPECT_EQ(takeAll(rx, SECOND), "Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\r\n>>");
    config.productReply = "Other box\r\n>>";
    Unit other = makeUnit(config);
    send(other, 0, 9600, "%%%fw -p\n\r");
    EXPECT_EQ(takeAll(other, SECOND), "Other box\r\n>>");
}

TEST(UnitModelTest, LineParsing)
{
    Unit unit = makeUnit();
    // A command in pieces, with CRs inside that command mode ignores.
    send(unit, 0, 9600, "%%%fw\r -");
    send(unit, 10, 9600, "v\n");
    send(unit, 20, 9600, "\r");
    EXPECT_EQ(takeAll(unit, SECOND), "1.0.4\r\nSDI6G\r\n1.4\r\n1\r\n>>");

    // Echo mode: the line comes back first, then the reply.
    send(unit, 2 * SECOND, 9600, "%fw -p\n\r");
    EXPECT_EQ(takeAll(unit, 3 * SECOND), std::string("%fw -p\r\n") + UNIT_TX_PRODUCT_REPLY);
}

TEST(UnitModelTest, BytesAtAnotherRateAreNoise)
{
    Unit unit = makeUnit();
    send(unit, 0, 19200, PROBE);
    EXPECT_EQ(takeAll(unit, SECOND), "");
    int64_t at = 0;
    EXPECT_FALSE(unit_nextOutputTime(unit.get(), &at));

    // Noise in the middle of a line throws away what came before it (what is
    // left has no "%%" and is echoed).
    send(unit, 2 * SECOND, 9600, "%%%help -c");
    send(unit, 2 * SECOND + 10, 115200, "x");
    send(unit, 2 * SECOND + 20, 9600, " version\n\r");
    EXPECT_EQ(takeAll(unit, 3 * SECOND), " version\r\nUnknown command\r\n>>");
}

TEST(UnitModelTest, FpgaUploadSwitchesTo115200AfterReady)
{
    Unit unit = makeUnit();
    const std::string image = std::string("\r\n\r%%\0\xff\n", 8) + "tail";
    send(unit, 0, 9600, uploadCommand("-l", checksumOf(image), image.size()));
    EXPECT_EQ(takeAll(unit, 49'999), "");
    EXPECT_EQ(unit_outputBaud(unit.get()), 9600);
    EXPECT_EQ(takeAll(unit, 50'000), "Ready");
    EXPECT_EQ(unit_images(unit.get()).fpgaAnnouncedLength, static_cast<int64_t>(image.size()));

    // At the old rate the image is noise; at 115200 every byte counts,
    // including the line ends right at its start.
    send(unit, 60'000, 9600, image);
    EXPECT_EQ(unit_currentBaud(unit.get()), 115200);
    EXPECT_TRUE(unit_images(unit.get()).fpga.empty());
    send(unit, 70'000, 115200, image.substr(0, 3));
    send(unit, 80'000, 115200, image.substr(3));
    const UnitImages &images = unit_images(unit.get());
    EXPECT_EQ(std::string(images.fpga.begin(), images.fpga.end()), image);
    EXPECT_TRUE(images.fpgaComplete);
    EXPECT_TRUE(images.fpgaAccepted);
    EXPECT_EQ(takeAll(unit, 82'000), "SUCCESS");

    // The unit stays at 115200 for the microcontroller command.
    send(unit, SECOND, 115200, PROBE);
    EXPECT_EQ(takeAll(unit, 2 * SECOND), UNIT_HELP_VERSION_REPLY);
}

TEST(UnitModelTest, ChecksumAndLengthDecideTheVerdict)
{
    const std::string image = "\x01\x02\x03";
    EXPECT_EQ(checksumOf(image), 4294967290u);
    {
        Unit unit = makeUnit();
        send(unit, 0, 9600, uploadCommand("-l", checksumOf(image) + 1, image.size()));
        takeAll(unit, 50'000);
        send(unit, 60'000, 115200, image);
        EXPECT_EQ(takeAll(unit, SECOND), "FAILED");
        EXPECT_FALSE(unit_images(unit.get()).fpgaAccepted);
        EXPECT_TRUE(unit_images(unit.get()).fpgaComplete);
    }
    {
        // A short image gets no verdict at all, however long the unit waits.
        Unit unit = makeUnit();
        startFpgaUpload(unit, image);
        send(unit, 60'000, 115200, image.substr(0, 2));
        EXPECT_EQ(takeAll(unit, 1000 * SECOND), "");
        EXPECT_FALSE(unit_images(unit.get()).fpgaComplete);
    }
    {
        // Bytes past the announced length are a command line again.
        Unit unit = makeUnit();
        startFpgaUpload(unit, image);
        send(unit, 60'000, 115200, image + PROBE);
        EXPECT_EQ(unit_images(unit.get()).fpga.size(), 3u);
        EXPECT_EQ(takeAll(unit, SECOND), std::string("SUCCESS") + UNIT_HELP_VERSION_REPLY);
    }
    for (uint32_t checksum : {0u, 1u}) {
        // An empty image is judged at once, at 115200.
        Unit unit = makeUnit();
        send(unit, 0, 9600, uploadCommand("-l", checksum, 0));
        std::vector<std::pair<int, std::string>> pieces;
        uint8_t buffer[64];
        while (size_t n = unit_takeOutput(unit.get(), SECOND, buffer, sizeof buffer)) {
            pieces.emplace_back(unit_currentBaud(unit.get()), std::string(buffer, buffer + n));
        }
        const char *verdict = checksum == 0 ? "SUCCESS" : "FAILED";
        ASSERT_EQ(pieces.size(), 2u) << "one take never mixes two rates";
        EXPECT_EQ(pieces[0].second, "Ready");
        EXPECT_EQ(pieces[1].second, verdict);
        EXPECT_EQ(unit_currentBaud(unit.get()), 115200);
    }
}

TEST(UnitModelTest, MicrocontrollerUploadRebootsAtTheNormalRate)
{
    Unit unit = makeUnit();
    startFpgaUpload(unit, "");
    takeAll(unit, 60'000);
    const std::string image = "firmware\r\n";
    send(unit, SECOND, 115200, uploadCommand("-h", checksumOf(image), image.size()));
    EXPECT_EQ(unit_outputBaud(unit.get()), 115200);
    EXPECT_EQ(takeAll(unit, SECOND + 50'000), "Ready");
    send(unit, 2 * SECOND, 115200, image);
    EXPECT_TRUE(unit_images(unit.get()).mcuAccepted);
    const int64_t success = 2 * SECOND + 2000;
    EXPECT_EQ(takeAll(unit, success), "SUCCESS");

    // Rebooting: silent and deaf at either rate until the closing text.
    send(unit, 3 * SECOND, 9600, PROBE);
    send(unit, 4 * SECOND, 115200, PROBE);
    const int64_t closing = success + 144 * SECOND;
    int64_t next = 0;
    ASSERT_TRUE(unit_nextOutputTime(unit.get(), &next));
    EXPECT_EQ(next, closing);
    EXPECT_EQ(unit_outputBaud(unit.get()), 9600);
    EXPECT_EQ(takeAll(unit, closing), "[Dexrig 6V IZA DOVOVUDI ZARE RIZOR 1.0.5]\r\n>>");

    send(unit, closing + SECOND, 9600, "%%%fw -v\n\r");
    EXPECT_EQ(takeAll(unit, closing + 2 * SECOND), "1.0.5\r\nSDI6G\r\n1.4\r\n1\r\n>>");
    EXPECT_EQ(unit_currentBaud(unit.get()), 9600);
}

TEST(UnitModelTest, PacedBytesArriveAtTheWireRate)
{
    Unit unit = makeUnit(UnitConfig{});
    send(unit, 0, 9600, PROBE);
    send(unit, 10, 9600, "%%%fw -x\n\r");
    const auto bytes = arrivals(unit, 10 * SECOND);
    ASSERT_EQ(bytes.size(), 74u + 19u);
    EXPECT_EQ(bytes[0].first, 2000 + 1042);
    EXPECT_EQ(bytes[1].first, 2000 + 2083);
    EXPECT_EQ(bytes[73].first, 2000 + 77083);
    // The second reply waits for the first one's last byte.
    EXPECT_EQ(bytes[74].first, 2000 + 77083 + 1042);

    // Partial takes hand out only what has arrived.
    send(unit, 20 * SECOND, 9600, PROBE);
    EXPECT_EQ(takeAll(unit, 20 * SECOND + 2000 + 2083), "ve");
    EXPECT_EQ(takeAll(unit, 20 * SECOND + 2000 + 3124), "");
    EXPECT_EQ(takeAll(unit, 20 * SECOND + 2000 + 3125), "r");

    // "Ready" at 9600, then the verdict at 115200, 87 microseconds a byte.
    Unit readyPaced = makeUnit(UnitConfig{});
    send(readyPaced, 0, 9600, uploadCommand("-l", 0, 0));
    const auto ready = arrivals(readyPaced, SECOND);
    ASSERT_EQ(ready.size(), 12u);
    EXPECT_EQ(ready[4].first, 50'000 + 5208);
    EXPECT_EQ(ready[5].first, 50'000 + 5208 + 2000 + 87);
}

TEST(UnitModelTest, MissedProbesAndProbeFaultsHoldForEveryProbe)
{
    UnitConfig config = quickConfig();
    config.missedProbes = 2;
    Unit unit = makeUnit(config);
    for (int i = 0; i < 3; ++i) {
        send(unit, i * SECOND, 9600, PROBE);
        EXPECT_EQ(takeAll(unit, i * SECOND + 500'000), i < 2 ? "" : UNIT_HELP_VERSION_REPLY) << "probe " << i;
    }

    config.missedProbes = 0;
    config.faults = {{UnitExchange::Probe, UnitFault::ExtraLineEnd}};
    Unit faulty = makeUnit(config);
    for (int i = 0; i < 2; ++i) {
        send(faulty, i * SECOND, 9600, PROBE);
        EXPECT_EQ(takeAll(faulty, i * SECOND + 500'000), std::string(UNIT_HELP_VERSION_REPLY) + "\r\n");
    }
}

TEST(UnitModelTest, ReplyFaultsApplyOnceToTheirExchange)
{
    const std::string version = "1.0.4\r\nSDI6G\r\n1.4\r\n1\r\n>>";
    auto firstTwoVersions = [&](UnitFault fault) {
        UnitConfig config = quickConfig();
        config.faults = {{UnitExchange::Version, fault}};
        Unit unit = makeUnit(config);
        send(unit, 0, 9600, PROBE);
        const std::string probe = takeAll(unit, SECOND);
        EXPECT_EQ(probe, UNIT_HELP_VERSION_REPLY);
        send(unit, 10 * SECOND, 9600, "%%%fw -v\n\r");
        std::string first = takeAll(unit, 20 * SECOND);
        send(unit, 30 * SECOND, 9600, "%%%fw -v\n\r");
        EXPECT_EQ(takeAll(unit, 40 * SECOND), version);
        return first;
    };
    EXPECT_EQ(firstTwoVersions(UnitFault::Silence), "");
    EXPECT_EQ(firstTwoVersions(UnitFault::ExtraLineEnd), version + "\r\n");
    EXPECT_EQ(firstTwoVersions(UnitFault::Split), version);
    const std::string garbled = firstTwoVersions(UnitFault::Garbled);
    ASSERT_EQ(garbled.size(), version.size());
    for (size_t i = 0; i < version.size(); ++i) {
        EXPECT_NE(garbled[i], version[i]);
    }
    std::string again = garbled;
    unit_garble(reinterpret_cast<uint8_t *>(again.data()), again.size());
    EXPECT_EQ(again, version) << "the same change every time";
}

TEST(UnitModelTest, SplitReplyWaitsOutTheReadWindow)
{
    UnitConfig config = quickConfig();
    config.faults = {{UnitExchange::Product, UnitFault::Split}};
    Unit unit = makeUnit(config);
    send(unit, 0, 9600, "%%%fw -p\n\r");
    const std::string product = UNIT_TX_PRODUCT_REPLY;
    const size_t half = product.size() / 2;
    EXPECT_EQ(takeAll(unit, 2000), product.substr(0, half));
    EXPECT_EQ(takeAll(unit, 2000 + 1'499'999), "");
    EXPECT_EQ(takeAll(unit, 2000 + 1'500'000), product.substr(half));

    // Paced, with a given gap: the gap runs from the first half's last byte.
    config.paceOutput = true;
    config.splitGapMs = 20;
    Unit paced = makeUnit(config);
    send(paced, 0, 9600, "%%%fw -p\n\r");
    const auto bytes = arrivals(paced, 10 * SECOND);
    ASSERT_EQ(bytes.size(), product.size());
    EXPECT_EQ(bytes[half - 1].first, 2000 + 20833);
    EXPECT_EQ(bytes[half].first, 2000 + 20833 + 20'000 + 1042);
}

TEST(UnitModelTest, EndlessReplyNeverStopsAndIsPacedAnyway)
{
    UnitConfig config = quickConfig();
    config.faults = {{UnitExchange::Probe, UnitFault::Endless}};
    Unit unit = makeUnit(config);
    send(unit, 0, 9600, PROBE);
    EXPECT_EQ(takeAll(unit, 2000), UNIT_HELP_VERSION_REPLY);
    std::vector<uint8_t> buffer(1 << 20);
    const size_t n = unit_takeOutput(unit.get(), 2000 + SECOND, buffer.data(), buffer.size());
    EXPECT_EQ(n, 960u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 74), UNIT_HELP_VERSION_REPLY);
    // Far in the future a take is bounded by its capacity alone.
    EXPECT_EQ(unit_takeOutput(unit.get(), 1000000 * SECOND, buffer.data(), 4096), 4096u);
    int64_t at = 0;
    EXPECT_TRUE(unit_nextOutputTime(unit.get(), &at));

    // After "Ready" the tail runs at the new rate.
    config.faults = {{UnitExchange::FpgaCommand, UnitFault::Endless}};
    Unit upload = makeUnit(config);
    send(upload, 0, 9600, uploadCommand("-l", 0, 10));
    EXPECT_EQ(takeAll(upload, 50'000), "Ready");
    EXPECT_EQ(unit_outputBaud(upload.get()), 115200);
    EXPECT_EQ(takeAll(upload, 50'000 + 870), "ReadyReady");
}

TEST(UnitModelTest, DropTakesTheUnitOffTheLine)
{
    UnitConfig config = quickConfig();
    config.faults = {{UnitExchange::FpgaData, UnitFault::Drop}};
    config.dropAfterBytes = 100;
    Unit unit = makeUnit(config);
    const std::string image(300, 'x');
    startFpgaUpload(unit, image);
    send(unit, 60'000, 115200, image.substr(0, 99));
    EXPECT_FALSE(unit_isDropped(unit.get()));
    send(unit, 70'000, 115200, image.substr(99));
    EXPECT_TRUE(unit_isDropped(unit.get()));
    EXPECT_EQ(unit_images(unit.get()).fpga.size(), 100u);
    send(unit, 80'000, 115200, PROBE);
    EXPECT_EQ(takeAll(unit, 1000 * SECOND), "");

    // An image shorter than the drop point is cut at its end: no verdict.
    config.faults = {{UnitExchange::McuData, UnitFault::Drop}};
    config.dropAfterBytes = 4096;
    Unit mcu = makeUnit(config);
    startFpgaUpload(mcu, "abc");
    send(mcu, 60'000, 115200, "abc");
    EXPECT_EQ(takeAll(mcu, SECOND), "SUCCESS");
    send(mcu, 2 * SECOND, 115200, uploadCommand("-h", checksumOf("abc"), 3));
    EXPECT_EQ(takeAll(mcu, 3 * SECOND), "Ready");
    send(mcu, 4 * SECOND, 115200, "abc");
    EXPECT_TRUE(unit_isDropped(mcu.get()));
    EXPECT_EQ(takeAll(mcu, 1000 * SECOND), "");
}

TEST(UnitModelTest, ClosingTextCarriesItsFault)
{
    UnitConfig config = quickConfig();
    config.faults = {{UnitExchange::Closing, UnitFault::Garbled}, {UnitExchange::McuData, UnitFault::Silence}};
    config.closingText = "[up]\r\n>>";
    config.closingDelayMs = 5000;
    Unit unit = makeUnit(config);
    send(unit, 0, 9600, uploadCommand("-h", 0, 0));
    EXPECT_EQ(takeAll(unit, 50'000), "Ready");
    // The verdict is silenced, but the unit took the image and reboots.
    EXPECT_TRUE(unit_images(unit.get()).mcuAccepted);
    EXPECT_EQ(takeAll(unit, 52'000 + 5 * SECOND - 1), "");
    std::string closing = takeAll(unit, 52'000 + 5 * SECOND);
    unit_garble(reinterpret_cast<uint8_t *>(closing.data()), closing.size());
    EXPECT_EQ(closing, "[up]\r\n>>");
}

TEST(UnitModelTest, RateKnownBeforeEachByteIsTaken)
{
    // Whoever reads byte by byte and asks the rate first (as a simulated
    // port does to decide what is noise) sees the rate of that very byte.
    for (bool paced : {false, true}) {
        UnitConfig config;
        config.paceOutput = paced;
        config.closingDelayMs = 1000;
        config.closingText = "[up]>>";
        Unit unit = makeUnit(config);
        std::string text, rates;
        auto drainWithRates = [&](int64_t untilUs) {
            int64_t at = 0;
            while (unit_nextOutputTime(unit.get(), &at) && at <= untilUs) {
                const int rate = unit_currentBaud(unit.get());
                EXPECT_EQ(rate, unit_outputBaud(unit.get()));
                uint8_t byte = 0;
                ASSERT_EQ(unit_takeOutput(unit.get(), at, &byte, 1), 1u);
                text += static_cast<char>(byte);
                rates += rate == 9600 ? 'n' : 'u';
            }
        };
        send(unit, 0, 9600, uploadCommand("-l", 0, 0));
        drainWithRates(SECOND);
        send(unit, SECOND, 115200, uploadCommand("-h", checksumOf("ab"), 2));
        drainWithRates(SECOND + 100'000);
        send(unit, 2 * SECOND, 115200, "ab");
        drainWithRates(10 * SECOND);
        EXPECT_EQ(text, "ReadySUCCESSReadySUCCESS[up]>>");
        EXPECT_EQ(rates, std::string(5, 'n') + std::string(19, 'u') + std::string(6, 'n')) << "paced " << paced;
    }
}
