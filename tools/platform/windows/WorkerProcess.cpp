// Workers on Windows: CreateProcessW with the standard handles on anonymous
// pipes, which cannot wait overlapped, so the collection peeks at each pipe
// every few milliseconds. No job holds the workers: a supervisor that ends
// leaves them to finish their updates. Every wait is bounded.
#include "platform/WorkerProcess.h"

#include "platform/WorkerEnd.h"
#include "platform/WorkerOutput.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

struct Worker {
    HANDLE process;
    int id;
    HANDLE pipes[2];  // read ends of stdout and stderr; null once at their end
    bool ended;       // or given up on
    DWORD exitCode;
};

// How long the collection sleeps between two looks at the pipes.
const DWORD PEEK_INTERVAL_MS = 10;
// At most this much of one pipe per look: a worker that floods its output
// must not keep the others waiting.
const DWORD READ_PER_LOOK = 65536;
// How long a terminated worker may take to go before it is given up on: one
// stuck in a driver must not hold the supervisor.
const DWORD TERMINATED_WAIT_MS = 3000;
// The exit status of a worker the tool ended: an NTSTATUS error, so that it
// reads as a death (STATUS_CONTROL_C_EXIT).
const DWORD ENDED_BY_TOOL = 0xC000013A;

std::vector<Worker> g_workers;
HANDLE g_interruptEvent = nullptr;
HANDLE g_workersEnded = nullptr;
std::atomic<bool> g_interrupted{false};

void makeEvents(void)
{
    if (g_interruptEvent == nullptr) {
        g_interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_workersEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // Inherited by every worker: a crash ends it at once instead of
        // waiting, unattended, on a dialog nobody will close.
        SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    }
}

std::wstring wideWith(UINT codePage, DWORD flags, const std::string &text)
{
    const int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// Our texts are UTF-8; one that is not (a path from the C runtime's argv,
// in the system's code page) is read in that code page.
std::wstring wideOf(const std::string &text)
{
    const std::wstring wide = wideWith(CP_UTF8, MB_ERR_INVALID_CHARS, text);
    return wide.empty() ? wideWith(CP_ACP, 0, text) : wide;
}

std::string utf8Of(const wchar_t *text, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return "";
    }
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
    return narrow;
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

std::wstring commandLineOf(const std::vector<std::string> &argv)
{
    std::wstring line;
    for (const std::string &arg : argv) {
        if (!line.empty()) {
            line += L' ';
        }
        line.append(wideOf(quoted(arg)));
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

// Without a console of its own: the console's Ctrl-C and close reach the
// supervisor, which ends the workers itself; a supervisor that is gone
// leaves them running.
HANDLE startProcess(const std::vector<std::string> &argv, HANDLE input, HANDLE output, HANDLE errors)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = commandLineOf(argv);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

void closePipe(Worker &worker, int stream)
{
    closeHandles({worker.pipes[stream]});
    worker.pipes[stream] = nullptr;
}

// Takes what one pipe holds now, at most READ_PER_LOOK; false when nothing
// was there.
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
    static char bytes[READ_PER_LOOK];
    DWORD n = 0;
    const DWORD wanted = available < sizeof bytes ? available : sizeof bytes;
    if (!ReadFile(worker.pipes[stream], bytes, wanted, &n, nullptr) || n == 0) {
        closePipe(worker, stream);
        return false;
    }
    WorkerOutput_Append(worker.id, stream, bytes, n);
    return true;
}

// One read per pipe and look, so that every worker is served in turn.
bool readAvailable(void)
{
    bool any = false;
    for (Worker &worker : g_workers) {
        for (int stream : {WORKER_STDOUT, WORKER_STDERR}) {
            if (worker.pipes[stream] != nullptr && readPipe(worker, stream)) {
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

// A worker that cannot ask to stop (it has no console) is terminated at
// once; the system closes its port as it goes. One that has not gone after
// the wait is given up on as ended by the tool.
void endWorkers(const std::vector<Worker *> &workers, int graceMs)
{
    for (Worker *worker : workers) {
        if (!worker->ended) {
            TerminateProcess(worker->process, ENDED_BY_TOOL);
        }
    }
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(graceMs < 0 ? 0 : graceMs) + TERMINATED_WAIT_MS;
    for (Worker *worker : workers) {
        const ULONGLONG now = GetTickCount64();
        noteEnd(*worker, now < until ? static_cast<DWORD>(until - now) : 0);
        if (!worker->ended) {
            worker->ended = true;
            worker->exitCode = ENDED_BY_TOOL;
            drainAndClose(*worker);
        }
    }
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
    static wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    if (length == 0 || length >= sizeof path / sizeof path[0]) {
        return argv0 != nullptr ? argv0 : "";
    }
    return utf8Of(path, static_cast<int>(length));
}

int WorkerProcess_Start(const std::vector<std::string> &argv)
{
    makeEvents();
    if (argv.empty()) {
        return -1;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nothing =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE out[2] = {nullptr, nullptr};
    HANDLE err[2] = {nullptr, nullptr};
    HANDLE process = nullptr;
    if (nothing != INVALID_HANDLE_VALUE && makePipe(&out[0], &out[1]) && makePipe(&err[0], &err[1])) {
        process = startProcess(argv, nothing, out[1], err[1]);
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
    return w.ended ? WorkerEnd_OfExit(w.exitCode) : WorkerStatus{WORKER_RUNNING, 0};
}

std::string WorkerEnd_DescribeSystemDeath(int code)
{
    char text[64];
    snprintf(text, sizeof text, "ended with status 0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(code)));
    return text;
}

void WorkerProcess_End(int worker, int graceMs)
{
    endWorkers({&g_workers[worker]}, graceMs);
}

void WorkerProcess_EndAll(int graceMs)
{
    std::vector<Worker *> all;
    for (Worker &worker : g_workers) {
        all.push_back(&worker);
    }
    endWorkers(all, graceMs);
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
