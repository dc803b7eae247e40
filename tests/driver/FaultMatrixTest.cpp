// Every exchange of an update against every fault the line or the unit can
// show: the program must end as it should for that step, within its read
// windows, and never claim a success the unit did not confirm.
#include "SimFixture.h"
#include "UpdateTranscript.h"

#include "CommandChannel.h"

#include <string>
#include <vector>

int OrvaneFwUpgrade_main();

namespace {

using namespace transcript;

enum class Outcome {
    Success,       // the success line, status 0
    NotConfirmed,  // both images acknowledged, closing text not right: no success line, no error line
    EitherEnd,     // both images acknowledged; the closing text may or may not pass
    Failed,        // `shown` on the console, then the error line; status 0
    NotFound,      // the search fails, the prompt meets the end of input: status -1
};

struct FaultCase {
    const char *name;
    UnitExchange at;
    UnitFault what;
    int occurrence;     // 0: the first time (every probe for the search)
    int failingWrite;   // the n-th write on COM3 fails instead (0: none)
    UnitVariant variant;
    Outcome outcome;
    std::string shown;  // for Failed: text the console must hold
    double maxSeconds;  // virtual time by which the program has ended
};

const std::string NOT_READY = "FAILED [Unit not ready]\r\n";
const std::string WRITE_ERROR = "\r\nError occurred when sending data !\r\n";
const std::string NO_SUCCESS = "\r\nExpected : SUCCESS  received : ";
const std::string UNKNOWN = CHECKING_PRODUCT + "FAILED, Unknown product\r\n";
const std::string NO_PRODUCT = CHECKING_PRODUCT + "FAILED\r\n";

// A whole update lasts 291 s; a reply without end holds one exchange until
// the 1,023,999-byte reply buffer is full: 1,067 s at 9600, 89 s at 115200.
constexpr double UPDATE = 300;
constexpr double FULL_AT_9600 = 1067;
constexpr double FULL_AT_115200 = 89;

constexpr UnitVariant TX = UnitVariant::TX;
constexpr UnitVariant RX = UnitVariant::RX;
constexpr UnitFault NO_FAULT = UnitFault::None;

// Writes on COM3 for a transmitter at 9600: 1-2 probes at 115200, 3 the probe
// at 9600, 4 "%fw -v", 5 "%fw -p", 6 "%fw -l", 7-110 FPGA pieces, 111 "%fw -h",
// 112-123 microcontroller pieces. A receiver queries twice: everything from
// "%fw -l" on comes one later, and its FPGA image takes 110 pieces.
const std::vector<FaultCase> CASES = {
    {"probe silent", UnitExchange::Probe, UnitFault::Silence, 0, 0, TX, Outcome::NotFound, "", 10},
    {"probe garbled", UnitExchange::Probe, UnitFault::Garbled, 0, 0, TX, Outcome::NotFound, "", 10},
    {"probe extra line end", UnitExchange::Probe, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::NotFound, "", 10},
    {"probe split", UnitExchange::Probe, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE},
    {"probe endless", UnitExchange::Probe, UnitFault::Endless, 0, 0, TX, Outcome::NotFound, "",
     10 * FULL_AT_9600 + 10},
    {"probe write fails", UnitExchange::None, NO_FAULT, 0, 3, TX, Outcome::Success, "", UPDATE},

    {"version silent", UnitExchange::Version, UnitFault::Silence, 0, 0, TX, Outcome::Failed, UNKNOWN, 10},
    {"version garbled", UnitExchange::Version, UnitFault::Garbled, 0, 0, TX, Outcome::Failed, UNKNOWN, 10},
    {"version extra line end", UnitExchange::Version, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Success, "",
     UPDATE},
    {"version split", UnitExchange::Version, UnitFault::Split, 0, 0, TX, Outcome::Failed, UNKNOWN, 10},
    {"version endless", UnitExchange::Version, UnitFault::Endless, 0, 0, TX, Outcome::Failed, NO_PRODUCT,
     2 * FULL_AT_9600 + 10},
    {"version write fails", UnitExchange::None, NO_FAULT, 0, 4, TX, Outcome::Failed, WRITE_ERROR + UNKNOWN, 10},

    {"product silent", UnitExchange::Product, UnitFault::Silence, 0, 0, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product garbled", UnitExchange::Product, UnitFault::Garbled, 0, 0, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product extra line end", UnitExchange::Product, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Failed,
     NO_PRODUCT, 10},
    {"product split", UnitExchange::Product, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE},
    {"product endless", UnitExchange::Product, UnitFault::Endless, 0, 0, TX, Outcome::Failed, NO_PRODUCT,
     2 * FULL_AT_9600 + 10},
    {"product write fails", UnitExchange::None, NO_FAULT, 0, 5, TX, Outcome::Failed,
     CHECKING_PRODUCT + WRITE_ERROR + "FAILED\r\n", 10},

    {"second product query silent", UnitExchange::Product, UnitFault::Silence, 2, 0, RX, Outcome::Failed,
     NO_PRODUCT, 10},
    {"second product query garbled", UnitExchange::Product, UnitFault::Garbled, 2, 0, RX, Outcome::Failed,
     NO_PRODUCT, 10},
    {"second product query extra line end", UnitExchange::Product, UnitFault::ExtraLineEnd, 2, 0, RX,
     Outcome::Failed, NO_PRODUCT, 10},
    {"second product query split", UnitExchange::Product, UnitFault::Split, 2, 0, RX, Outcome::Success, "", UPDATE},
    {"second product query endless", UnitExchange::Product, UnitFault::Endless, 2, 0, RX, Outcome::Failed,
     NO_PRODUCT, FULL_AT_9600 + 10},
    {"second product query write fails", UnitExchange::None, NO_FAULT, 0, 6, RX, Outcome::Failed,
     WRITE_ERROR + "FAILED\r\n", 10},

    {"fpga command silent", UnitExchange::FpgaCommand, UnitFault::Silence, 0, 0, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command garbled", UnitExchange::FpgaCommand, UnitFault::Garbled, 0, 0, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command extra line end", UnitExchange::FpgaCommand, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command split", UnitExchange::FpgaCommand, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE + 10},
    {"fpga command endless", UnitExchange::FpgaCommand, UnitFault::Endless, 0, 0, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, FULL_AT_115200 + 30},
    {"fpga command write fails", UnitExchange::None, NO_FAULT, 0, 6, TX, Outcome::Failed,
     PREPARING_FPGA + WRITE_ERROR + NOT_READY, 10},

    {"fpga data drops off", UnitExchange::FpgaData, UnitFault::Drop, 0, 0, TX, Outcome::Failed,
     SENDING_FPGA + "1%\b\b0%FAILED\r\n", 40},
    {"fpga data write fails", UnitExchange::None, NO_FAULT, 0, 50, TX, Outcome::Failed, "FAILED\r\n", 80},
    {"fpga success silent", UnitExchange::FpgaData, UnitFault::Silence, 0, 0, TX, Outcome::Failed, NO_SUCCESS,
     140},
    {"fpga success garbled", UnitExchange::FpgaData, UnitFault::Garbled, 0, 0, TX, Outcome::Failed, NO_SUCCESS,
     140},
    {"fpga success extra line end", UnitExchange::FpgaData, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Failed,
     NO_SUCCESS + "SUCCESS\r\n\r\n", 140},
    {"fpga success split", UnitExchange::FpgaData, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE + 10},
    {"fpga success endless", UnitExchange::FpgaData, UnitFault::Endless, 0, 0, TX, Outcome::Failed, NO_SUCCESS,
     140 + FULL_AT_115200},

    {"mcu command silent", UnitExchange::McuCommand, UnitFault::Silence, 0, 0, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command garbled", UnitExchange::McuCommand, UnitFault::Garbled, 0, 0, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command extra line end", UnitExchange::McuCommand, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command split", UnitExchange::McuCommand, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE + 10},
    {"mcu command endless", UnitExchange::McuCommand, UnitFault::Endless, 0, 0, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150 + FULL_AT_115200},
    {"mcu command write fails", UnitExchange::None, NO_FAULT, 0, 111, TX, Outcome::Failed,
     PREPARING_MCU + WRITE_ERROR + NOT_READY, 150},

    {"mcu data drops off", UnitExchange::McuData, UnitFault::Drop, 0, 0, TX, Outcome::Failed,
     SENDING_MCU + "1%\b\b8%FAILED\r\n", 150},
    {"mcu data write fails", UnitExchange::None, NO_FAULT, 0, 115, TX, Outcome::Failed, "FAILED\r\n", 150},
    {"mcu success silent", UnitExchange::McuData, UnitFault::Silence, 0, 0, TX, Outcome::Failed, NO_SUCCESS, 160},
    {"mcu success garbled", UnitExchange::McuData, UnitFault::Garbled, 0, 0, TX, Outcome::Failed, NO_SUCCESS, 160},
    {"mcu success extra line end", UnitExchange::McuData, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::Failed,
     NO_SUCCESS + "SUCCESS\r\n\r\n", 160},
    {"mcu success split", UnitExchange::McuData, UnitFault::Split, 0, 0, TX, Outcome::Success, "", UPDATE + 10},
    // The unit is back at its own rate once "SUCCESS" is out: the tail comes at 9600.
    {"mcu success endless", UnitExchange::McuData, UnitFault::Endless, 0, 0, TX, Outcome::Failed, NO_SUCCESS,
     160 + FULL_AT_9600},

    {"closing text silent", UnitExchange::Closing, UnitFault::Silence, 0, 0, TX, Outcome::NotConfirmed, "", UPDATE},
    {"closing text garbled", UnitExchange::Closing, UnitFault::Garbled, 0, 0, TX, Outcome::NotConfirmed, "",
     UPDATE},
    {"closing text extra line end", UnitExchange::Closing, UnitFault::ExtraLineEnd, 0, 0, TX, Outcome::NotConfirmed,
     "", UPDATE},
    {"closing text split", UnitExchange::Closing, UnitFault::Split, 0, 0, TX, Outcome::NotConfirmed, "", UPDATE},
    {"closing text endless", UnitExchange::Closing, UnitFault::Endless, 0, 0, TX, Outcome::EitherEnd, "", UPDATE},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FaultCase &c, std::ostream *out)
{
    *out << c.name;
}

class FaultMatrix : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

bool holds(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_P(FaultMatrix, EndsAsTheStepRequiresWithinItsWindows)
{
    const FaultCase &c = GetParam();
    UnitConfig config;
    config.variant = c.variant;
    if (c.what != NO_FAULT) {
        config.faults.push_back({c.at, c.what, c.occurrence});
    }
    config.dropAfterBytes = 4096;
    simPort_attachUnit(3, config);
    if (c.failingWrite != 0) {
        simPort_failWrite(3, c.failingWrite);
    }

    const int status = OrvaneFwUpgrade_main();
    const std::string text = simConsole_text();
    const bool successLine = holds(text, SUCCESS_LINE);
    const bool errorLine = holds(text, NOT_SUCCESSFUL);
    switch (c.outcome) {
    case Outcome::Success:
        EXPECT_TRUE(successLine);
        EXPECT_FALSE(errorLine);
        EXPECT_EQ(status, 0);
        break;
    case Outcome::NotConfirmed:
        EXPECT_FALSE(successLine);
        EXPECT_FALSE(errorLine);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(holds(text, "\b\b\b\b100%" + PRESS_ANY_KEY));
        break;
    case Outcome::EitherEnd:
        EXPECT_FALSE(errorLine);
        EXPECT_EQ(status, 0);
        break;
    case Outcome::Failed:
        EXPECT_TRUE(holds(text, c.shown)) << "missing: " << c.shown;
        EXPECT_TRUE(errorLine);
        EXPECT_FALSE(successLine);
        EXPECT_EQ(status, 0);
        break;
    case Outcome::NotFound:
        EXPECT_TRUE(holds(text, "FAILED\n\r\n\rEnter the COM port number : " + PRESS_ANY_KEY));
        EXPECT_FALSE(successLine);
        EXPECT_EQ(status, -1);
        break;
    }
    EXPECT_EQ(simConsole_keyWaits(), 1);
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_LE(seconds(), c.maxSeconds);
}

INSTANTIATE_TEST_SUITE_P(EveryExchange, FaultMatrix, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<FaultCase> &param) {
                             std::string name = param.param.name;
                             for (char &ch : name) {
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

TEST_F(SimTest, NeverEndingReplyHoldsOneExchangeUntilTheReplyBufferIsFull)
{
    for (int baud : {115200, 1200}) {
        SetUp();
        ASSERT_TRUE(allocateProgramBuffers());
        UnitConfig config;
        config.normalBaud = baud;
        config.faults.push_back({UnitExchange::Product, UnitFault::Endless, 0});
        simPort_attachUnit(1, config);
        ComPortAPI_SetBaudRate(baud);
        ASSERT_TRUE(ComPortAPI_OpenCOM(1));
        ComPortAPI_SetReadingTimeoutInMs(1000);
        const int64_t start = simClock_nowUs();
        EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>"));
        const double held = static_cast<double>(simClock_nowUs() - start) / 1e6;
        // 1,023,999 characters of 10 bits each, and not one window more.
        const double buffer = 1023999.0 * 10 / baud;
        EXPECT_GT(held, buffer);
        EXPECT_LT(held, buffer + 1.1);
        RecordProperty("held_seconds_at_" + std::to_string(baud), std::to_string(held));
        printf("never-ending reply at %d baud holds the exchange %.1f s\n", baud, held);
        TearDown();
    }
}
