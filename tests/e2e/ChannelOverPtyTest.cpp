// The serial module and the command channel, linked with the POSIX platform,
// against OrvaneUnitSim on a pseudo-terminal in real time. Every test runs in
// its own folder whose 32 COM entries point nowhere except the unit's.
#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include "MonotonicClock.h"
#include "ReadFile.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// The unit's side of the dialogue, written out here rather than taken from
// the program's headers so that a wrong constant there cannot agree with
// itself.
const char *const PROBE = "%help -c version";
const char *const HELP = "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
const char *const TX_PRODUCT = "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>";

// Sends fd 1 to a file for the lifetime of the object; the platform keeps
// stdout unbuffered, so everything printed meanwhile lands in the file.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string &path) : path_(path)
    {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string text()
    {
        restore();
        return readFile(path_);
    }

private:
    void restore()
    {
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }
    std::string path_;
    int saved_ = -1;
};

// Milliseconds one silent read takes.
int64_t timedSilentRead()
{
    std::vector<char> buffer(64);
    int count = -1;
    const int64_t start = monotonicMs();
    ComPortAPI_ReadCOM(buffer.data(), static_cast<int>(buffer.size()), &count);
    const int64_t took = monotonicMs() - start;
    EXPECT_EQ(count, 0);
    return took;
}

class ChannelOverPty : public ::testing::Test {
protected:
    TempFolder folder;
    std::optional<InFolder> inside;
    std::unique_ptr<UnitSimProcess> unit;
    bool portOpen = false;

    void SetUp() override
    {
        ASSERT_TRUE(shadowComPorts(folder.path()));
        inside.emplace(folder.path());
        // The module keeps its settings in globals that outlive a test; each
        // test starts from what the program starts with.
        g_hCOM = nullptr;
        g_dcb = ComPortAPI_DefaultLineSettings();
        g_cto = ComPortAPI_DefaultTimeouts();
        ComPortAPI_SetHardwareFlowControl(FALSE);
        ASSERT_TRUE(allocateProgramBuffers());
    }
    void TearDown() override
    {
        if (portOpen) {
            ComPortAPI_CloseCOM();
        }
        releaseProgramBuffers();
        if (unit) {
            EXPECT_EQ(unit->stop(), 0) << "the unit must serve until it is stopped";
        }
        inside.reset();
    }

    void startUnit(int com, int baud, std::vector<std::string> more = {})
    {
        std::vector<std::string> args = {"--com",  std::to_string(com),  "--variant", "tx",
                                         "--baud", std::to_string(baud), "--dir",     folder.path()};
        args.insert(args.end(), more.begin(), more.end());
        unit = std::make_unique<UnitSimProcess>(ORVANE_UNIT_SIM, args);
        ASSERT_TRUE(unit->ready());
    }
    void openPort(int com)
    {
        ASSERT_TRUE(ComPortAPI_OpenCOM(com));
        portOpen = true;
    }
};

std::string uploadCommand(const std::vector<uint8_t> &image)
{
    uint32_t sum = 0;
    for (uint8_t byte : image) {
        sum += byte;
    }
    return "%fw -l " + std::to_string(0u - sum) + " " + std::to_string(image.size());
}

}  // namespace

TEST_F(ChannelOverPty, PortIsReachedThroughItsLinkAndHeldAlone)
{
    startUnit(5, 9600);
    openPort(5);
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP));

    const HANDLE held = g_hCOM;
    std::string said;
    {
        StdoutCapture capture(folder.path("stdout.txt"));
        EXPECT_FALSE(ComPortAPI_OpenCOM(5));
        EXPECT_FALSE(ComPortAPI_OpenCOM(6));  // shadowed: a link to nothing
        said = capture.text();
    }
    EXPECT_EQ(said, "ERROR: Opening COM5 failed !ERROR: Opening COM6 failed !");

    // The refused open overwrote the module's handle; the holder's line must
    // be untouched by it.
    g_hCOM = held;
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP));
    ComPortAPI_CloseCOM();
    portOpen = false;
    openPort(5);
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP)) << "closing must give the port back";
}

TEST_F(ChannelOverPty, SilentReadsLastOneWindow)
{
    startUnit(7, 9600);
    openPort(7);
    const int64_t standard = timedSilentRead();
    EXPECT_GE(standard, 500);
    EXPECT_LT(standard, 600);

    ASSERT_TRUE(ComPortAPI_SetReadingTimeoutInMs(1000));
    const int64_t longer = timedSilentRead();
    EXPECT_GE(longer, 1000);
    EXPECT_LT(longer, 1100);
}

TEST_F(ChannelOverPty, RefusedRatesLeaveThePortUsable)
{
    startUnit(2, 9600);
    openPort(2);
    EXPECT_FALSE(ComPortAPI_SetBaudRate(12345));
    ASSERT_TRUE(ComPortAPI_SetBaudRate(9600));
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP));
    ComPortAPI_CloseCOM();
    portOpen = false;

    // A refused rate staged before the open fails the configuration; the
    // port must be released again, not left locked.
    ComPortAPI_SetBaudRate(12345);
    {
        StdoutCapture capture(folder.path("stdout.txt"));
        EXPECT_FALSE(ComPortAPI_OpenCOM(2));
        EXPECT_EQ(capture.text(), "ERROR: COM2 configuration failed !");
    }
    ComPortAPI_SetBaudRate(9600);
    openPort(2);
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP));
}

TEST_F(ChannelOverPty, ProbeIsAnsweredOnlyAtTheUnitsRate)
{
    startUnit(1, 57600);
    openPort(1);
    for (int wrong : {9600, 115200, 19200}) {
        ASSERT_TRUE(ComPortAPI_SetBaudRate(wrong));
        EXPECT_FALSE(sendCommand(PROBE, FALSE, TRUE, HELP)) << wrong;
    }
    // The noise before must not have spoilt the unit's next line.
    ASSERT_TRUE(ComPortAPI_SetBaudRate(57600));
    EXPECT_TRUE(sendCommand(PROBE, FALSE, TRUE, HELP));
}

TEST_F(ChannelOverPty, ReplySplitOverWindowsIsJoined)
{
    // By default the second half comes 1.5 windows after the first.
    startUnit(3, 9600, {"--fault", "product:split"});
    openPort(3);
    ASSERT_TRUE(ComPortAPI_SetReadingTimeoutInMs(1000));
    const int64_t start = monotonicMs();
    EXPECT_TRUE(sendCommand("%fw -p", FALSE, TRUE, TX_PRODUCT));
    // Proof that the reply really straddled windows: an unsplit one is
    // collected in two.
    EXPECT_GE(monotonicMs() - start, 2500);
}

TEST_F(ChannelOverPty, ReplyResumedAfterASilentWindowIsCutShort)
{
    startUnit(4, 9600, {"--fault", "product:split", "--split-gap-ms", "2500"});
    openPort(4);
    ASSERT_TRUE(ComPortAPI_SetReadingTimeoutInMs(1000));
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, TX_PRODUCT));
    EXPECT_STREQ(collectResponse(TX_PRODUCT, FALSE), "DI ZARE RIZOR TX\r\n>>") << "the late half is the next reply";
}

TEST_F(ChannelOverPty, MegabyteImageArrivesWholeAtTheUploadRate)
{
    startUnit(9, 9600, {"--images", folder.path("received")});
    openPort(9);

    // Every byte value, in no simple order.
    std::vector<uint8_t> image(1 << 20);
    uint32_t state = 12345;
    for (uint8_t &byte : image) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    ASSERT_TRUE(ComPortAPI_SetReadingTimeoutInMs(1000));
    ComPortAPI_SetHardwareFlowControl(TRUE);
    ASSERT_TRUE(sendCommand(uploadCommand(image).c_str(), FALSE, TRUE, "Ready"));
    ASSERT_TRUE(ComPortAPI_SetBaudRate(115200));

    BOOL accepted = FALSE;
    std::string progress;
    {
        StdoutCapture capture(folder.path("stdout.txt"));
        accepted = sendData(image.data(), static_cast<int>(image.size()), TRUE, "SUCCESS");
        progress = capture.text();
    }
    EXPECT_TRUE(accepted) << progress;

    const std::string stored = readFile(folder.path("received/fpga.bin"));
    ASSERT_EQ(stored.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t *>(stored.data())));
}
