#include "channel/PortDetection.h"

#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstring>

namespace {

// Fastest first, then the unit's usual 9600, then the rest downwards.
const int BAUD_RATES_TO_TRY[] = {115200, 9600, 57600, 4800, 2400, 1200};

// Opens the port at the rate and sends the probe up to twice; the port stays
// open only when the unit answered.
BOOL probeAtRate(int port, int rate, const char *ResponseExpected)
{
    ComPortAPI_SetBaudRate(rate);
    if (!ComPortAPI_OpenCOM(port)) {
        return FALSE;
    }
    gBaudRate = rate;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (sendCommand(PROBE_COMMAND, FALSE, TRUE, ResponseExpected)) {
            return TRUE;
        }
    }
    CloseHandle(g_hCOM);
    return FALSE;
}

}  // namespace

BOOL detectComPortAndBaudrate(void)
{
    char ResponseExpected[100];
    strcpy(ResponseExpected, PROBE_EXPECTED_RESPONSE);
    for (int i = FIRST_COM_PORT; i <= LAST_COM_PORT; ++i) {
        // A quiet first look: absent or busy ports are passed over without a
        // message and without six rate attempts.
        g_hCOM = ComPortAPI_OpenDevice(i);
        if (g_hCOM == INVALID_HANDLE_VALUE) {
            gComPortNumber = 0;
            gBaudRate = 0;
            continue;
        }
        CloseHandle(g_hCOM);
        gComPortNumber = i;
        for (int rate : BAUD_RATES_TO_TRY) {
            if (probeAtRate(i, rate, ResponseExpected)) {
                return TRUE;
            }
        }
    }
    return FALSE;
}
