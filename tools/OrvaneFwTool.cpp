// The operations of the updater that its console dialogue does not reach.
#include "FlattenFile.h"
#include "base/ProgramState.h"
#include "channel/Diagnostics.h"
#include "channel/PortDetection.h"
#include "channel/ProductCheck.h"
#include "firmware/BinImage.h"
#include "image/ImageFlattening.h"
#include "serial/ComPortAPI.h"
#include "update/UploadCommand.h"
#include "web/WebFirmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void printUsage(void)
{
    fputs("Usage: OrvaneFwTool info              the embedded images and their upload commands\n"
          "       OrvaneFwTool web               writes FwToUpload.bin in the current folder\n"
          "       OrvaneFwTool flatten IN OUT    flattens an Intel HEX file into a binary image\n"
          "       OrvaneFwTool product tx|rx     finds the unit and checks its product identity\n"
          "       OrvaneFwTool diag              finds the unit and runs the 512 KiB diagnostics\n",
          stderr);
}

// One embedded image: its figures and the command that would announce it.
int printImageInfo(ImageIndex index)
{
    const autogen_files &entry = AUTOGEN_FILES[index];
    char *text = newWritableCopyOfImageText(index);
    if (text == nullptr) {
        fputs("ERROR: not enough memory\n", stderr);
        return 1;
    }
    const BOOL valid = ValidateFwAndConcatenateData(text);
    free(text);
    printf("%s\n", entry.filePath);
    printf("  text length  : %d\n", entry.fileDataLength);
    if (!valid) {
        printf("  not a valid Intel HEX text\n");
        return 1;
    }
    const uint32_t checksum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
    char command[UPLOAD_COMMAND_SIZE];
    buildUploadCommand(command, sizeof command, IMAGE_CATALOGUE[index].uploadCommand, checksum,
                       gDataConcatenatedLenght);
    printf("  image length : %d\n", gDataConcatenatedLenght);
    printf("  checksum     : %u\n", checksum);
    printf("  upload       : %s\n", command);
    return 0;
}

// The file's own routine says what it can; a file that did not come out
// whole must not pass for one that did.
int runWebFile(void)
{
    if (!createFirmwareFileForWeb()) {
        return 1;
    }
    const char *failure = webFirmwareFileFailure();
    if (failure != nullptr) {
        // Ends the routine's last line on the console first.
        putchar('\n');
        fprintf(stderr, "ERROR: %s was not written whole: %s\n", FIRMWARE_FILE_NAME_FOR_WEB, failure);
        return 1;
    }
    return 0;
}

int runInfo(void)
{
    int status = 0;
    for (int index = 0; index < IMAGE_COUNT; ++index) {
        status |= printImageInfo(static_cast<ImageIndex>(index));
    }
    return status;
}

// The port search, as the updater runs it; FALSE after telling the user.
BOOL findUnit(void)
{
    printf("\n\rDetecting COM port and Baud Rate..................");
    ComPortAPI_SetHardwareFlowControl(FALSE);
    if (!detectComPortAndBaudrate()) {
        puts("FAILED\r");
        dipsplayLastMessageToUserBeforeExit("\r\nERROR: No unit answered on COM1 to COM32.\r\n");
        return FALSE;
    }
    puts("OK\r");
    printf("COM PORT Number : %d\r\nBaud rate       : %d \r\n\r\n", gComPortNumber, gBaudRate);
    return TRUE;
}

int runProductCheck(const char *variant)
{
    if (!findUnit()) {
        return 1;
    }
    const bool transmitter = strcmp(variant, "tx") == 0;
    const BOOL matches = validateProductId(transmitter ? VALIDATE_TX_PRODUCT_ID_STRING : VALIDATE_RX_PRODUCT_ID_STRING);
    if (matches) {
        ComPortAPI_CloseCOM();
    }
    dipsplayLastMessageToUserBeforeExit("\r\n");
    return matches ? 0 : 1;
}

int runDiagnostics(void)
{
    if (!findUnit()) {
        return 1;
    }
    const BOOL sent = DEBUG_send_512kb();
    DEBUG_send_512kb_2();
    dipsplayLastMessageToUserBeforeExit("\r\n");
    return sent ? 0 : 1;
}

bool knownCommand(int argc, char **argv)
{
    const char *command = argv[1];
    if (strcmp(command, "product") == 0) {
        return argc == 3 && (strcmp(argv[2], "tx") == 0 || strcmp(argv[2], "rx") == 0);
    }
    if (strcmp(command, "flatten") == 0) {
        return argc == 4;
    }
    return argc == 2 && (strcmp(command, "info") == 0 || strcmp(command, "web") == 0 || strcmp(command, "diag") == 0);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printUsage();
        return 2;
    }
    if (!knownCommand(argc, argv)) {
        printUsage();
        return 2;
    }
    const char *command = argv[1];
    if (strcmp(command, "flatten") == 0) {
        return flattenHexFile(argv[2], argv[3]);
    }
    if (!allocateProgramBuffers()) {
        return 1;
    }
    int status = 0;
    if (strcmp(command, "info") == 0) {
        status = runInfo();
    } else if (strcmp(command, "web") == 0) {
        status = runWebFile();
    } else if (strcmp(command, "product") == 0) {
        status = runProductCheck(argv[2]);
    } else {
        status = runDiagnostics();
    }
    releaseProgramBuffers();
    return status;
}
