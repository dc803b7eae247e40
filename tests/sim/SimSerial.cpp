// The Win32 serial operations on the virtual clock. Reads follow the read
// time-out rules exactly (a total window from the start of the read, an
// interval window after each byte), writes take their time on the wire, and
// the emulated unit hears each write when its last byte has gone out.
#include "SimSerial.h"

#include "SimConsole.h"
#include "SimEvents.h"

#include <windows.h>

#include "platform/subset/LastError.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>

namespace {

enum class PortKind { Absent, Held, Silent, Unit };

struct UnitDeleter {
    void operator()(UnitModel *unit) const { unit_destroy(unit); }
};

struct SimPort {
    PortKind kind = PortKind::Absent;
    std::unique_ptr<UnitModel, UnitDeleter> unit;
    int writes = 0;
    int failingWrite = 0;
    std::string failPrefix;
    int failOccurrence = 0, failPiecesAfter = 0;
    int prefixWrites = 0;
    int failIn = -1;  // writes until the one that fails, once its prefix was seen
    bool refuseConfiguration = false;
    std::string received;  // arrived, not yet read
    int openHandle = 0;
};

struct SimHandle {
    int com = 0;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
};

std::map<int, SimPort> ports;
std::map<int, SimHandle> handles;
int nextHandleId = 1;

constexpr int STANDARD_RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

SimPort &port(int com)
{
    return ports[com];
}

SimHandle *findHandle(HANDLE h)
{
    const auto it = handles.find(static_cast<int>(reinterpret_cast<intptr_t>(h)));
    return it == handles.end() ? nullptr : &it->second;
}

int64_t microsecondsOnWire(size_t bytes, DWORD baud)
{
    return static_cast<int64_t>(bytes) * 10 * 1000000 / static_cast<int64_t>(baud == 0 ? 1 : baud);
}

// Moves what the unit has sent by `until` into the port's receive queue.
// A byte sent at one rate and read at another arrives as noise.
void pullArrived(SimPort &p, DWORD hostBaud, int64_t until)
{
    if (!p.unit) {
        return;
    }
    int64_t at = 0;
    while (unit_nextOutputTime(p.unit.get(), &at) && at <= until) {
        const bool sameRate = unit_outputBaud(p.unit.get()) == static_cast<int>(hostBaud);
        uint8_t byte = 0;
        if (unit_takeOutput(p.unit.get(), at, &byte, 1) != 1) {
            break;
        }
        if (!sameRate) {
            unit_garble(&byte, 1);
        }
        p.received.push_back(static_cast<char>(byte));
    }
}

bool dropped(const SimPort &p)
{
    return p.unit && unit_isDropped(p.unit.get());
}

// Parses "\\.\COMn"; 0 for anything else.
int comNumberOf(LPCSTR path)
{
    int com = 0;
    int consumed = 0;
    if (sscanf(path, "\\\\.\\COM%d%n", &com, &consumed) != 1 || path[consumed] != '\0' || com < 1) {
        return 0;
    }
    return com;
}

}  // namespace

void simPorts_reset()
{
    ports.clear();
    handles.clear();
}

void simPort_setSilent(int com)
{
    port(com).kind = PortKind::Silent;
}

void simPort_setHeld(int com)
{
    port(com).kind = PortKind::Held;
}

UnitModel *simPort_attachUnit(int com, const UnitConfig &config)
{
    SimPort &p = port(com);
    p.kind = PortKind::Unit;
    p.unit.reset(unit_create(config));
    return p.unit.get();
}

UnitModel *simPort_unit(int com)
{
    return port(com).unit.get();
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
    SimPort &p = port(com);
    p.failPrefix = prefix;
    p.failOccurrence = occurrence;
    p.failPiecesAfter = piecesAfter;
}

int simPorts_openHandles()
{
    return static_cast<int>(handles.size());
}

int simPort_currentBaud(int com)
{
    const int id = port(com).openHandle;
    return id == 0 ? 0 : static_cast<int>(handles[id].dcb.BaudRate);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    const int com = comNumberOf(lpFileName);
    SimPort *p = com == 0 ? nullptr : &port(com);
    if (p == nullptr || p->kind == PortKind::Absent || dropped(*p)) {
        subset_setLastError(ERROR_FILE_NOT_FOUND, nullptr);
        return INVALID_HANDLE_VALUE;
    }
    if (p->kind == PortKind::Held || p->openHandle != 0) {
        subset_setLastError(ERROR_SHARING_VIOLATION, nullptr);
        return INVALID_HANDLE_VALUE;
    }
    const int id = nextHandleId++;
    handles[id] = SimHandle{com, {}, {}};
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
    if (h == nullptr || port(h->com).refuseConfiguration) {
        return FALSE;
    }
    h->timeouts = *lpCommTimeouts;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr || port(h->com).refuseConfiguration ||
        std::find(std::begin(STANDARD_RATES), std::end(STANDARD_RATES), static_cast<int>(lpDCB->BaudRate)) ==
            std::end(STANDARD_RATES)) {
        return FALSE;
    }
    h->dcb = *lpDCB;
    return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD)
{
    SimHandle *h = findHandle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    SimPort &p = port(h->com);
    pullArrived(p, h->dcb.BaudRate, simClock_nowUs());
    p.received.clear();
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD)
{
    return findHandle(hFile) != nullptr;
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
    if (p.failIn < 0 && !p.failPrefix.empty() && bytes.rfind(p.failPrefix, 0) == 0 &&
        ++p.prefixWrites == p.failOccurrence) {
        p.failIn = p.failPiecesAfter + 1;
    }
    const bool failsHere = p.failIn > 0 && --p.failIn == 0;
    if (++p.writes == p.failingWrite || failsHere || dropped(p)) {
        simEvents_record(SimEventKind::Write, h->com, "", static_cast<int>(h->dcb.BaudRate));
        return FALSE;
    }
    simEvents_record(SimEventKind::Write, h->com, bytes, static_cast<int>(h->dcb.BaudRate));
    const int64_t end = simClock_nowUs() + microsecondsOnWire(bytes.size(), h->dcb.BaudRate);
    // What the unit sent while the bytes went out is in the queue already.
    pullArrived(p, h->dcb.BaudRate, end);
    simClock_advanceUs(end - simClock_nowUs());
    if (p.unit) {
        unit_receive(p.unit.get(), end, static_cast<int>(h->dcb.BaudRate),
                     reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
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
        simEvents_record(SimEventKind::Read, h->com, "", static_cast<int>(h->dcb.BaudRate));
        return FALSE;
    }
    const int64_t start = simClock_nowUs();
    const int64_t deadline = start + static_cast<int64_t>(h->timeouts.ReadTotalTimeoutConstant) * 1000;
    const int64_t interval = static_cast<int64_t>(h->timeouts.ReadIntervalTimeout) * 1000;
    std::string got;
    int64_t lastByte = start;
    for (;;) {
        pullArrived(p, h->dcb.BaudRate, simClock_nowUs());
        const size_t take = std::min<size_t>(p.received.size(), nNumberOfBytesToRead - got.size());
        if (take > 0) {
            got.append(p.received, 0, take);
            p.received.erase(0, take);
            lastByte = simClock_nowUs();
        }
        if (got.size() == nNumberOfBytesToRead) {
            break;
        }
        const int64_t limit = got.empty() ? deadline : std::min(deadline, lastByte + interval);
        int64_t next = 0;
        const bool more = !dropped(p) && p.unit && unit_nextOutputTime(p.unit.get(), &next) && next <= limit;
        simClock_advanceUs((more ? next : limit) - simClock_nowUs());
        if (!more) {
            break;
        }
    }
    std::copy(got.begin(), got.end(), static_cast<char *>(lpBuffer));
    *lpNumberOfBytesRead = static_cast<DWORD>(got.size());
    simEvents_record(SimEventKind::Read, h->com, got, static_cast<int>(h->dcb.BaudRate));
    return TRUE;
}
