// What the worker tests need to know of processes beyond the worker layer:
// a process's own id, whether one is gone, and ways for a stand-in worker to
// crash or to interrupt its supervisor.
#ifndef TESTS_PROCESSCHECK_H_
#define TESTS_PROCESSCHECK_H_

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

inline long ownProcessId()
{
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

inline bool processGone(long pid)
{
#ifdef _WIN32
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return true;
    }
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
#else
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        return true;
    }
    // Dead but not yet reaped, by a parent that may never reap it.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t end = line.rfind(')');
    return end != std::string::npos && line.compare(end, 3, ") Z") == 0;
#endif
}

// Gone within waitMs (a process killed with its parent is reaped by the
// system's own reaper a moment later).
inline bool processGoneWithin(long pid, int waitMs)
{
    for (int waited = 0; waited < waitMs; waited += 20) {
        if (processGone(pid)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return processGone(pid);
}

// Ends the calling process as a crash does.
[[noreturn]] inline void crashNow()
{
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 0xC0000005);
#else
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
#endif
    std::abort();
}

// Ctrl-C to this process, as from its terminal or console; false when there
// is no console to send it through.
inline bool interruptSelf()
{
#ifdef _WIN32
    return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
#else
    return raise(SIGINT) == 0;
#endif
}

// Ctrl-C, as the supervisor would get it from its terminal.
inline void interruptParent()
{
#ifndef _WIN32
    kill(getppid(), SIGINT);
#endif
}

// A terminal's hang-up, to the supervisor and to this worker.
inline void hangUpParentAndSelf()
{
#ifndef _WIN32
    kill(getppid(), SIGHUP);
    raise(SIGHUP);
#endif
}

// From now on a request to terminate is ignored: only a kill ends this
// process.
inline void ignoreTermination()
{
#ifndef _WIN32
    signal(SIGTERM, SIG_IGN);
#endif
}

#endif
