#include "UpdateDriver.h"

#include "ComPortAPI.h"
#include "CommandChannel.h"
#include "ImageFlattening.h"
#include "ProductCheck.h"
#include "ProgramState.h"
#include "StringOperations.h"
#include "UploadCommand.h"
#include "VersionReply.h"

#include <cstdio>
#include <cstring>

namespace {

// "%fw -v", one direct read of its reply, and the two version lines.
VersionReply queryVersions(void)
{
    VersionReply reply;
    ComPortAPI_SetReadingTimeoutInMs(1000);
    sendCommand("%fw -v", FALSE, FALSE, nullptr);
    int nBytesRead = 0;
    ComPortAPI_ReadCOM(gDataBuffer, DATA_BUFFER_SIZE - 1, &nBytesRead);
    gDataBuffer[nBytesRead] = '\0';
    StrRemoveNL(gDataBuffer, ' ');
    if (parseVersionReply(gDataBuffer, &reply) == 7) {
        printf("Checking firmware version ..............  %d.%02d.%02d \r\n", reply.fw_ver, reply.fw_rev, reply.fw_sub);
        printf("Checking fpga version ..................  %s %d.%02d  device:%d\r\n", reply.model, reply.fpga_ver,
               reply.fpga_rev, reply.fpga_type);
    }
    return reply;
}

// The catalogue index of the FPGA text for the unit: 1 (TX), 2 (RX), or 0
// when the unit is neither.
int identifyVariant(void)
{
    if (sendCommand(PRODUCT_QUERY_COMMAND, FALSE, TRUE, VALIDATE_TX_PRODUCT_ID_STRING)) {
        puts("TX OK\r");
        printf("%s", VALIDATE_TX_PRODUCT_ID_STRING);
        puts("\r");
        return 1;
    }
    if (sendCommand(PRODUCT_QUERY_COMMAND, FALSE, TRUE, VALIDATE_RX_PRODUCT_ID_STRING)) {
        puts("RX OK\r");
        printf("%s", VALIDATE_RX_PRODUCT_ID_STRING);
        puts("\r");
        return 2;
    }
    puts("FAILED\r");
    return 0;
}

BOOL identifyUnit(void)
{
    const VersionReply reply = queryVersions();
    printf("Checking product .......... ");
    if (reply.fpga_type != DEVICE_XC7A35_484) {
        puts("FAILED, Unknown product\r");
        return FALSE;
    }
    const int page_idx = identifyVariant();
    if (page_idx == 0) {
        return FALSE;
    }
    gHexFPGA_Code = newWritableCopyOfImageText(page_idx);
    if (gHexFPGA_Code == nullptr) {
        puts("\r\nERROR: Not enough memory for the Programmable Logic data !\r");
        return FALSE;
    }
    return TRUE;
}

struct UploadStep {
    const char *invalidMessage;
    const char *preparingLabel;
    const char *command;
    int readyTimeoutMs;
    const char *sendingLabel;
};

const UploadStep FPGA_UPLOAD = {"\r\nERROR: Programmable Logic data is not valid !\r",
                                "Preparing to Upload Programmable Logic ............ ", FPGA_UPLOAD_COMMAND, 10000,
                                "Sending Programmable Logic data ................... "};
const UploadStep FIRMWARE_UPLOAD = {"\r\nERROR: uC Firmware data is not valid !\r",
                                    "Preparing to Upload Firmware ...................... ", FIRMWARE_UPLOAD_COMMAND,
                                    5000, "Sending data ...................................... "};

// Flatten, announce with checksum and length, wait for "Ready", stream at
// 115200 and wait for "SUCCESS". Leaves the port at 115200.
BOOL uploadImage(char *hexText, const UploadStep &step)
{
    if (!ValidateFwAndConcatenateData(hexText)) {
        puts(step.invalidMessage);
        return FALSE;
    }
    printf("%s", step.preparingLabel);
    gDataConcatenatedCheckSum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
    char commandToSend[UPLOAD_COMMAND_SIZE];
    buildUploadCommand(commandToSend, sizeof commandToSend, step.command, gDataConcatenatedCheckSum,
                       gDataConcatenatedLenght);
    ComPortAPI_SetReadingTimeoutInMs(step.readyTimeoutMs);
    if (!sendCommand(commandToSend, FALSE, TRUE, "Ready")) {
        puts("FAILED [Unit not ready]\r");
        return FALSE;
    }
    puts("OK\r");
    printf("%s", step.sendingLabel);
    ComPortAPI_SetBaudRate(UPLOAD_BAUD_RATE);
    ComPortAPI_SetReadingTimeoutInMs(1000);
    if (!sendData(gDataConcatenated, gDataConcatenatedLenght, TRUE, "SUCCESS")) {
        puts("FAILED\r");
        return FALSE;
    }
    return TRUE;
}

// The unit reboots with a fixed wait; only what it says within the last
// read counts, and only a text from "[" to ">>" earns the success line.
void waitForReboot(void)
{
    const int max_cnt = REBOOT_PAUSES;
    int nBytesRead = 0;
    ComPortAPI_SetBaudRate(gBaudRate);
    printf(" OK\n\r\n\r");
    printf("Please wait while the unit is rebooting ........... ");
    int i = 0;
    for (; i < max_cnt; ++i) {
        printf("%3d%%", i * 100 / max_cnt);
        Sleep(REBOOT_PAUSE_MS);
        printf("\b\b\b\b");
    }
    printf("%3d%%", i * 100 / max_cnt);
    ComPortAPI_ReadCOM(gDataBuffer, DATA_BUFFER_SIZE - 1, &nBytesRead);
    ComPortAPI_SetReadingTimeoutInMs(11000);
    ComPortAPI_ReadCOM(gDataBuffer, DATA_BUFFER_SIZE - 1, &nBytesRead);
    gDataBuffer[nBytesRead] = '\0';
    printf("\b\b\b\b");
    printf("100%%");
    const size_t length = strlen(gDataBuffer);
    if (length >= 2 && gDataBuffer[0] == '[' && gDataBuffer[length - 2] == '>' && gDataBuffer[length - 1] == '>') {
        puts("\n\r\n\rThe update was successful, the unit is now operational\r");
    }
}

}  // namespace

BOOL updateFirmware(void)
{
    if (!identifyUnit()) {
        return FALSE;
    }
    if (!uploadImage(gHexFPGA_Code, FPGA_UPLOAD)) {
        return FALSE;
    }
    puts("OK\r");
    if (!uploadImage(gHexFirmware, FIRMWARE_UPLOAD)) {
        return FALSE;
    }
    waitForReboot();
    return TRUE;
}
