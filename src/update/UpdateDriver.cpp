#include "update/UpdateDriver.h"

#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/CommandChannel.h"
#include "channel/ProductCheck.h"
#include "image/ImageFlattening.h"
#include "image/StringOperations.h"
#include "serial/ComPortAPI.h"
#include "update/StatusLabels.h"
#include "update/UploadCommand.h"
#include "update/VersionReply.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// What the last update learnt, for callers that report on it.
BOOL g_confirmed = FALSE;
int g_versionFields = 0;
VersionReply g_versions;
ImageIndex g_product = IMAGE_COUNT;
// Where the update is, for an end it did not choose. Read by the tool's
// interrupt thread while the update goes on.
std::atomic<const char *> g_step{"identification"};

// One read of whatever the unit sends within the current read window, kept
// in gDataBuffer as a zero-terminated text.
int readReply(void)
{
    int nBytesRead = 0;
    ComPortAPI_ReadCOM(gDataBuffer, DATA_BUFFER_SIZE - 1, &nBytesRead);
    UpdateLog_Bytes("reply", std::string_view(gDataBuffer, static_cast<size_t>(nBytesRead)));
    gDataBuffer[nBytesRead] = '\0';
    return nBytesRead;
}

// "%fw -v", one direct read of its reply, and the two version lines.
VersionReply queryVersions(void)
{
    g_versionFields = queryUnitVersions(&g_versions);
    const VersionReply &reply = g_versions;
    if (g_versionFields == 7) {
        printf(FIRMWARE_VERSION_LABEL FIRMWARE_VERSION_FORMAT " \r\n", reply.fw_ver, reply.fw_rev, reply.fw_sub);
        printf(FPGA_VERSION_LABEL FPGA_VERSION_FORMAT "  device:%d\r\n", reply.model, reply.fpga_ver, reply.fpga_rev,
               reply.fpga_type);
    }
    return reply;
}

// Whether an embedded FPGA configuration is built for the device the unit
// reports.
bool deviceIsSupported(int fpga_type)
{
    for (ImageIndex index : FPGA_IMAGES) {
        if (IMAGE_CATALOGUE[index].deviceCode == fpga_type) {
            return true;
        }
    }
    return false;
}

// The FPGA image for the unit, asked for each in turn; IMAGE_COUNT when the
// unit is none of them.
ImageIndex identifyVariant(void)
{
    g_product = queryUnitProduct();
    if (g_product == IMAGE_COUNT) {
        puts("FAILED\r");
        return IMAGE_COUNT;
    }
    const CatalogueEntry &entry = IMAGE_CATALOGUE[g_product];
    printf("%s OK", entry.variant);
    puts("\r");
    printf("%s", entry.productIdentity);
    puts("\r");
    return g_product;
}

// The FPGA image the unit takes, its text copied into gHexFPGA_Code;
// IMAGE_COUNT after a failure has been told.
ImageIndex identifyUnit(void)
{
    const VersionReply reply = queryVersions();
    printf(CHECKING_PRODUCT_LABEL);
    if (!deviceIsSupported(reply.fpga_type)) {
        puts(UNKNOWN_PRODUCT_TEXT);
        return IMAGE_COUNT;
    }
    const ImageIndex page_idx = identifyVariant();
    if (page_idx == IMAGE_COUNT) {
        return IMAGE_COUNT;
    }
    gHexFPGA_Code = newWritableCopyOfImageText(page_idx);
    if (gHexFPGA_Code == nullptr) {
        puts("\r\nERROR: Not enough memory for the Programmable Logic data !\r");
        return IMAGE_COUNT;
    }
    return page_idx;
}

struct UploadStep {
    const char *invalidMessage;
    const char *preparingLabel;
    int readyTimeoutMs;
    const char *sendingLabel;
    const char *commandStep;  // the step's names, for updateStalledIn
    const char *dataStep;
};

const UploadStep FPGA_UPLOAD = {
    FPGA_DATA_INVALID_TEXT, PREPARING_FPGA_LABEL,  FPGA_READY_TIMEOUT_MS,
    SENDING_FPGA_LABEL,     "FPGA upload command", "FPGA upload",
};
const UploadStep FIRMWARE_UPLOAD = {
    FIRMWARE_DATA_INVALID_TEXT, PREPARING_FIRMWARE_LABEL,  MCU_READY_TIMEOUT_MS,
    SENDING_FIRMWARE_LABEL,     "firmware upload command", "firmware upload",
};

// Flatten, announce with checksum and length, wait for "Ready", stream at
// 115200 and wait for "SUCCESS". Leaves the port at 115200.
BOOL uploadImage(char *hexText, ImageIndex image, const UploadStep &step)
{
    if (!ValidateFwAndConcatenateData(hexText)) {
        puts(step.invalidMessage);
        return FALSE;
    }
    printf("%s", step.preparingLabel);
    gDataConcatenatedCheckSum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
    char commandToSend[UPLOAD_COMMAND_SIZE];
    buildUploadCommand(commandToSend, sizeof commandToSend, IMAGE_CATALOGUE[image].uploadCommand,
                       gDataConcatenatedCheckSum, gDataConcatenatedLenght);
    ComPortAPI_SetReadingTimeoutInMs(step.readyTimeoutMs);
    g_step = step.commandStep;
    if (!sendCommand(commandToSend, FALSE, TRUE, "Ready")) {
        puts(UNIT_NOT_READY_TEXT);
        return FALSE;
    }
    puts("OK\r");
    printf("%s", step.sendingLabel);
    ComPortAPI_SetBaudRate(UPLOAD_BAUD_RATE);
    ComPortAPI_SetReadingTimeoutInMs(DATA_REPLY_TIMEOUT_MS);
    g_step = step.dataStep;
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
    g_step = "reboot";
    ComPortAPI_SetBaudRate(gBaudRate);
    printf(" OK\n\r\n\r");
    printf(REBOOTING_LABEL);
    int i = 0;
    for (; i < max_cnt; ++i) {
        printf("%3d%%", i * 100 / max_cnt);
        Sleep(REBOOT_PAUSE_MS);
        printf("\b\b\b\b");
    }
    printf("%3d%%", i * 100 / max_cnt);
    readReply();
    ComPortAPI_SetReadingTimeoutInMs(CLOSING_READ_TIMEOUT_MS);
    readReply();
    printf("\b\b\b\b");
    printf("100%%");
    const size_t length = strlen(gDataBuffer);
    if (length >= 2 && gDataBuffer[0] == '[' && gDataBuffer[length - 2] == '>' && gDataBuffer[length - 1] == '>') {
        puts(UPDATE_SUCCESSFUL_TEXT);
        g_confirmed = TRUE;
    }
}

}  // namespace

int queryUnitVersions(VersionReply *reply)
{
    *reply = VersionReply{};
    ComPortAPI_SetReadingTimeoutInMs(QUERY_READ_TIMEOUT_MS);
    sendCommand("%fw -v", FALSE, FALSE, nullptr);
    readReply();
    StrRemoveNL(gDataBuffer, ' ');
    return parseVersionReply(gDataBuffer, reply);
}

ImageIndex queryUnitProduct(void)
{
    for (ImageIndex index : FPGA_IMAGES) {
        // A line that stopped taking bytes (at the version query too) takes
        // no query: one write window is all it costs.
        if (ComPortAPI_LastWriteStalled(nullptr)) {
            break;
        }
        if (sendCommand(PRODUCT_QUERY_COMMAND, FALSE, TRUE, IMAGE_CATALOGUE[index].productIdentity)) {
            return index;
        }
    }
    return IMAGE_COUNT;
}

BOOL updateWasConfirmed(void)
{
    return g_confirmed;
}

int updateVersionsLearnt(VersionReply *reply)
{
    *reply = g_versions;
    return g_versionFields;
}

ImageIndex updateProductLearnt(void)
{
    return g_product;
}

const char *updateStepReached(void)
{
    return g_step;
}

const char *updateStalledIn(void)
{
    return ComPortAPI_LastWriteStalled(nullptr) ? g_step.load() : nullptr;
}

BOOL updateFirmware(void)
{
    g_confirmed = FALSE;
    g_versionFields = 0;
    g_versions = VersionReply{};
    g_product = IMAGE_COUNT;
    g_step = "identification";
    const ImageIndex fpgaImage = identifyUnit();
    if (fpgaImage == IMAGE_COUNT) {
        return FALSE;
    }
    if (!uploadImage(gHexFPGA_Code, fpgaImage, FPGA_UPLOAD)) {
        return FALSE;
    }
    puts("OK\r");
    if (!uploadImage(gHexFirmware, IMAGE_MCU_FIRMWARE, FIRMWARE_UPLOAD)) {
        return FALSE;
    }
    waitForReboot();
    return TRUE;
}
