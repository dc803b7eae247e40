#include "channel/PortDetection.h"

#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstring>
#include <span>

const int SEARCH_BAUD_RATES[SEARCH_BAUD_RATE_COUNT] = {115200, 9600, 57600, 4800, 2400, 1200};

namespace {

// Opens the port at the rate and sends the probe up to twice; the port stays
// open only when the unit answered.
BOOL probeAtRate(int port, int rate, const char *ResponseExpected)
{
    ComPortAPI_SetBaudRate(rate);
    if (!ComPortAPI_OpenCOM(port)) {
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

}  // namespace

PortProbe probeComPort(int nId, int onlyBaudRate)
{
    // A quiet first look: absent or busy ports are passed over without a
    // message and without six rate attempts.
    g_hCOM = ComPortAPI_OpenDevice(nId);
    if (g_hCOM == INVALID_HANDLE_VALUE) {
        UpdateLog_Failure("look", "COM%d cannot be opened", nId);
        gComPortNumber = 0;
        gBaudRate = 0;
        return heldElsewhere(GetLastError()) ? PORT_BUSY : PORT_ABSENT;
    }
    UpdateLog_Event("look", "COM%d present", nId);
    CloseHandle(g_hCOM);
    gComPortNumber = nId;
    char ResponseExpected[100];
    strcpy(ResponseExpected, PROBE_EXPECTED_RESPONSE);
    const std::span<const int> rates =
        onlyBaudRate != 0 ? std::span<const int>(&onlyBaudRate, 1) : std::span<const int>(SEARCH_BAUD_RATES);
    for (int rate : rates) {
        if (probeAtRate(nId, rate, ResponseExpected)) {
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

BOOL detectComPortAndBaudrate(void)
{
    for (int i = FIRST_COM_PORT; i <= LAST_COM_PORT; ++i) {
        if (probeComPort(i, 0) == PORT_UNIT_FOUND) {
            return TRUE;
        }
    }
    return FALSE;
}
