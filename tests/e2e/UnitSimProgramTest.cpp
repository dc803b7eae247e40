// OrvaneUnitSim as a program: its pseudo-terminal, its COM link, its rates,
// its files and its stop signal, in real time.
#include "MonotonicClock.h"
#include "ReadFile.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string PROBE = "%%%help -c version\n\r";
const std::string HELP = "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";

// Reads until `want` bytes have come or timeoutMs has passed.
std::string readFor(int fd, int timeoutMs, size_t want = SIZE_MAX)
{
    std::string text;
    const int64_t deadline = monotonicMs() + timeoutMs;
    while (text.size() < want) {
        const int64_t left = deadline - monotonicMs();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// A reply of `size` bytes, and whatever follows it closely.
std::string readReply(int fd, size_t size)
{
    const std::string reply = readFor(fd, 3000, size);
    return reply + readFor(fd, 200);
}

void setRate(int fd, speed_t speed)
{
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, speed);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
}

int openPort(const std::string &path, speed_t speed)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path << ": " << strerror(errno);
    if (fd >= 0) {
        setRate(fd, speed);
        tcflush(fd, TCIOFLUSH);
    }
    return fd;
}

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string uploadCommand(const char *option, const std::string &image)
{
    uint32_t sum = 0;
    for (unsigned char byte : image) {
        sum += byte;
    }
    return std::string("%%%fw ") + option + " " + std::to_string(0u - sum) + " " + std::to_string(image.size()) +
           "\n\r";
}

}  // namespace

TEST(UnitSimProgramTest, ServesTheUnitOnItsLinkUntilStopped)
{
    TempFolder folder;
    const std::string link = comPortLink(folder.path(), 4);
    int status = 0;
    {
        UnitSimProcess sim(ORVANE_UNIT_SIM,
                           {"--com", "4", "--variant", "rx", "--baud", "9600", "--dir", folder.path()});
        ASSERT_TRUE(sim.ready());
        EXPECT_EQ(sim.ptyPath().rfind("/dev/pts/", 0), 0u) << sim.ptyPath();
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.ptyPath());

        const int fd = openPort(link, B9600);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(writeAll(fd, PROBE));
        EXPECT_EQ(readReply(fd, HELP.size()), HELP);
        ASSERT_TRUE(writeAll(fd, "%%%fw -p\n\r"));
        EXPECT_EQ(readReply(fd, 40), "Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\r\n>>");

        // At another rate the unit hears only noise.
        setRate(fd, B19200);
        ASSERT_TRUE(writeAll(fd, PROBE));
        EXPECT_EQ(readFor(fd, 500), "");
        close(fd);

        // A second open, as the host makes many, finds the unit as it was.
        const int again = openPort(link, B9600);
        ASSERT_TRUE(writeAll(again, PROBE));
        EXPECT_EQ(readReply(again, HELP.size()), HELP);
        close(again);
        status = sim.stop(SIGTERM);
    }
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(UnitSimProgramTest, UploadStoresTheImageAndTracesTheExchange)
{
    TempFolder folder;
    UnitSimProcess sim(ORVANE_UNIT_SIM, {"--com", "2", "--variant", "tx", "--baud", "9600", "--dir", folder.path(),
                                         "--pace", "--reply-delay-ms", "300", "--ready-delay-ms", "20", "--images",
                                         folder.path("images"), "--trace", folder.path("trace.txt")});
    ASSERT_TRUE(sim.ready());
    const int fd = openPort(comPortLink(folder.path(), 2), B9600);
    ASSERT_GE(fd, 0);

    std::string image = "\r\n\r%%";
    for (int i = 0; i < 20000; ++i) {
        image += static_cast<char>(i * 7);
    }
    ASSERT_TRUE(writeAll(fd, uploadCommand("-l", image)));
    EXPECT_EQ(readReply(fd, 5), "Ready");
    setRate(fd, B115200);
    ASSERT_TRUE(writeAll(fd, image));
    EXPECT_EQ(readReply(fd, 7), "SUCCESS");
    EXPECT_EQ(readFile(folder.path("images/fpga.bin")), image);

    // The unit answers at 115200 now; a host that has gone back to 9600
    // before the reply reads it garbled.
    ASSERT_TRUE(writeAll(fd, "%%%fw -v\n\r"));
    usleep(100'000);
    setRate(fd, B9600);
    std::string reply = readReply(fd, 24);
    for (char &c : reply) {
        c = static_cast<char>(c ^ 0x80);
    }
    EXPECT_EQ(reply, "1.0.4\r\nSDI6G\r\n1.4\r\n1\r\n>>");
    close(fd);
    EXPECT_EQ(sim.stop(SIGINT), 0);

    const std::string trace = readFile(folder.path("trace.txt"));
    EXPECT_NE(trace.find("in  9600 \"%%%fw -l "), std::string::npos) << trace;
    EXPECT_NE(trace.find("out 115200 \"SUCCESS\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("garbled for a host at 9600"), std::string::npos) << trace;
}

TEST(UnitSimProgramTest, DropHangsTheLineUpAndLeavesTheComEntryPointingNowhere)
{
    TempFolder folder;
    UnitSimProcess sim(ORVANE_UNIT_SIM, {"--com", "9", "--variant", "tx", "--baud", "57600", "--dir", folder.path(),
                                         "--fault", "fpga-data:drop", "--drop-after", "1000"});
    ASSERT_TRUE(sim.ready());
    const std::string link = comPortLink(folder.path(), 9);
    const int fd = openPort(link, B57600);
    ASSERT_GE(fd, 0);
    const std::string image(50000, 'z');
    ASSERT_TRUE(writeAll(fd, uploadCommand("-l", image)));
    EXPECT_EQ(readReply(fd, 5), "Ready");
    setRate(fd, B115200);
    bool failed = false;
    for (size_t at = 0; at < image.size() && !failed; at += 500) {
        failed = !writeAll(fd, image.substr(at, 500));
        usleep(2000);
    }
    EXPECT_TRUE(failed) << "writes fail once the unit is off the line";
    close(fd);
    EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(link));
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(UnitSimProgramTest, RefusesAnIncompleteCommandLine)
{
    TempFolder folder;
    UnitSimProcess sim(ORVANE_UNIT_SIM, {"--com", "1", "--baud", "9600", "--dir", folder.path()});
    EXPECT_FALSE(sim.ready());
    EXPECT_NE(sim.stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(folder.path("dosdevices")));
}
