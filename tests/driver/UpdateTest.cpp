#include "SimTest.h"
#include "UpdateTranscript.h"

#include "firmware/BinImage.h"
#include "image/ImageFlattening.h"
#include "update/UpdateDriver.h"

#include <cstdlib>
#include <string>
#include <vector>

int OrvaneFwUpgrade_main();

namespace {

using namespace transcript;

constexpr int TX_FPGA_LENGTH = 1055216;
constexpr int RX_FPGA_LENGTH = 1121376;
constexpr int MCU_LENGTH = 117648;

// The flattened image of one embedded text, as the unit must receive it.
std::vector<uint8_t> flattenedImage(ImageIndex index)
{
    std::vector<uint8_t> image;
    if (!allocateProgramBuffers()) {
        return image;
    }
    char *text = newWritableCopyOfImageText(index);
    if (ValidateFwAndConcatenateData(text)) {
        image.assign(gDataConcatenated, gDataConcatenated + gDataConcatenatedLenght);
    }
    free(text);
    releaseProgramBuffers();
    return image;
}

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

    static UnitConfig unitWith(UnitExchange at, UnitFault what)
    {
        UnitConfig config;
        config.faults.push_back({at, what});
        return config;
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
    const std::vector<std::pair<std::string, int>> expected = {
        {"%%%help -c version\n\r", 115200}, {"%%%help -c version\n\r", 115200},
        {"%%%help -c version\n\r", 9600},   {"%%%fw -v\n\r", 9600},
        {"%%%fw -p\n\r", 9600},             {"%%%fw -l 4281442003 1055216\n\r", 9600},
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
    int productQueries = 0;
    for (const std::string &w : writes(3)) {
        productQueries += w == "%%%fw -p\n\r";
    }
    EXPECT_EQ(productQueries, 2);
    EXPECT_NE(std::find(writes(3).begin(), writes(3).end(), "%%%fw -l 4275807257 1121376\n\r"), writes(3).end());
    EXPECT_EQ(unit_images(unit).fpga, flattenedImage(IMAGE_RX_FPGA));
}

TEST_F(Update, RebootWaitAndClosingReadsTakeTheirFixedTime)
{
    simPort_attachUnit(3, UnitConfig{});
    ASSERT_EQ(runProgram(), 0);
    const int64_t success = lastReadWithBytes("SUCCESS");
    ASSERT_GT(success, 0);
    // After the read that brought "SUCCESS": a silent window, 46 pauses of
    // 3 s, a 1 s read and an 11 s read.
    EXPECT_EQ(simClock_nowUs() - success, (1000 + 46 * 3000 + 1000 + 11000) * 1000LL);
    int pauses = 0;
    for (const SimEvent &event : simEvents_all()) {
        pauses += event.kind == SimEventKind::Sleep && event.bytes == "3000";
    }
    EXPECT_EQ(pauses, 46);
    // The whole update: every exchange lasts its bytes on the wire plus its
    // read windows (the reply falls inside the first, which runs its whole
    // length, and a silent one follows), then the reboot wait.
    const int64_t windows =
        2 * 500 + 1000                 // probes: twice unheard at 115200, answered at 9600
        + 1000                         // "%fw -v": one direct read
        + 2 * 1000                     // "%fw -p"
        + 2 * 10000                    // FPGA upload command, waiting for "Ready"
        + 2 * 1000                     // FPGA data, waiting for "SUCCESS"
        + 2 * 5000                     // microcontroller upload command
        + 2 * 1000                     // microcontroller data
        + 46 * 3000 + 1000 + 11000;    // reboot wait and the two closing reads
    const int64_t onWire = 2 * wire(20, 115200) + wire(20, 9600) + wire(10, 9600) + wire(10, 9600) +
                           wire(29, 9600) + pieces(TX_FPGA_LENGTH) + wire(28, 115200) + pieces(MCU_LENGTH);
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

TEST_F(Update, ClosingTextMustRunFromBracketToPrompt)
{
    struct Case {
        std::string closing;
        bool successLine;
    };
    for (const Case &c : {Case{"[", false}, Case{"[unit >", false}, Case{"[>>", true}, Case{"x[ok]>>", false},
                          Case{"", false}}) {
        SetUp();
        UnitConfig config;
        config.closingText = c.closing;
        simPort_attachUnit(3, config);
        ASSERT_EQ(runProgram(), 0);
        const std::string text = simConsole_text();
        EXPECT_EQ(text.find(SUCCESS_LINE) != std::string::npos, c.successLine) << c.closing;
        EXPECT_EQ(text.find(NOT_SUCCESSFUL), std::string::npos) << c.closing;
        const std::string end = "\b\b\b\b100%" + (c.successLine ? SUCCESS_LINE : "") + PRESS_ANY_KEY;
        EXPECT_EQ(text.substr(text.size() - end.size()), end) << c.closing;
    }
}

TEST_F(Update, IdentificationFailures)
{
    struct Case {
        std::string name;
        UnitConfig config;
        std::string shown;
    };
    UnitConfig otherDevice;
    otherDevice.deviceCode = 2;
    UnitConfig longModel;
    longModel.model = "ABCDEFGH";
    UnitConfig otherProduct;
    otherProduct.productReply = "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n";
    const std::vector<Case> cases = {
        {"silent version", unitWith(UnitExchange::Version, UnitFault::Silence),
         CHECKING_PRODUCT + "FAILED, Unknown product\r\n"},
        {"other device", otherDevice,
         "Checking firmware version ..............  1.00.04 \r\n"
         "Checking fpga version ..................  SDI6G 1.04  device:2\r\n" +
             CHECKING_PRODUCT + "FAILED, Unknown product\r\n"},
        {"model word too long", longModel, CHECKING_PRODUCT + "FAILED, Unknown product\r\n"},
        {"unknown product", otherProduct, VERSIONS + CHECKING_PRODUCT + "FAILED\r\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        simPort_attachUnit(3, c.config);
        EXPECT_EQ(runProgram(), 0) << c.name;
        EXPECT_EQ(simConsole_text(), failedAfter(c.shown)) << c.name;
        EXPECT_EQ(simPorts_openHandles(), 0) << c.name;
    }
}

TEST_F(Update, UploadFailures)
{
    struct Case {
        std::string name;
        UnitConfig config;
        std::string shown;
    };
    const std::string identified = VERSIONS + CHECKING_PRODUCT + productOk("TX");
    const std::string fpgaSent = PREPARING_FPGA + "OK\r\n" + SENDING_FPGA + progress(TX_FPGA_LENGTH);
    const std::string mcuAnnounced = fpgaSent + "OK\r\n" + PREPARING_MCU + "OK\r\n" + SENDING_MCU + progress(MCU_LENGTH);
    const std::string mismatch = "\r\nExpected : SUCCESS  received : \r\n"
                                 "\r\nError: Expected response did  not matched !\r\n";
    const std::vector<Case> cases = {
        {"fpga not ready", unitWith(UnitExchange::FpgaCommand, UnitFault::Silence),
         PREPARING_FPGA + "FAILED [Unit not ready]\r\n"},
        {"fpga ready with line end", unitWith(UnitExchange::FpgaCommand, UnitFault::ExtraLineEnd),
         PREPARING_FPGA + "FAILED [Unit not ready]\r\n"},
        {"fpga data unanswered", unitWith(UnitExchange::FpgaData, UnitFault::Silence),
         fpgaSent + mismatch + "FAILED\r\n"},
        {"mcu not ready", unitWith(UnitExchange::McuCommand, UnitFault::Silence),
         fpgaSent + "OK\r\n" + PREPARING_MCU + "FAILED [Unit not ready]\r\n"},
        {"mcu data unanswered", unitWith(UnitExchange::McuData, UnitFault::Silence), mcuAnnounced + mismatch + "FAILED\r\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        simPort_attachUnit(3, c.config);
        EXPECT_EQ(runProgram(), 0) << c.name;
        EXPECT_EQ(simConsole_text(), failedAfter(identified + c.shown)) << c.name;
    }
}

TEST_F(Update, FailedDataWriteLeavesThePortAt115200UntilClosed)
{
    simPort_attachUnit(3, UnitConfig{});
    // Writes: three probes, "%fw -v", "%fw -p", the upload command, then pieces.
    simPort_failWrite(3, 7);
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(simConsole_text(), failedAfter(VERSIONS + CHECKING_PRODUCT + productOk("TX") + PREPARING_FPGA +
                                             "OK\r\n" + SENDING_FPGA + "1%FAILED\r\n"));
    const SimEvent &lastWrite = [] {
        SimEvent found{};
        for (const SimEvent &event : simEvents_all()) {
            if (event.kind == SimEventKind::Write) {
                found = event;
            }
        }
        return found;
    }();
    EXPECT_EQ(lastWrite.baud, 115200);
}

TEST_F(Update, FailedCommandWriteShowsItsMessageBeforeTheStatusWord)
{
    simPort_attachUnit(3, UnitConfig{});
    simPort_failWrite(3, 6);
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(simConsole_text(),
              failedAfter(VERSIONS + CHECKING_PRODUCT + productOk("TX") + PREPARING_FPGA +
                          "\r\nError occurred when sending data !\r\nFAILED [Unit not ready]\r\n"));
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
