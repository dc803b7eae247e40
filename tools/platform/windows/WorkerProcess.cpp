// Workers on Windows: CreateProcess with the standard handles on anonymous
// pipes, which cannot wait overlapped, so the collection peeks at each pipe
// every few milliseconds. Every worker is put into one job that kills its
// processes when the tool's handle to it closes, which the tool's end does
// however it comes.
#include "platform/WorkerProcess.h"

#include "platform/WorkerOutput.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

struct Worker {
    HANDLE process;
    int id;
    HANDLE pipes[2];  // read ends of stdout and stderr; null once at their end
    bool ended;
    DWORD exitCode;
};

// How long the collection sleeps between two looks at the pipes.
const DWORD PEEK_INTERVAL_MS = 10;
// The exit status of a worker the tool ended: an NTSTATUS error, so that it
// reads as a death (STATUS_CONTROL_C_EXIT).
const DWORD ENDED_BY_TOOL = 0xC000013A;

std::vector<Worker> g_workers;
HANDLE g_job = nullptr;
HANDLE g_interruptEvent = nullptr;
HANDLE g_workersEnded = nullptr;
std::atomic<bool> g_interrupted{false};

bool makeJob(void)
{
    if (g_job != nullptr) {
        return true;
    }
    g_job = CreateJobObjectA(nullptr, nullptr);
    if (g_job == nullptr) {
        return false;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(g_job);
        g_job = nullptr;
        return false;
    }
    return true;
}

void makeEvents(void)
{
    if (g_interruptEvent == nullptr) {
        g_interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_workersEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
}

// One argument as the C runtime's parser reads it back: quoted when it holds
// blanks or quotes, backslashes doubled only where they precede a quote.
std::string quoted(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string text = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string commandLineOf(const std::vector<std::string> &argv)
{
    std::string line;
    for (const std::string &arg : argv) {
        if (!line.empty()) {
            line += ' ';
        }
        line.append(quoted(arg));
    }
    return line;
}

// A pipe whose write end the child inherits and whose read end it does not.
bool makePipe(HANDLE *readEnd, HANDLE *writeEnd)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(readEnd, writeEnd, &inherit, 0)) {
        *readEnd = *writeEnd = nullptr;
        return false;
    }
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void closeHandles(std::initializer_list<HANDLE> handles)
{
    for (HANDLE h : handles) {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
}

// Created suspended and put into the job before it runs a single
// instruction, so that nothing it starts can escape the job either. Without
// a console of its own: the console's Ctrl-C and close reach the supervisor,
// which ends the workers itself.
HANDLE startInJob(const std::vector<std::string> &argv, HANDLE input, HANDLE output, HANDLE errors)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION info{};
    std::string commandLine = commandLineOf(argv);
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        return nullptr;
    }
    if (!AssignProcessToJobObject(g_job, info.hProcess)) {
        TerminateProcess(info.hProcess, ENDED_BY_TOOL);
        closeHandles({info.hProcess, info.hThread});
        return nullptr;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return info.hProcess;
}

void closePipe(Worker &worker, int stream)
{
    closeHandles({worker.pipes[stream]});
    worker.pipes[stream] = nullptr;
}

// Takes what one pipe holds now; false when nothing was there.
bool readPipe(Worker &worker, int stream)
{
    DWORD available = 0;
    if (!PeekNamedPipe(worker.pipes[stream], nullptr, 0, nullptr, &available, nullptr)) {
        closePipe(worker, stream);
        return false;
    }
    if (available == 0) {
        return false;
    }
    char bytes[65536];
    DWORD n = 0;
    const DWORD wanted = available < sizeof bytes ? available : sizeof bytes;
    if (!ReadFile(worker.pipes[stream], bytes, wanted, &n, nullptr) || n == 0) {
        closePipe(worker, stream);
        return false;
    }
    WorkerOutput_Append(worker.id, stream, bytes, n);
    return true;
}

bool readAvailable(void)
{
    bool any = false;
    for (Worker &worker : g_workers) {
        for (int stream : {WORKER_STDOUT, WORKER_STDERR}) {
            while (worker.pipes[stream] != nullptr && readPipe(worker, stream)) {
                any = true;
            }
        }
    }
    return any;
}

// After its end: what is left in its pipes, then the pipes closed (a
// process it left behind may still hold them).
void drainAndClose(Worker &worker)
{
    for (int stream : {WORKER_STDOUT, WORKER_STDERR}) {
        while (worker.pipes[stream] != nullptr && readPipe(worker, stream)) {
        }
        closePipe(worker, stream);
    }
}

bool noteEnd(Worker &worker, DWORD waitMs)
{
    if (worker.ended || WaitForSingleObject(worker.process, waitMs) != WAIT_OBJECT_0) {
        return false;
    }
    GetExitCodeProcess(worker.process, &worker.exitCode);
    worker.ended = true;
    drainAndClose(worker);
    return true;
}

bool noteEnds(void)
{
    bool any = false;
    for (Worker &worker : g_workers) {
        any = noteEnd(worker, 0) || any;
    }
    return any;
}

// Windows ends the tool once this returns from a close, log-off or shutdown:
// it first gives the supervisor a few seconds to end its workers.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    g_interrupted = true;
    SetEvent(g_interruptEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(g_workersEnded, 4000);
    }
    return TRUE;
}

}  // namespace

std::string WorkerProcess_OwnPath(const char *argv0)
{
    char path[32768];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return argv0 != nullptr ? argv0 : "";
    }
    return std::string(path, length);
}

int WorkerProcess_Start(const std::vector<std::string> &argv)
{
    makeEvents();
    if (argv.empty() || g_workers.size() >= MAX_WORKERS || !makeJob()) {
        return -1;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nothing =
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE out[2] = {nullptr, nullptr};
    HANDLE err[2] = {nullptr, nullptr};
    HANDLE process = nullptr;
    if (nothing != INVALID_HANDLE_VALUE && makePipe(&out[0], &out[1]) && makePipe(&err[0], &err[1])) {
        process = startInJob(argv, nothing, out[1], err[1]);
    }
    closeHandles({nothing, out[1], err[1]});
    if (process == nullptr) {
        closeHandles({out[0], err[0]});
        return -1;
    }
    g_workers.push_back({process, WorkerOutput_Open(), {out[0], err[0]}, false, 0});
    return static_cast<int>(g_workers.size()) - 1;
}

bool WorkerProcess_Collect(int timeoutMs)
{
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const bool readSome = readAvailable();
        const bool endedSome = noteEnds();
        if (readSome || endedSome || g_interrupted) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= until) {
            return false;
        }
        const ULONGLONG left = until - now;
        WaitForSingleObject(g_interruptEvent, left < PEEK_INTERVAL_MS ? static_cast<DWORD>(left) : PEEK_INTERVAL_MS);
    }
}

WorkerStatus WorkerProcess_Status(int worker)
{
    const Worker &w = g_workers[worker];
    if (!w.ended) {
        return {WORKER_RUNNING, 0};
    }
    // Exceptions and forced ends carry NTSTATUS error codes; a program's own
    // exit status is far below them.
    if (w.exitCode >= 0xC0000000u) {
        return {WORKER_DIED, static_cast<int>(w.exitCode)};
    }
    return {WORKER_EXITED, static_cast<int>(w.exitCode)};
}

std::string WorkerProcess_DescribeDeath(int code)
{
    char text[64];
    snprintf(text, sizeof text, "ended with status 0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(code)));
    return text;
}

void WorkerProcess_End(int worker, int graceMs)
{
    Worker &w = g_workers[worker];
    if (!w.ended) {
        // A worker without a console cannot be asked; the system closes its
        // port as it ends it.
        TerminateProcess(w.process, ENDED_BY_TOOL);
        noteEnd(w, graceMs < 0 ? INFINITE : static_cast<DWORD>(graceMs));
    }
    noteEnd(w, INFINITE);
}

void WorkerProcess_EndAll(int graceMs)
{
    for (Worker &worker : g_workers) {
        if (!worker.ended) {
            TerminateProcess(worker.process, ENDED_BY_TOOL);
        }
    }
    for (size_t i = 0; i < g_workers.size(); ++i) {
        WorkerProcess_End(static_cast<int>(i), graceMs);
    }
    SetEvent(g_workersEnded);
}

void WorkerProcess_ReleaseAll(void)
{
    for (Worker &worker : g_workers) {
        closePipe(worker, WORKER_STDOUT);
        closePipe(worker, WORKER_STDERR);
        closeHandles({worker.process});
    }
    g_workers.clear();
    WorkerOutput_Forget();
}

void WorkerProcess_CatchInterrupts(void)
{
    makeEvents();
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool WorkerProcess_Interrupted(void)
{
    return g_interrupted;
}

void WorkerProcess_ClearInterrupt(void)
{
    g_interrupted = false;
    if (g_interruptEvent != nullptr) {
        ResetEvent(g_interruptEvent);
        ResetEvent(g_workersEnded);
    }
}
