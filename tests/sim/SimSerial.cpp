// The Win32 serial operations on the virtual clock. Reads follow the read
// time-out rule of the subset, writes take their time on the wire (and end
// at their window when the line stops taking bytes), the emulated unit hears
// each write when its last byte has gone out, and every line setting a
// module applies goes into the event log.
#include "SimSerial.h"

#include "SimConsole.h"
#include "SimEvents.h"

#include <windows.h>

#include "platform/PortHolder.h"
#include "platform/SerialDevice.h"
#include "platform/subset/ComPath.h"
#include "platform/subset/LastError.h"
#include "platform/subset/ReadTimeouts.h"
#include "platform/subset/WriteTimeouts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

enum class PortKind { Absent, Silent, Unit };

struct UnitDeleter {
    void operator()(UnitModel *unit) const { unit_destroy(unit); }
};

DCB initialLine()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    return dcb;
}

// A write picked by what it carries: the occurrence-th that begins with
// prefix ("": any), or the one piecesAfter writes after it; occurrence 0
// picks none.
struct PickedWrite {
    std::string prefix;
    int occurrence = 0, piecesAfter = 0;
    int prefixWrites = 0;
    int in = -1;  // writes until the picked one, once its prefix was seen
};

struct SimPort {
    PortKind kind = PortKind::Absent;
    bool held = false;
    PORT_HOLDER holder{};  // who holds it, when a test named one
    bool holderNamed = false;
    std::unique_ptr<UnitModel, UnitDeleter> unit;
    std::multimap<int64_t, std::string> scripted;  // bytes a test sends, by arrival time
    DCB line = initialLine();
    int writes = 0;
    int failingWrite = 0;
    PickedWrite failing;
    PickedWrite stalling;
    size_t stallTakes = 0;  // bytes of the stalling write the line still takes
    bool stalled = false;   // the line takes no more bytes
    bool refuseConfiguration = false;
    std::string received;  // arrived, not yet read
    int openHandle = 0;
    std::string devicePath;  // what the port leads to, when a test named it
    bool adapter = false;    // listed among the adapters
};

struct SimHandle {
    int com = 0;
    COMMTIMEOUTS timeouts{};
};

std::map<int, SimPort> ports;
std::map<int, SimHandle> handles;
int nextHandleId = 1;
// The holder of the port the last open could not have, when one was named.
PORT_HOLDER lastHolder{};
bool lastHolderNamed = false;

constexpr int STANDARD_RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

SimPort &port(int com)
{
    return ports[com];
}

SimHandle *findHandle(HANDLE h)
{
    const auto it = handles.find(static_cast<int>(reinterpret_cast<intptr_t>(h)));
    if (it == handles.end()) {
        subset_setLastError(ERROR_INVALID_HANDLE, nullptr);
        return nullptr;
    }
    return &it->second;
}

// The port a name opens: \\.\COMn, or the port a test gave that device path;
// 0 for none.
int portNamed(LPCSTR name)
{
    const auto com = static_cast<int>(subset_comPortNumber(name));
    if (com != 0 || name == nullptr) {
        return com;
    }
    for (const auto &[number, p] : ports) {
        if (!p.devicePath.empty() && p.devicePath == name) {
            return number;
        }
    }
    return 0;
}

bool dropped(const SimPort &p)
{
    return p.unit && unit_isDropped(p.unit.get());
}

// When the next byte reaches the port, if any is on its way.
bool nextArrival(const SimPort &p, int64_t *atUs)
{
    int64_t unitAt = 0;
    const bool fromUnit = p.unit && unit_nextOutputTime(p.unit.get(), &unitAt);
    if (p.scripted.empty()) {
        *atUs = unitAt;
        return fromUnit;
    }
    const int64_t scriptAt = p.scripted.begin()->first;
    *atUs = fromUnit ? std::min(unitAt, scriptAt) : scriptAt;
    return true;
}

// Moves one byte the unit sent by `until` into the receive queue; a byte
// sent at one rate and received at another arrives as noise.
bool pullUnitByte(SimPort &p, int64_t until)
{
    int64_t at = 0;
    if (!p.unit || !unit_nextOutputTime(p.unit.get(), &at) || at > until) {
        return false;
    }
    const bool sameRate = unit_outputBaud(p.unit.get()) == static_cast<int>(p.line.BaudRate);
    uint8_t byte = 0;
    if (unit_takeOutput(p.unit.get(), at, &byte, 1) != 1) {
        return false;
    }
    if (!sameRate) {
        unit_garble(&byte, 1);
    }
    p.received.push_back(static_cast<char>(byte));
    return true;
}

// Moves everything that has reached the port by `until` into its receive
// queue, in the order it came, open or not.
void pullArrived(SimPort &p, int64_t until)
{
    for (;;) {
        int64_t at = 0;
        if (!nextArrival(p, &at) || at > until) {
            return;
        }
        if (!p.scripted.empty() && p.scripted.begin()->first == at) {
            p.received += p.scripted.begin()->second;
            p.scripted.erase(p.scripted.begin());
        } else if (!pullUnitByte(p, until)) {
            return;
        }
    }
}

bool standardLine(const DCB &dcb)
{
    return std::find(std::begin(STANDARD_RATES), std::end(STANDARD_RATES), static_cast<int>(dcb.BaudRate)) !=
               std::end(STANDARD_RATES) &&
           dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT;
}

// A port event carrying the line it ran with.
SimEvent lineEvent(SimEventKind kind, int com, const SimPort &p, const std::string &bytes)
{
    SimEvent event{0, kind, com, bytes};
    event.baud = static_cast<int>(p.line.BaudRate);
    event.line = p.line;
    return event;
}

BOOL failWith(DWORD code)
{
    subset_setLastError(code, nullptr);
    return FALSE;
}

// Counts this write; whether it is the one picked.
bool picked(PickedWrite &w, const std::string &bytes)
{
    if (w.in < 0 && bytes.rfind(w.prefix, 0) == 0 && ++w.prefixWrites == w.occurrence) {
        w.in = w.piecesAfter + 1;
    }
    return w.in > 0 && --w.in == 0;
}

// Whether the n-th write (counting this one) is the one a test made fail.
bool writeFails(SimPort &p, const std::string &bytes)
{
    const bool failsHere = picked(p.failing, bytes);
    return ++p.writes == p.failingWrite || failsHere || dropped(p);
}

// How many bytes of this write the line takes at all: every one, until the
// write a test picked for the line to stop at.
size_t bytesTheLineTakes(SimPort &p, const std::string &bytes)
{
    if (!p.stalled && picked(p.stalling, bytes)) {
        p.stalled = true;
        return std::min(p.stallTakes, bytes.size());
    }
    return p.stalled ? 0 : bytes.size();
}

// How many of `count` bytes go out at `baud` within a write window.
size_t bytesWithin(size_t count, int baud, int64_t windowUs)
{
    if (windowUs == WRITE_WAIT_UNLIMITED || unit_wireTimeUs(count, baud) <= windowUs) {
        return count;
    }
    // The wire time rounds to the microsecond: the estimate is off by one at most.
    auto fits = static_cast<size_t>(windowUs * baud / 10'000'000);
    while (fits > 0 && unit_wireTimeUs(fits, baud) > windowUs) {
        --fits;
    }
    while (fits + 1 < count && unit_wireTimeUs(fits + 1, baud) <= windowUs) {
        ++fits;
    }
    return fits;
}

// Moves the clock to the end of the read's wait: the next arrival within it,
// or the end of the window. False when nothing will ever end the wait.
bool waitForArrival(const SimPort &p, int64_t waitUs)
{
    const int64_t now = simClock_nowUs();
    int64_t next = 0;
    const bool coming = nextArrival(p, &next) && (waitUs == READ_WAIT_UNLIMITED || next <= now + waitUs);
    if (!coming && waitUs == READ_WAIT_UNLIMITED) {
        return false;
    }
    simClock_advanceUs((coming ? next : now + waitUs) - now);
    return true;
}

}  // namespace

void simPorts_reset()
{
    ports.clear();
    handles.clear();
    lastHolderNamed = false;
}

void simPort_setSilent(int com)
{
    port(com).kind = PortKind::Silent;
}

void simPort_setHeld(int com, bool held)
{
    SimPort &p = port(com);
    p.held = held;
    p.holderNamed = p.holderNamed && held;
    if (held && p.kind == PortKind::Absent) {
        p.kind = PortKind::Silent;
    }
}

void simPort_setHeldBy(int com, DWORD processId, const char *name)
{
    simPort_setHeld(com);
    SimPort &p = port(com);
    p.holder.processId = processId;
    snprintf(p.holder.name, sizeof p.holder.name, "%s", name);
    p.holderNamed = true;
}

UnitModel *simPort_attachUnit(int com, const UnitConfig &config)
{
    SimPort &p = port(com);
    p.kind = PortKind::Unit;
    p.unit.reset(unit_create(config));
    return p.unit.get();
}

void simPort_arrive(int com, int64_t atUs, const std::string &bytes)
{
    port(com).scripted.emplace(atUs, bytes);
}

void simPort_failWrite(int com, int writeNumber)
{
    port(com).failingWrite = writeNumber;
}

void simPort_refuseConfiguration(int com)
{
    port(com).refuseConfiguration = true;
}

void simPort_failWriteAfter(int com, const std::string &prefix, int occurrence, int piecesAfter)
{
    port(com).failing = PickedWrite{prefix, occurrence, piecesAfter};
}

void simPort_stallWriteAfter(int com, const std::string &prefix, int occurrence, int piecesAfter, size_t bytesTaken)
{
    SimPort &p = port(com);
    p.stalling = PickedWrite{prefix, occurrence, piecesAfter};
    p.stallTakes = bytesTaken;
}

int simPorts_openHandles()
{
    return static_cast<int>(handles.size());
}

int simPort_currentBaud(int com)
{
    const SimPort &p = port(com);
    return p.openHandle == 0 ? 0 : static_cast<int>(p.line.BaudRate);
}

void simPort_setDevicePath(int com, const std::string &path, bool adapter)
{
    SimPort &p = port(com);
    p.devicePath = path;
    p.adapter = adapter;
}

std::string SerialDevice_PathOf(LPCSTR name)
{
    const auto com = static_cast<int>(subset_comPortNumber(name));
    if (com == 0) {
        return name == nullptr ? "" : name;
    }
    const auto found = ports.find(com);
    // As a POSIX machine leads a COM port without a link of its own.
    return found != ports.end() && !found->second.devicePath.empty() ? found->second.devicePath
                                                                     : "/dev/ttyS" + std::to_string(com - 1);
}

BOOL SerialDevice_ListAdapters(std::vector<std::string> *paths)
{
    paths->clear();
    for (const auto &[number, p] : ports) {
        if (p.adapter) {
            paths->push_back(p.devicePath);
        }
    }
    std::sort(paths->begin(), paths->end());
    return TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    lastHolderNamed = false;
    const int com = portNamed(lpFileName);
    SimPort *p = com == 0 ? nullptr : &port(com);
    if (p == nullptr || p->kind == PortKind::Absent || dropped(*p)) {
        subset_setLastError(ERROR_FILE_NOT_FOUND, nullptr);
        return INVALID_HANDLE_VALUE;
    }
    if (p->held || p->openHandle != 0) {
        lastHolderNamed = p->held && p->holderNamed;
        lastHolder = p->holder;
        subset_setLastError(ERROR_SHARING_VIOLATION, nullptr);
        return INVALID_HANDLE_VALUE;
    }
    const int id = nextHandleId++;
    handles[id] = SimHandle{com, {}};
    p->openHandle = id;
    simEvents_record(SimEventKind::Open, com, "");
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(id));
}

BOOL CloseHandle(HANDLE hObject)
{
    SimHandle *h = findHandle(hObject);
    if (h == nullptr) {
        return FALSE;
    }
    const int com = h->com;
    port(com).openHandle = 0;
    handles.erase(static_cast<int>(reinterpret_cast<intptr_t>(hObject)));
    simEvents_record(SimEventKind::Close, com, "");
    return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD)
{
    return findHandle(hFile) != nullptr;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    if (lpCommTimeouts == nullptr) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    SimEvent event{0, SimEventKind::CommTimeouts, h->com, ""};
    event.timeouts = *lpCommTimeouts;
    event.refused = port(h->com).refuseConfiguration;
    simEvents_add(event);
    if (event.refused) {
        return failWith(ERROR_GEN_FAILURE);
    }
    h->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    if (lpDCB == nullptr) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    SimPort &p = port(h->com);
    SimEvent event{0, SimEventKind::CommState, h->com, ""};
    event.baud = static_cast<int>(lpDCB->BaudRate);
    event.line = *lpDCB;
    event.refused = p.refuseConfiguration || !standardLine(*lpDCB);
    simEvents_add(event);
    if (event.refused) {
        return failWith(p.refuseConfiguration ? ERROR_GEN_FAILURE : ERROR_INVALID_PARAMETER);
    }
    // What came before the change was received at the earlier rate.
    pullArrived(p, simClock_nowUs());
    p.line = *lpDCB;
    return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    SimPort &p = port(h->com);
    std::string droppedBytes;
    if ((dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0) {
        pullArrived(p, simClock_nowUs());
        droppedBytes.swap(p.received);
    }
    SimEvent event{0, SimEventKind::Purge, h->com, droppedBytes};
    event.code = dwFlags;
    simEvents_add(event);
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    if (dwFunc != SETDTR && dwFunc != CLRDTR && dwFunc != SETRTS && dwFunc != CLRRTS) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    SimEvent event{0, SimEventKind::Escape, h->com, ""};
    event.code = dwFunc;
    simEvents_add(event);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED)
{
    *lpNumberOfBytesWritten = 0;
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    SimPort &p = port(h->com);
    const std::string bytes(static_cast<const char *>(lpBuffer), nNumberOfBytesToWrite);
    const bool fails = writeFails(p, bytes);
    const size_t taken = bytesTheLineTakes(p, bytes);
    if (fails) {
        simEvents_add(lineEvent(SimEventKind::Write, h->com, p, ""));
        return failWith(ERROR_GEN_FAILURE);
    }
    const int baud = static_cast<int>(p.line.BaudRate);
    const int64_t start = simClock_nowUs();
    const int64_t window = subset_writeWindowUs(&h->timeouts, nNumberOfBytesToWrite);
    const std::string sent = bytes.substr(0, std::min(taken, bytesWithin(bytes.size(), baud, window)));
    if (sent.size() < bytes.size() && window == WRITE_WAIT_UNLIMITED) {
        // On a real line this write would never return.
        fprintf(stderr, "simulated COM%d: a write without time-outs on a line that takes no more bytes\n", h->com);
        std::abort();
    }
    SimEvent written = lineEvent(SimEventKind::Write, h->com, p, sent);
    written.code = nNumberOfBytesToWrite;
    simEvents_add(written);
    const int64_t end = start + unit_wireTimeUs(sent.size(), baud);
    // What came in while the bytes went out is in the queue already.
    pullArrived(p, end);
    simClock_advanceUs(end - simClock_nowUs());
    if (p.unit) {
        unit_receive(p.unit.get(), end, baud, reinterpret_cast<const uint8_t *>(sent.data()), sent.size());
    }
    if (sent.size() < bytes.size()) {
        // The rest waits for room until the window has passed.
        pullArrived(p, start + window);
        simClock_advanceUs(start + window - simClock_nowUs());
    }
    *lpNumberOfBytesWritten = static_cast<DWORD>(sent.size());
    return TRUE;
}

BOOL PortHolder_OfLastOpen(PORT_HOLDER *holder)
{
    if (!lastHolderNamed || holder == nullptr) {
        return FALSE;
    }
    *holder = lastHolder;
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, LPOVERLAPPED)
{
    *lpNumberOfBytesRead = 0;
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    SimPort &p = port(h->com);
    // What was printed before the read belongs to the moment it began.
    simConsole_collect();
    // A unit that went off the line is a device that vanished: reads fail.
    if (dropped(p) && p.received.empty()) {
        simEvents_add(lineEvent(SimEventKind::Read, h->com, p, ""));
        return failWith(ERROR_GEN_FAILURE);
    }
    const int64_t start = simClock_nowUs();
    int64_t lastByte = start;
    std::string got;
    for (;;) {
        const int64_t now = simClock_nowUs();
        pullArrived(p, now);
        const size_t take = std::min<size_t>(p.received.size(), nNumberOfBytesToRead - got.size());
        if (take > 0) {
            got.append(p.received, 0, take);
            p.received.erase(0, take);
            lastByte = now;
        }
        const int64_t wait = subset_readWaitUs(&h->timeouts, nNumberOfBytesToRead, static_cast<DWORD>(got.size()),
                                               now - start, now - lastByte);
        if (wait == 0) {
            break;
        }
        if (!waitForArrival(p, wait)) {
            // On a real line this read would never return.
            fprintf(stderr, "simulated COM%d: a read without time-outs on a line where nothing comes\n", h->com);
            std::abort();
        }
    }
    std::copy(got.begin(), got.end(), static_cast<char *>(lpBuffer));
    *lpNumberOfBytesRead = static_cast<DWORD>(got.size());
    simEvents_add(lineEvent(SimEventKind::Read, h->com, p, got));
    return TRUE;
}
