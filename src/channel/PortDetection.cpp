#include "channel/PortDetection.h"

#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstring>
#include <span>
#include <string>

const int SEARCH_BAUD_RATES[SEARCH_BAUD_RATE_COUNT] = {115200, 9600, 57600, 4800, 2400, 1200};

namespace {

// A port to probe: COMn, or (nId 0) the tool's device by its path.
struct ProbedPort {
    int nId;
    const char *device;
    std::string label;  // what the log calls it
};

HANDLE openQuietly(const ProbedPort &port)
{
    return port.nId != 0 ? ComPortAPI_OpenDevice(port.nId) : ComPortAPI_OpenNamedDevice(port.device);
}

BOOL openAsThePort(const ProbedPort &port)
{
    return port.nId != 0 ? ComPortAPI_OpenCOM(port.nId) : ComPortAPI_OpenNamed(port.device);
}

// Opens the port at the rate and sends the probe up to twice; the port stays
// open only when the unit answered.
BOOL probeAtRate(const ProbedPort &port, int rate, const char *ResponseExpected)
{
    ComPortAPI_SetBaudRate(rate);
    if (!openAsThePort(port)) {
        return FALSE;
    }
    gBaudRate = rate;
    for (int attempt = 0; attempt < 2 && !ComPortAPI_LastWriteStalled(nullptr); ++attempt) {
        if (sendCommand(PROBE_COMMAND, FALSE, TRUE, ResponseExpected)) {
            return TRUE;
        }
    }
    ComPortAPI_CloseCOM();
    return FALSE;
}

// Windows says "access denied" for a port another program holds.
bool heldElsewhere(DWORD reason)
{
    return reason == ERROR_ACCESS_DENIED || reason == ERROR_SHARING_VIOLATION;
}

PortProbe probePort(const ProbedPort &port, int onlyBaudRate)
{
    // A quiet first look: absent or busy ports are passed over without a
    // message and without six rate attempts.
    g_hCOM = openQuietly(port);
    if (g_hCOM == INVALID_HANDLE_VALUE) {
        UpdateLog_Failure("look", "%s cannot be opened", port.label.c_str());
        gComPortNumber = 0;
        gBaudRate = 0;
        return heldElsewhere(GetLastError()) ? PORT_BUSY : PORT_ABSENT;
    }
    UpdateLog_Event("look", "%s present", port.label.c_str());
    CloseHandle(g_hCOM);
    gComPortNumber = port.nId;
    char ResponseExpected[100];
    strcpy(ResponseExpected, PROBE_EXPECTED_RESPONSE);
    const std::span<const int> rates =
        onlyBaudRate != 0 ? std::span<const int>(&onlyBaudRate, 1) : std::span<const int>(SEARCH_BAUD_RATES);
    for (int rate : rates) {
        if (probeAtRate(port, rate, ResponseExpected)) {
            return PORT_UNIT_FOUND;
        }
        // A line that stopped taking bytes takes none at another rate: one
        // write window is all the port costs the search.
        if (ComPortAPI_LastWriteStalled(nullptr)) {
            break;
        }
    }
    return PORT_NO_UNIT;
}

}  // namespace

PortProbe probeComPort(int nId, int onlyBaudRate)
{
    return probePort({nId, nullptr, "COM" + std::to_string(nId)}, onlyBaudRate);
}

PortProbe probeNamedPort(const char *device, int onlyBaudRate)
{
    return probePort({0, device, device}, onlyBaudRate);
}

BOOL detectComPortAndBaudrate(void)
{
    for (int i = FIRST_COM_PORT; i <= LAST_COM_PORT; ++i) {
        if (probeComPort(i, 0) == PORT_UNIT_FOUND) {
            return TRUE;
        }
    }
    return FALSE;
}
