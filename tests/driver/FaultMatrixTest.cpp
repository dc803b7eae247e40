// Every exchange of an update against every fault the line or the unit can
// show: the program must end as it should for that step, within its read
// windows, and never claim a success the unit did not confirm.
#include "NamedCase.h"
#include "SimTest.h"
#include "UpdateTranscript.h"

#include "channel/CommandChannel.h"
#include "update/UpdateDriver.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
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

// A write on COM3 that fails, picked by what it carries: the occurrence-th
// write that begins with `prefix`, or the piece of image `piecesAfter`
// writes after it. So it hits the same exchange whatever the image sizes.
struct FailingWrite {
    const char *prefix;  // nullptr: every write goes out
    int occurrence;
    int piecesAfter;
};

struct FaultCase : NamedCase {
    UnitExchange at;
    UnitFault what;
    int occurrence;        // 0: the first time (every probe for the search)
    FailingWrite failing;  // a failing write instead of a unit fault
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

// A whole update lasts 291 s.
constexpr double UPDATE = 300;

constexpr UnitVariant TX = UnitVariant::TX;
constexpr UnitVariant RX = UnitVariant::RX;
constexpr UnitFault NO_FAULT = UnitFault::None;

constexpr FailingWrite NONE{nullptr, 0, 0};
// The unit at 9600 hears the third probe, the first at its rate.
constexpr FailingWrite HEARD_PROBE{"%%%help -c version", 3, 0};
constexpr FailingWrite VERSION_QUERY{"%%%fw -v", 1, 0};
constexpr FailingWrite PRODUCT_QUERY{"%%%fw -p", 1, 0};
constexpr FailingWrite SECOND_PRODUCT_QUERY{"%%%fw -p", 2, 0};
constexpr FailingWrite FPGA_COMMAND{"%%%fw -l", 1, 0};
constexpr FailingWrite FPGA_PIECE_44{"%%%fw -l", 1, 44};
constexpr FailingWrite MCU_COMMAND{"%%%fw -h", 1, 0};
constexpr FailingWrite MCU_PIECE_4{"%%%fw -h", 1, 4};

const std::vector<FaultCase> CASES = {
    {"probe silent", UnitExchange::Probe, UnitFault::Silence, 0, NONE, TX, Outcome::NotFound, "", 10},
    {"probe garbled", UnitExchange::Probe, UnitFault::Garbled, 0, NONE, TX, Outcome::NotFound, "", 10},
    {"probe extra line end", UnitExchange::Probe, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::NotFound, "", 10},
    {"probe split", UnitExchange::Probe, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE},
    {"probe endless", UnitExchange::Probe, UnitFault::Endless, 0, NONE, TX, Outcome::NotFound, "", 10},
    {"probe zeros", UnitExchange::Probe, UnitFault::Zeros, 0, NONE, TX, Outcome::NotFound, "", 10},
    {"probe write fails", UnitExchange::None, NO_FAULT, 0, HEARD_PROBE, TX, Outcome::Success, "", UPDATE},

    {"version silent", UnitExchange::Version, UnitFault::Silence, 0, NONE, TX, Outcome::Failed, UNKNOWN, 10},
    {"version garbled", UnitExchange::Version, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed, UNKNOWN, 10},
    {"version extra line end", UnitExchange::Version, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Success, "",
     UPDATE},
    {"version split", UnitExchange::Version, UnitFault::Split, 0, NONE, TX, Outcome::Failed, UNKNOWN, 10},
    {"version endless", UnitExchange::Version, UnitFault::Endless, 0, NONE, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"version zeros", UnitExchange::Version, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed, UNKNOWN, 10},
    {"version write fails", UnitExchange::None, NO_FAULT, 0, VERSION_QUERY, TX, Outcome::Failed, WRITE_ERROR + UNKNOWN,
     10},

    {"product silent", UnitExchange::Product, UnitFault::Silence, 0, NONE, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product garbled", UnitExchange::Product, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product extra line end", UnitExchange::Product, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Failed, NO_PRODUCT,
     10},
    {"product split", UnitExchange::Product, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE},
    {"product endless", UnitExchange::Product, UnitFault::Endless, 0, NONE, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product zeros", UnitExchange::Product, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed, NO_PRODUCT, 10},
    {"product write fails", UnitExchange::None, NO_FAULT, 0, PRODUCT_QUERY, TX, Outcome::Failed,
     CHECKING_PRODUCT + WRITE_ERROR + "FAILED\r\n", 10},

    {"second product query silent", UnitExchange::Product, UnitFault::Silence, 2, NONE, RX, Outcome::Failed, NO_PRODUCT,
     10},
    {"second product query garbled", UnitExchange::Product, UnitFault::Garbled, 2, NONE, RX, Outcome::Failed,
     NO_PRODUCT, 10},
    {"second product query extra line end", UnitExchange::Product, UnitFault::ExtraLineEnd, 2, NONE, RX,
     Outcome::Failed, NO_PRODUCT, 10},
    {"second product query split", UnitExchange::Product, UnitFault::Split, 2, NONE, RX, Outcome::Success, "", UPDATE},
    {"second product query endless", UnitExchange::Product, UnitFault::Endless, 2, NONE, RX, Outcome::Failed,
     NO_PRODUCT, 10},
    {"second product query zeros", UnitExchange::Product, UnitFault::Zeros, 2, NONE, RX, Outcome::Failed, NO_PRODUCT,
     10},
    {"second product query write fails", UnitExchange::None, NO_FAULT, 0, SECOND_PRODUCT_QUERY, RX, Outcome::Failed,
     WRITE_ERROR + "FAILED\r\n", 10},

    {"fpga command silent", UnitExchange::FpgaCommand, UnitFault::Silence, 0, NONE, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command garbled", UnitExchange::FpgaCommand, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command extra line end", UnitExchange::FpgaCommand, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command split", UnitExchange::FpgaCommand, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE + 10},
    {"fpga command endless", UnitExchange::FpgaCommand, UnitFault::Endless, 0, NONE, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command zeros", UnitExchange::FpgaCommand, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed,
     PREPARING_FPGA + NOT_READY, 30},
    {"fpga command write fails", UnitExchange::None, NO_FAULT, 0, FPGA_COMMAND, TX, Outcome::Failed,
     PREPARING_FPGA + WRITE_ERROR + NOT_READY, 10},

    {"fpga data drops off", UnitExchange::FpgaData, UnitFault::Drop, 0, NONE, TX, Outcome::Failed,
     SENDING_FPGA + "1%\b\b0%FAILED\r\n", 40},
    {"fpga data write fails", UnitExchange::None, NO_FAULT, 0, FPGA_PIECE_44, TX, Outcome::Failed, "%FAILED\r\n", 80},
    {"fpga success silent", UnitExchange::FpgaData, UnitFault::Silence, 0, NONE, TX, Outcome::Failed, NO_SUCCESS, 140},
    {"fpga success garbled", UnitExchange::FpgaData, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed, NO_SUCCESS, 140},
    {"fpga success extra line end", UnitExchange::FpgaData, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Failed,
     NO_SUCCESS + "SUCCESS\r\n\r\n", 140},
    {"fpga success split", UnitExchange::FpgaData, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE + 10},
    {"fpga success endless", UnitExchange::FpgaData, UnitFault::Endless, 0, NONE, TX, Outcome::Failed,
     NO_SUCCESS + "SUCCESSSUCCESS", 140},
    {"fpga success zeros", UnitExchange::FpgaData, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed, NO_SUCCESS + "\r\n",
     140},

    {"mcu command silent", UnitExchange::McuCommand, UnitFault::Silence, 0, NONE, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command garbled", UnitExchange::McuCommand, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command extra line end", UnitExchange::McuCommand, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command split", UnitExchange::McuCommand, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE + 10},
    {"mcu command endless", UnitExchange::McuCommand, UnitFault::Endless, 0, NONE, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command zeros", UnitExchange::McuCommand, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed,
     PREPARING_MCU + NOT_READY, 150},
    {"mcu command write fails", UnitExchange::None, NO_FAULT, 0, MCU_COMMAND, TX, Outcome::Failed,
     PREPARING_MCU + WRITE_ERROR + NOT_READY, 150},

    {"mcu data drops off", UnitExchange::McuData, UnitFault::Drop, 0, NONE, TX, Outcome::Failed,
     SENDING_MCU + "1%\b\b8%FAILED\r\n", 150},
    {"mcu data write fails", UnitExchange::None, NO_FAULT, 0, MCU_PIECE_4, TX, Outcome::Failed, "%FAILED\r\n", 150},
    {"mcu success silent", UnitExchange::McuData, UnitFault::Silence, 0, NONE, TX, Outcome::Failed, NO_SUCCESS, 160},
    {"mcu success garbled", UnitExchange::McuData, UnitFault::Garbled, 0, NONE, TX, Outcome::Failed, NO_SUCCESS, 160},
    {"mcu success extra line end", UnitExchange::McuData, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::Failed,
     NO_SUCCESS + "SUCCESS\r\n\r\n", 160},
    {"mcu success split", UnitExchange::McuData, UnitFault::Split, 0, NONE, TX, Outcome::Success, "", UPDATE + 10},
    // The unit is back at its own rate once "SUCCESS" is out: the tail comes at 9600.
    {"mcu success endless", UnitExchange::McuData, UnitFault::Endless, 0, NONE, TX, Outcome::Failed, NO_SUCCESS, 160},
    {"mcu success zeros", UnitExchange::McuData, UnitFault::Zeros, 0, NONE, TX, Outcome::Failed, NO_SUCCESS + "\r\n",
     160},

    {"closing text silent", UnitExchange::Closing, UnitFault::Silence, 0, NONE, TX, Outcome::NotConfirmed, "", UPDATE},
    {"closing text garbled", UnitExchange::Closing, UnitFault::Garbled, 0, NONE, TX, Outcome::NotConfirmed, "", UPDATE},
    {"closing text extra line end", UnitExchange::Closing, UnitFault::ExtraLineEnd, 0, NONE, TX, Outcome::NotConfirmed,
     "", UPDATE},
    {"closing text split", UnitExchange::Closing, UnitFault::Split, 0, NONE, TX, Outcome::NotConfirmed, "", UPDATE},
    {"closing text endless", UnitExchange::Closing, UnitFault::Endless, 0, NONE, TX, Outcome::EitherEnd, "", UPDATE},
    {"closing text zeros", UnitExchange::Closing, UnitFault::Zeros, 0, NONE, TX, Outcome::NotConfirmed, "", UPDATE},
};

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
    if (c.failing.prefix != nullptr) {
        simPort_failWriteAfter(3, c.failing.prefix, c.failing.occurrence, c.failing.piecesAfter);
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
    // A failed write leaves an empty write in the log: the one picked, or the
    // first after the unit dropped off.
    const std::vector<std::string> sent = writes(3);
    const bool writeFails = c.failing.prefix != nullptr || c.what == UnitFault::Drop;
    EXPECT_EQ(std::count(sent.begin(), sent.end(), ""), writeFails ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(EveryExchange, FaultMatrix, ::testing::ValuesIn(CASES), CaseName());

namespace {

// A line that never stops, of text or of zero bytes, during one exchange of
// an update, with the unit at the slowest or the fastest rate of the search.
struct StreamCase {
    UnitExchange at;
    UnitFault what;
    int baud;
};

class StreamingLine : public SimTest, public ::testing::WithParamInterface<std::tuple<UnitExchange, UnitFault, int>> {};

// What the exchange compares with, the unit's delay before it answers, the
// rate its answer comes at, and its read window.
struct ExchangeFigures {
    std::string commandPrefix;  // of the write that begins the exchange; "" for the last image piece
    size_t expectedLength;
    int64_t delayUs;
    int streamBaud;
    int64_t windowUs;
};

ExchangeFigures figuresOf(UnitExchange at, int unitBaud)
{
    const UnitConfig unit;
    const int64_t replyUs = unit.replyDelayMs * 1000, readyUs = unit.readyDelayMs * 1000;
    switch (at) {
    case UnitExchange::Probe:
        return {"%%%help", strlen(UNIT_HELP_VERSION_REPLY), replyUs, unitBaud, MAX_WAIT_READ * 1000LL};
    case UnitExchange::Product:
        return {"%%%fw -p", strlen(UNIT_TX_PRODUCT_REPLY), replyUs, unitBaud, QUERY_READ_TIMEOUT_MS * 1000LL};
    case UnitExchange::FpgaCommand:
        return {"%%%fw -l", strlen("Ready"), readyUs, unitBaud, FPGA_READY_TIMEOUT_MS * 1000LL};
    case UnitExchange::McuCommand:
        return {"%%%fw -h", strlen("Ready"), readyUs, UPLOAD_BAUD_RATE, MCU_READY_TIMEOUT_MS * 1000LL};
    default: return {"", strlen("SUCCESS"), replyUs, UPLOAD_BAUD_RATE, DATA_REPLY_TIMEOUT_MS * 1000LL};
    }
}

// From the end of the write that begins the exchange to the next thing the
// program does with the port.
int64_t exchangeDuration(const std::vector<SimEvent> &all, size_t write)
{
    const SimEvent &w = all[write];
    const int64_t sent = w.timeUs + wire(static_cast<int64_t>(w.bytes.size()), w.baud);
    for (size_t i = write + 1; i < all.size(); ++i) {
        if (all[i].port == 3 && (all[i].kind == SimEventKind::Write || all[i].kind == SimEventKind::Close)) {
            return all[i].timeUs - sent;
        }
    }
    return -1;
}

// The write that begins the faulted exchange: the first probe at the unit's
// rate, the command, or the last piece of the image (the update ends there).
size_t beginningWrite(const std::vector<SimEvent> &all, const StreamCase &c, const ExchangeFigures &f)
{
    size_t lastPiece = all.size();
    for (size_t i = 0; i < all.size(); ++i) {
        const SimEvent &e = all[i];
        if (e.kind != SimEventKind::Write || e.port != 3) {
            continue;
        }
        if (f.commandPrefix.empty()) {
            lastPiece = e.bytes.rfind("%%%", 0) == 0 ? lastPiece : i;
        } else if (e.bytes.rfind(f.commandPrefix, 0) == 0 && (c.at != UnitExchange::Probe || e.baud == c.baud)) {
            return i;
        }
    }
    return lastPiece;
}

std::string streamCaseName(const ::testing::TestParamInfo<std::tuple<UnitExchange, UnitFault, int>> &param)
{
    static const char *const names[] = {"none",      "probe",       "version",  "product", "fpga_command",
                                        "fpga_data", "mcu_command", "mcu_data", "closing"};
    return std::string(names[static_cast<int>(std::get<0>(param.param))]) +
           (std::get<1>(param.param) == UnitFault::Zeros ? "_zeros_at_" : "_text_at_") +
           std::to_string(std::get<2>(param.param));
}

}  // namespace

TEST_P(StreamingLine, EndsTheExchangeWithinItsBudget)
{
    const StreamCase c{std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<2>(GetParam())};
    UnitConfig config;
    config.normalBaud = c.baud;
    config.faults.push_back({c.at, c.what});
    simPort_attachUnit(3, config);
    // A unit further on, for the search to go on to.
    simPort_attachUnit(4, UnitConfig{});

    EXPECT_EQ(OrvaneFwUpgrade_main(), 0);
    const std::string text = simConsole_text();
    if (c.at == UnitExchange::Probe) {
        EXPECT_TRUE(holds(text, found(4, 9600) + VERSIONS));
        EXPECT_TRUE(holds(text, SUCCESS_LINE));
    } else {
        EXPECT_TRUE(holds(text, NOT_SUCCESSFUL));
    }
    const ExchangeFigures f = figuresOf(c.at, c.baud);
    const std::vector<SimEvent> &all = simEvents_all();
    const size_t write = beginningWrite(all, c, f);
    ASSERT_LT(write, all.size());
    // The expected text's length, the margin and one byte more, and at most
    // one read window beyond.
    const int64_t budget = f.delayUs + wire(static_cast<int64_t>(f.expectedLength) + REPLY_MARGIN + 1, f.streamBaud);
    const int64_t took = exchangeDuration(all, write);
    EXPECT_GT(took, 0);
    EXPECT_LE(took, budget + f.windowUs);
    RecordProperty("exchange_us", std::to_string(took));
}

INSTANTIATE_TEST_SUITE_P(EveryExchange, StreamingLine,
                         ::testing::Combine(::testing::Values(UnitExchange::Probe, UnitExchange::Product,
                                                              UnitExchange::FpgaCommand, UnitExchange::FpgaData,
                                                              UnitExchange::McuCommand, UnitExchange::McuData),
                                            ::testing::Values(UnitFault::Endless, UnitFault::Zeros),
                                            ::testing::Values(1200, 115200)),
                         streamCaseName);
