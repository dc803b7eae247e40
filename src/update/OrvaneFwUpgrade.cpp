// The updater's entry point: buffers, port selection, the update, last words.
#include "base/ProgramState.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/ConsoleInput.h"
#include "update/StatusLabels.h"
#include "update/UpdateDriver.h"

#include <cstdio>

namespace {

const char *const PORT_PROMPT = "\n\r\n\rEnter the COM port number : ";
const char *const BAUD_RATE_PROMPT = "\n\r\n\rEnter the BAUD RATE       : ";

int endWithoutUpdate(void)
{
    dipsplayLastMessageToUserBeforeExit("");
    releaseProgramBuffers();
    return -1;
}

// The technician names the port and the rate; FALSE (port closed) when
// either cannot be used.
BOOL selectPortByHand(void)
{
    printf("FAILED");
    printf("%s", PORT_PROMPT);
    if (!readDecimalAnswer(&gComPortNumber, PORT_PROMPT)) {
        return FALSE;
    }
    printf("\r\nOpening COM%d....................", gComPortNumber);
    if (!ComPortAPI_OpenCOM(gComPortNumber)) {
        return FALSE;
    }
    puts("OK\r");
    printf("%s", BAUD_RATE_PROMPT);
    BOOL usable = readDecimalAnswer(&gBaudRate, BAUD_RATE_PROMPT);
    if (usable) {
        printf("\r\nSetting baud rate at %d..........", gBaudRate);
        usable = ComPortAPI_SetBaudRate(gBaudRate);
    }
    if (!usable) {
        ComPortAPI_CloseCOM();
        return FALSE;
    }
    puts("OK\r");
    return TRUE;
}

}  // namespace

int main()
{
    if (!allocateProgramBuffers()) {
        return -1;
    }
    printf("\n\rYou are about to upload the firmware version %s", FIRMWARE_VERSION_TO_UPLOAD);
    printf("\n\r\n\r" DETECTING_PORT_LABEL);
    ComPortAPI_SetHardwareFlowControl(FALSE);
    if (detectComPortAndBaudrate()) {
        puts("OK\r");
        printf(PORT_FOUND_TEXT "%d", gComPortNumber);
        printf("\r\nBaud rate       : %d \r\n\r\n", gBaudRate);
    } else if (!selectPortByHand()) {
        return endWithoutUpdate();
    }
    ComPortAPI_SetHardwareFlowControl(TRUE);
    const BOOL updated = updateFirmware();
    ComPortAPI_CloseCOM();
    dipsplayLastMessageToUserBeforeExit(updated ? "" : UPDATE_NOT_SUCCESSFUL_TEXT);
    releaseProgramBuffers();
    return 0;
}
