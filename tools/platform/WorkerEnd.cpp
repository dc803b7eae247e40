#include "platform/WorkerEnd.h"

#include "ToolOutcome.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

// Exceptions and forced ends on Windows carry NTSTATUS error codes; a
// program's own exit status is far below them.
const unsigned long FIRST_NTSTATUS_ERROR = 0xC0000000UL;

[[noreturn]] void endByAbort(void)
{
    std::_Exit(exitStatus(ToolOutcome::Aborted));
}

// Not a word on the console here: an abort may come from inside the C
// runtime with its locks held.
void onAbortSignal(int)
{
    endByAbort();
}

[[noreturn]] void onTerminate(void)
{
    try {
        if (std::exception_ptr thrown = std::current_exception()) {
            std::rethrow_exception(thrown);
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "\nERROR: uncaught exception: %s\n", e.what());
    } catch (...) {
        fputs("\nERROR: uncaught exception\n", stderr);
    }
    fflush(stderr);
    endByAbort();
}

}  // namespace

WorkerStatus WorkerEnd_OfExit(unsigned long code)
{
    const bool died =
        code == static_cast<unsigned long>(exitStatus(ToolOutcome::Aborted)) || code >= FIRST_NTSTATUS_ERROR;
    return {died ? WORKER_DIED : WORKER_EXITED, static_cast<int>(code)};
}

std::string WorkerProcess_DescribeDeath(int code)
{
    return code == exitStatus(ToolOutcome::Aborted) ? "ended by abort" : WorkerEnd_DescribeSystemDeath(code);
}

void WorkerProcess_ReportAborts(void)
{
    std::signal(SIGABRT, onAbortSignal);
    std::set_terminate(onTerminate);
}
