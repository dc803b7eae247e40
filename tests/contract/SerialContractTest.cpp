// What the modules rely on from the Win32 serial operations, checked the same
// way on every platform that provides them (see SerialPeer.h): read time-outs,
// counts, exclusive opens, complete writes, purges and the reasons of
// failures. Times are exact on the virtual clock, within a little scheduling
// on a real one.
#include <windows.h>

#include "platform/PortHolder.h"

#include "NamedCase.h"
#include "SerialLine.h"
#include "SerialPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

std::string comPath(int n)
{
    return "\\\\.\\COM" + std::to_string(n);
}

HANDLE openPath(const std::string &path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM,
                       nullptr);
}

// What FormatMessageA says of the last error.
std::string lastErrorWords()
{
    char words[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        GetLastError(), 0, words, sizeof words, nullptr);
    EXPECT_EQ(length, strlen(words));
    return words;
}

class SerialContract : public ::testing::Test {
protected:
    std::vector<HANDLE> opened;
    int64_t startUs = 0;

    void SetUp() override { peer_begin(); }
    void TearDown() override
    {
        for (HANDLE h : opened) {
            CloseHandle(h);
        }
        peer_end();
    }

    HANDLE open(int n)
    {
        HANDLE h = openPath(comPath(n));
        if (h != INVALID_HANDLE_VALUE) {
            opened.push_back(h);
        }
        return h;
    }
    // The peer's port, at 115200 8N1, with these read time-outs.
    HANDLE openPeer(COMMTIMEOUTS timeouts)
    {
        HANDLE h = open(PEER_COM);
        DCB line = lineAt(115200);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetCommState(h, &line));
        EXPECT_TRUE(SetCommTimeouts(h, &timeouts));
        return h;
    }
    void closeHandle(HANDLE h)
    {
        EXPECT_TRUE(CloseHandle(h));
        opened.erase(std::find(opened.begin(), opened.end(), h));
    }

    void startClock() { startUs = peer_nowUs(); }
    // The time since startClock is `ms`, as exactly as this clock allows.
    void expectTook(int64_t ms) const
    {
        const int64_t took = peer_nowUs() - startUs;
        EXPECT_GE(took, ms * 1000 - peer_earlyUs()) << "took " << took << " us";
        EXPECT_LE(took, ms * 1000 + peer_lateUs()) << "took " << took << " us";
    }

    static std::string read(HANDLE h, DWORD asked)
    {
        std::string buffer(asked, '\0');
        DWORD count = 12345;
        EXPECT_TRUE(ReadFile(h, buffer.data(), asked, &count, nullptr));
        buffer.resize(count);
        return buffer;
    }
};

struct TimedRead {
    const char *name;
    COMMTIMEOUTS timeouts;
    DWORD asked;
    std::vector<std::pair<int, std::string>> arrivals;  // ms from the start, bytes
    std::string expected;
    int64_t expectedMs;
};

void PrintTo(const TimedRead &read, std::ostream *os)
{
    *os << read.name;
}

class ReadTimeouts : public SerialContract, public ::testing::WithParamInterface<TimedRead> {};

const TimedRead TIMED_READS[] = {
    {"silent_read_ends_at_the_total_window", {500, 0, 500, 0, 0}, 64, {}, "", 500},
    {"interval_zero_sets_no_interval_limit", {0, 0, 300, 0, 0}, 64, {{50, "a"}, {100, "b"}}, "ab", 300},
    {"multiplier_counts_each_byte_asked", {0, 10, 100, 0, 0}, 20, {}, "", 300},
    {"interval_ends_the_read_once_bytes_stop", {300, 0, 3000, 0, 0}, 64, {{0, "abc"}, {100, "def"}}, "abcdef", 400},
    {"interval_runs_from_the_first_byte", {300, 0, 3000, 0, 0}, 64, {{400, "late"}}, "late", 700},
    {"interval_alone_waits_for_the_first_byte", {200, 0, 0, 0, 0}, 64, {{300, "x"}}, "x", 500},
    {"maxdword_interval_alone_returns_at_once", {MAXDWORD, 0, 0, 0, 0}, 64, {}, "", 0},
    {"maxdword_interval_takes_what_is_there", {MAXDWORD, 0, 0, 0, 0}, 64, {{0, "here"}}, "here", 0},
    {"maxdword_multiplier_returns_with_the_first_bytes",
     {MAXDWORD, MAXDWORD, 1000, 0, 0},
     64,
     {{200, "xy"}},
     "xy",
     200},
    {"maxdword_multiplier_waits_the_constant_for_them", {MAXDWORD, MAXDWORD, 250, 0, 0}, 64, {}, "", 250},
    {"full_count_returns_at_once", {1000, 0, 1000, 0, 0}, 4, {{0, "0123456789"}}, "0123", 0},
};

}  // namespace

TEST_P(ReadTimeouts, ReadEndsWhenItsTimeoutsSay)
{
    const TimedRead &c = GetParam();
    const HANDLE h = openPeer(c.timeouts);
    for (const auto &[ms, bytes] : c.arrivals) {
        peer_send(bytes, ms);
    }
    if (!c.arrivals.empty() && c.arrivals.front().first == 0) {
        // Bytes sent "now" must be on the line before the read begins.
        peer_settle();
    }
    startClock();
    EXPECT_EQ(read(h, c.asked), c.expected);
    expectTook(c.expectedMs);
}

INSTANTIATE_TEST_SUITE_P(Contract, ReadTimeouts, ::testing::ValuesIn(TIMED_READS),
                         [](const ::testing::TestParamInfo<TimedRead> &row) { return row.param.name; });

TEST_F(SerialContract, TotalWindowBoundsASteadyTrickle)
{
    const HANDLE h = openPeer({200, 0, 500, 0, 0});
    for (int ms = 0; ms <= 750; ms += 50) {
        peer_send("x", ms);
    }
    startClock();
    const std::string got = read(h, 64);
    expectTook(500);
    EXPECT_GE(got.size(), 8u);
    EXPECT_LE(got.size(), 11u);
}

TEST_F(SerialContract, BytesBeyondTheCountWaitForTheNextRead)
{
    const HANDLE h = openPeer({1000, 0, 1000, 0, 0});
    peer_send("0123456789");
    peer_settle();
    startClock();
    EXPECT_EQ(read(h, 4), "0123");
    EXPECT_EQ(read(h, 6), "456789");
    expectTook(0);
}

TEST_F(SerialContract, ZeroLengthTransfersReturnAtOnceAndMoveNothing)
{
    const HANDLE h = openPeer({1000, 0, 1000, 0, 0});
    peer_send("kept");
    peer_settle();
    startClock();
    char buffer[8] = {};
    DWORD count = 7;
    EXPECT_TRUE(ReadFile(h, buffer, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    count = 7;
    EXPECT_TRUE(WriteFile(h, buffer, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    expectTook(0);
    EXPECT_EQ(read(h, 4), "kept");
    EXPECT_EQ(peer_receive(1, 50), "");
}

TEST_F(SerialContract, EveryByteValuePassesUnchangedBothWays)
{
    const HANDLE h = openPeer({200, 0, 1000, 0, 0});
    std::string all;
    for (int value = 0; value < 256; ++value) {
        all.push_back(static_cast<char>(value));
    }
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(h, all.data(), 256, &count, nullptr));
    EXPECT_EQ(count, 256u);
    EXPECT_EQ(peer_receive(256, 1000), all);
    peer_send(all);
    EXPECT_EQ(read(h, 256), all);
}

namespace {

// A line that takes what the port writes more slowly than the port writes
// it: a slow one, or one that takes a few bytes at a time and cuts the write
// short on the way, after which the rest must follow from where it stopped,
// never from the start (10 KiB: a piece of the image, as the channel writes
// them).
struct TakingLine : NamedCase {
    size_t length;
    void (*takeFrom)(std::size_t total);
};

class WriteToATakingLine : public SerialContract, public ::testing::WithParamInterface<TakingLine> {};

}  // namespace

TEST_P(WriteToATakingLine, ReturnsOnlyOnceEveryByteIsTakenWholeAndInOrder)
{
    const TakingLine &c = GetParam();
    const HANDLE h = openPeer({100, 0, 100, 0, 0});
    std::string image(c.length, '\0');
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    c.takeFrom(image.size());
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(h, image.data(), static_cast<DWORD>(image.size()), &count, nullptr));
    EXPECT_EQ(count, image.size());
    // Whatever a line can hold in its queues, no more is still on its way.
    EXPECT_GE(peer_taken() + 64 * 1024, image.size());
    EXPECT_TRUE(peer_finishTaking() == image);
}

INSTANTIATE_TEST_SUITE_P(Contract, WriteToATakingLine,
                         ::testing::Values(TakingLine{"slow_line", 256 * 1024, peer_takeSlowly},
                                           TakingLine{"a_few_bytes_at_a_time", 10 * 1024, peer_takeAFewBytesAtATime}),
                         CaseName());

// A far end that stops taking bytes cannot hold a write beyond its window:
// it returns then, with the count of the bytes the line took, which are the
// first of the buffer, in order.
TEST_F(SerialContract, WriteToALineThatStopsTakingEndsAtItsWindow)
{
    const HANDLE h = openPeer({100, 0, 100, 0, 300});
    std::string image(256 * 1024, '\0');
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>((i * 13 + i / 257) & 0xFF);
    }
    peer_stopTaking();
    startClock();
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(h, image.data(), static_cast<DWORD>(image.size()), &count, nullptr));
    expectTook(300);
    EXPECT_LT(count, image.size());
    EXPECT_TRUE(peer_receive(image.size(), 200) == image.substr(0, count)) << count << " bytes written";
}

TEST_F(SerialContract, PurgeDropsWhatHasArrived)
{
    const HANDLE h = openPeer({100, 0, 300, 0, 0});
    peer_send("stale");
    peer_settle();
    EXPECT_TRUE(PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR));
    peer_send("fresh");
    EXPECT_EQ(read(h, 64), "fresh");
}

TEST_F(SerialContract, LineTakesTheStandardRatesAndRefusesTheRest)
{
    const HANDLE h = openPeer({100, 0, 100, 0, 0});
    for (DWORD rate : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u}) {
        DCB line = lineAt(rate);
        EXPECT_TRUE(SetCommState(h, &line)) << rate;
        line.fOutxCtsFlow = 1;
        EXPECT_TRUE(SetCommState(h, &line)) << rate << " with CTS output flow control";
    }
    DCB odd = lineAt(12345);
    DCB none = lineAt(0);
    DCB seven = lineAt(9600);
    seven.ByteSize = 7;
    DCB parity = lineAt(9600);
    parity.Parity = 2;
    for (DCB *line : {&odd, &none, &seven, &parity}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(SetCommState(h, line)) << line->BaudRate << " " << int(line->ByteSize);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST_F(SerialContract, OnlyTheDevicePathOfAPresentPortOpens)
{
    std::set<std::string> reasons;
    for (const char *path : {"\\\\.\\COM8", "COM7", "\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM7x", "\\\\.\\COM07",
                             "\\\\.\\COM-7", "\\\\.\\COM+7", "\\\\?\\COM7", "\\\\.\\COM1234567890"}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(openPath(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << path;
        reasons.insert(lastErrorWords());
    }
    EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(reasons.size(), 1u);
    EXPECT_NE(*reasons.begin(), "");
    EXPECT_NE(open(PEER_COM), INVALID_HANDLE_VALUE);
}

TEST_F(SerialContract, PortIsForOneOpenerAtATime)
{
    const HANDLE mine = open(PEER_COM);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(PEER_COM), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    const std::string held = lastErrorWords();
    closeHandle(mine);

    peer_holdPort(true);
    EXPECT_EQ(open(PEER_COM), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(lastErrorWords(), held);
    peer_holdPort(false);
    EXPECT_NE(open(PEER_COM), INVALID_HANDLE_VALUE);

    EXPECT_EQ(open(ABSENT_COM), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(lastErrorWords(), held);
}

// A program that has the port open without any lock would take every byte
// written to it: the open fails as for a locked port, before anything goes
// out, and the platform names the program.
TEST_F(SerialContract, PortHeldWithoutALockIsBusyWithItsHolderNamed)
{
    const PORT_HOLDER other = peer_holdPortWithoutALock();
    PORT_HOLDER named{};
    EXPECT_EQ(open(PEER_COM), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(PortHolder_OfLastOpen(&named));
    EXPECT_EQ(named.processId, other.processId);
    EXPECT_STREQ(named.name, other.name);

    EXPECT_EQ(open(ABSENT_COM), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(PortHolder_OfLastOpen(&named)) << "a holder is only that of the last open";
    EXPECT_EQ(peer_receive(1, 50), "");
}

// The far end of the line may keep the port's own side open (the emulated
// unit does, so that its line stays up): it is not another opener.
TEST_F(SerialContract, FarEndHoldingThePortsSideDoesNotMakeItBusy)
{
    peer_holdBothEnds();
    EXPECT_NE(open(PEER_COM), INVALID_HANDLE_VALUE);
    PORT_HOLDER named{};
    EXPECT_FALSE(PortHolder_OfLastOpen(&named));
}

TEST_F(SerialContract, EveryCallOnAHandleThatIsNotOpenFails)
{
    const HANDLE closed = open(PEER_COM);
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    closeHandle(closed);
    DCB line = lineAt(9600);
    COMMTIMEOUTS timeouts{10, 0, 10, 0, 0};
    std::set<std::string> words;
    for (HANDLE h : {closed, HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
        SCOPED_TRACE(h == closed ? "closed handle" : h == nullptr ? "null handle" : "INVALID_HANDLE_VALUE");
        const auto expectInvalid = [&words](BOOL result, const char *call) {
            EXPECT_FALSE(result) << call;
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << call;
            words.insert(lastErrorWords());
            SetLastError(ERROR_SUCCESS);
        };
        DWORD count = 7;
        char buffer[4] = {};
        expectInvalid(WriteFile(h, "lost", 4, &count, nullptr), "WriteFile");
        EXPECT_EQ(count, 0u);
        count = 7;
        expectInvalid(ReadFile(h, buffer, sizeof buffer, &count, nullptr), "ReadFile");
        EXPECT_EQ(count, 0u);
        expectInvalid(SetupComm(h, 8192, 8192), "SetupComm");
        expectInvalid(SetCommTimeouts(h, &timeouts), "SetCommTimeouts");
        expectInvalid(SetCommState(h, &line), "SetCommState");
        expectInvalid(PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR), "PurgeComm");
        expectInvalid(EscapeCommFunction(h, SETDTR), "EscapeCommFunction");
        expectInvalid(CloseHandle(h), "CloseHandle");
    }
    EXPECT_EQ(words.size(), 1u);
    EXPECT_EQ(peer_receive(4, 50), "");
}
