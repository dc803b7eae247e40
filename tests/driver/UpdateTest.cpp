#include "FlattenedImage.h"
#include "NamedCase.h"
#include "SimTest.h"
#include "UpdateTranscript.h"

#include "firmware/BinImage.h"
#include "update/UpdateDriver.h"

#include <algorithm>
#include <string>
#include <vector>

int OrvaneFwUpgrade_main();

namespace {

using namespace transcript;

constexpr int TX_FPGA_LENGTH = 1055216;
constexpr int RX_FPGA_LENGTH = 1121376;
constexpr int MCU_LENGTH = 117648;

// An image on the wire at 115200, in 10,240-byte writes.
int64_t pieces(int64_t length)
{
    return length / 10240 * wire(10240, 115200) + wire(length % 10240, 115200);
}

class Update : public SimTest {
protected:
    std::string answers;
    std::string input() const override { return answers; }

    // Runs the whole program with `stdinText` as the technician's answers.
    int runProgram(const std::string &stdinText = "")
    {
        answers = stdinText;
        simConsole_begin(answers);
        return OrvaneFwUpgrade_main();
    }

    static std::string failedAfter(const std::string &text)
    {
        return BANNER + found(3, 9600) + text + NOT_SUCCESSFUL + PRESS_ANY_KEY;
    }

    static int64_t lastReadWithBytes(const std::string &bytes)
    {
        int64_t at = -1;
        for (const SimEvent &event : simEvents_all()) {
            if (event.kind == SimEventKind::Read && event.bytes == bytes) {
                at = event.timeUs;
            }
        }
        return at;
    }
};

}  // namespace

TEST_F(Update, TransmitterUpdateFromSearchToSuccessLine)
{
    UnitModel *unit = simPort_attachUnit(3, UnitConfig{});
    simPort_setSilent(2);
    EXPECT_EQ(runProgram(), 0);

    EXPECT_EQ(simConsole_text(), BANNER + found(3, 9600) + VERSIONS + CHECKING_PRODUCT + productOk("TX") +
                                     uploads(TX_FPGA_LENGTH, MCU_LENGTH) + SUCCESS_LINE + PRESS_ANY_KEY);
    EXPECT_EQ(simConsole_keyWaits(), 1);
    EXPECT_EQ(simPorts_openHandles(), 0);

    const UnitImages &images = unit_images(unit);
    EXPECT_TRUE(images.fpgaAccepted);
    EXPECT_TRUE(images.mcuAccepted);
    EXPECT_EQ(images.fpga, flattenedImage(IMAGE_TX_FPGA));
    EXPECT_EQ(images.mcu, flattenedImage(IMAGE_MCU_FIRMWARE));
}

TEST_F(Update, CommandsAndRatesOnTheWire)
{
    simPort_attachUnit(3, UnitConfig{});
    ASSERT_EQ(runProgram(), 0);
    std::vector<std::pair<std::string, int>> commands;
    size_t fpgaPieces = 0, mcuPieces = 0;
    bool inMcu = false;
    for (const SimEvent &event : simEvents_all()) {
        if (event.kind != SimEventKind::Write || event.port != 3) {
            continue;
        }
        if (event.bytes.rfind("%%%", 0) == 0) {
            commands.emplace_back(event.bytes, event.baud);
            inMcu = inMcu || event.bytes.rfind("%%%fw -h", 0) == 0;
        } else {
            EXPECT_EQ(event.baud, 115200);
            ++(inMcu ? mcuPieces : fpgaPieces);
        }
    }
    const std::vector<std::pair<std::string, int>> expected = {{"%%%help -c version\n\r", 115200},
                                                               {"%%%help -c version\n\r", 115200},
                                                               {"%%%help -c version\n\r", 9600},
                                                               {"%%%fw -v\n\r", 9600},
                                                               {"%%%fw -p\n\r", 9600},
                                                               {"%%%fw -l 4281442003 1055216\n\r", 9600},
                                                               {"%%%fw -h 4279021583 117648\n\r", 115200}};
    EXPECT_EQ(commands, expected);
    EXPECT_EQ(fpgaPieces, 104u);
    EXPECT_EQ(mcuPieces, 12u);
}

TEST_F(Update, ReceiverAtAnotherRateNeedsTwoProductQueries)
{
    UnitConfig config;
    config.variant = UnitVariant::RX;
    config.normalBaud = 57600;
    UnitModel *unit = simPort_attachUnit(3, config);
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(simConsole_text(), BANNER + found(3, 57600) + VERSIONS + CHECKING_PRODUCT + productOk("RX") +
                                     uploads(RX_FPGA_LENGTH, MCU_LENGTH) + SUCCESS_LINE + PRESS_ANY_KEY);
    const std::vector<std::string> sent = writes(3);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "%%%fw -p\n\r"), 2);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "%%%fw -l 4275807257 1121376\n\r"), sent.end());
    EXPECT_EQ(unit_images(unit).fpga, flattenedImage(IMAGE_RX_FPGA));
}

TEST_F(Update, RebootWaitAndClosingReadsTakeTheirFixedTime)
{
    simPort_attachUnit(3, UnitConfig{});
    ASSERT_EQ(runProgram(), 0);
    const int64_t success = lastReadWithBytes("SUCCESS");
    ASSERT_GT(success, 0);
    // After the read that brought "SUCCESS": its silent window, the reboot
    // pauses and the two closing reads.
    EXPECT_EQ(simClock_nowUs() - success, (DATA_REPLY_TIMEOUT_MS + REBOOT_PAUSES * REBOOT_PAUSE_MS +
                                           DATA_REPLY_TIMEOUT_MS + CLOSING_READ_TIMEOUT_MS) *
                                              1000LL);
    // The reboot wait itself: 46 pauses of 3 s.
    int pauses = 0;
    for (const SimEvent &event : simEvents_all()) {
        pauses += event.kind == SimEventKind::Sleep && event.bytes == "3000";
    }
    EXPECT_EQ(pauses, 46);
    // The whole update: every exchange lasts its bytes on the wire plus its
    // read windows (the reply falls inside the first, which runs its whole
    // length, and a silent one follows), then the reboot wait.
    const int64_t windows = 4 * MAX_WAIT_READ            // probes: twice unheard at 115200, answered at 9600
                            + QUERY_READ_TIMEOUT_MS      // "%fw -v": one direct read
                            + 2 * QUERY_READ_TIMEOUT_MS  // "%fw -p"
                            + 2 * FPGA_READY_TIMEOUT_MS  // FPGA upload command, waiting for "Ready"
                            + 2 * DATA_REPLY_TIMEOUT_MS  // FPGA data, waiting for "SUCCESS"
                            + 2 * MCU_READY_TIMEOUT_MS   // microcontroller upload command
                            + 2 * DATA_REPLY_TIMEOUT_MS  // microcontroller data
                            + REBOOT_PAUSES * REBOOT_PAUSE_MS + DATA_REPLY_TIMEOUT_MS + CLOSING_READ_TIMEOUT_MS;
    const int64_t onWire = 2 * wire(20, 115200) + wire(20, 9600) + wire(10, 9600) + wire(10, 9600) + wire(29, 9600) +
                           pieces(TX_FPGA_LENGTH) + wire(28, 115200) + pieces(MCU_LENGTH);
    EXPECT_EQ(simClock_nowUs(), windows * 1000 + onWire);
    EXPECT_NEAR(seconds(), 290.9, 0.1);
}

TEST_F(Update, TextDuringTheRebootWaitIsNotExamined)
{
    UnitConfig config;
    config.closingDelayMs = 100000;
    simPort_attachUnit(3, config);
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(simConsole_text().find(SUCCESS_LINE), std::string::npos);
    EXPECT_EQ(simConsole_text().find(NOT_SUCCESSFUL), std::string::npos);
}

namespace {

struct ClosingCase : NamedCase {
    std::string closing;
    bool successLine;
};

class ClosingText : public Update, public ::testing::WithParamInterface<ClosingCase> {};

}  // namespace

TEST_P(ClosingText, MustRunFromBracketToPromptAndNeverFailsTheUpdate)
{
    const ClosingCase &c = GetParam();
    UnitConfig config;
    config.closingText = c.closing;
    simPort_attachUnit(3, config);
    ASSERT_EQ(runProgram(), 0);
    const std::string text = simConsole_text();
    EXPECT_EQ(text.find(NOT_SUCCESSFUL), std::string::npos);
    const std::string end = "\b\b\b\b100%" + (c.successLine ? SUCCESS_LINE : "") + PRESS_ANY_KEY;
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

INSTANTIATE_TEST_SUITE_P(Update, ClosingText,
                         ::testing::Values(ClosingCase{"bracket_alone", "[", false},
                                           ClosingCase{"one_prompt_character", "[unit >", false},
                                           ClosingCase{"bracket_then_prompt", "[>>", true},
                                           ClosingCase{"text_before_the_bracket", "x[ok]>>", false},
                                           ClosingCase{"nothing", "", false}),
                         CaseName());

namespace {

// An update that stops at one step, by the unit's doing or by a write that
// fails (picked by what it carries: the write that begins with `prefix`, or
// the piece of image that many writes after it).
struct FailureCase : NamedCase {
    UnitConfig unit;
    const char *failingPrefix;  // nullptr: every write goes out
    int piecesAfter;
    std::string shown;  // the console between the found unit and the error line
};

// The default unit, changed by `change`.
template <typename Change>
UnitConfig unitWhere(Change change)
{
    UnitConfig config;
    change(config);
    return config;
}

UnitConfig faultAt(UnitExchange at, UnitFault what)
{
    return unitWhere([&](UnitConfig &u) { u.faults.push_back({at, what}); });
}

const std::string UNKNOWN_PRODUCT = CHECKING_PRODUCT + "FAILED, Unknown product\r\n";
const std::string IDENTIFIED = VERSIONS + CHECKING_PRODUCT + productOk("TX");
const std::string FPGA_SENT = IDENTIFIED + PREPARING_FPGA + "OK\r\n" + SENDING_FPGA + progress(TX_FPGA_LENGTH);
const std::string MCU_SENT = FPGA_SENT + "OK\r\n" + PREPARING_MCU + "OK\r\n" + SENDING_MCU + progress(MCU_LENGTH);
const std::string WRITE_ERROR = "\r\nError occurred when sending data !\r\n";
const std::string NO_SUCCESS = "\r\nExpected : SUCCESS  received : \r\n"
                               "\r\nError: Expected response did  not matched !\r\n";

const FailureCase FAILURES[] = {
    {"silent_version", faultAt(UnitExchange::Version, UnitFault::Silence), nullptr, 0, UNKNOWN_PRODUCT},
    {"other_device", unitWhere([](UnitConfig &u) { u.deviceCode = 2; }), nullptr, 0,
     "Checking firmware version ..............  1.00.04 \r\n"
     "Checking fpga version ..................  SDI6G 1.04  device:2\r\n" +
         UNKNOWN_PRODUCT},
    // "ABCDEFG" fits the model word, and the rest would read as FPGA version
    // 1.4 of device 1: the word that did not fit must refuse the reply.
    {"model_word_runs_into_the_fpga_version", unitWhere([](UnitConfig &u) { u.model = "ABCDEFG1.4"; }), nullptr, 0,
     UNKNOWN_PRODUCT},
    {"unknown_product", unitWhere([](UnitConfig &u) { u.productReply = "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n"; }),
     nullptr, 0, VERSIONS + CHECKING_PRODUCT + "FAILED\r\n"},
    {"fpga_not_ready", faultAt(UnitExchange::FpgaCommand, UnitFault::Silence), nullptr, 0,
     IDENTIFIED + PREPARING_FPGA + "FAILED [Unit not ready]\r\n"},
    {"fpga_ready_with_line_end", faultAt(UnitExchange::FpgaCommand, UnitFault::ExtraLineEnd), nullptr, 0,
     IDENTIFIED + PREPARING_FPGA + "FAILED [Unit not ready]\r\n"},
    {"fpga_command_write_fails", UnitConfig{}, "%%%fw -l", 0,
     IDENTIFIED + PREPARING_FPGA + WRITE_ERROR + "FAILED [Unit not ready]\r\n"},
    {"first_fpga_piece_write_fails", UnitConfig{}, "%%%fw -l", 1,
     IDENTIFIED + PREPARING_FPGA + "OK\r\n" + SENDING_FPGA + "1%FAILED\r\n"},
    {"fpga_data_unanswered", faultAt(UnitExchange::FpgaData, UnitFault::Silence), nullptr, 0,
     FPGA_SENT + NO_SUCCESS + "FAILED\r\n"},
    {"mcu_not_ready", faultAt(UnitExchange::McuCommand, UnitFault::Silence), nullptr, 0,
     FPGA_SENT + "OK\r\n" + PREPARING_MCU + "FAILED [Unit not ready]\r\n"},
    {"mcu_data_unanswered", faultAt(UnitExchange::McuData, UnitFault::Silence), nullptr, 0,
     MCU_SENT + NO_SUCCESS + "FAILED\r\n"},
};

class FailedUpdate : public Update, public ::testing::WithParamInterface<FailureCase> {};

}  // namespace

TEST_P(FailedUpdate, SaysWhereItStoppedThenTheErrorLine)
{
    const FailureCase &c = GetParam();
    simPort_attachUnit(3, c.unit);
    if (c.failingPrefix != nullptr) {
        simPort_failWriteAfter(3, c.failingPrefix, 1, c.piecesAfter);
    }
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(simConsole_text(), failedAfter(c.shown));
    EXPECT_EQ(simConsole_keyWaits(), 1);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Update, FailedUpdate, ::testing::ValuesIn(FAILURES), CaseName());

TEST_F(Update, FailedDataWriteLeavesThePortAt115200UntilClosed)
{
    simPort_attachUnit(3, UnitConfig{});
    simPort_failWriteAfter(3, "%%%fw -l", 1, 1);
    EXPECT_EQ(runProgram(), 0);
    int lastWriteBaud = 0;
    for (const SimEvent &event : events(SimEventKind::Write, 3)) {
        lastWriteBaud = event.baud;
    }
    EXPECT_EQ(lastWriteBaud, 115200);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(Update, InvalidFirmwareTextStopsBeforeItsUpload)
{
    simPort_attachUnit(3, UnitConfig{});
    ASSERT_TRUE(allocateProgramBuffers());
    ASSERT_TRUE(ComPortAPI_OpenCOM(3));
    gHexFirmware[4] = '1';  // breaks the first record's checksum
    simConsole_begin();
    EXPECT_FALSE(updateFirmware());
    const std::string text = simConsole_text();
    const std::string tail = "OK\r\n\r\n intel_hex_line_is_valid \r\n:0201000480007A\r\n"
                             "\r\nERROR: uC Firmware data is not valid !\r\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}
