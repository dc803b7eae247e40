// The operations of the updater that its console dialogue does not reach.
#include "BinImage.h"
#include "FlattenFile.h"
#include "ImageFlattening.h"
#include "ProgramState.h"
#include "UploadCommand.h"
#include "WebFirmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void printUsage(void)
{
    fputs("Usage: OrvaneFwTool info\n"
          "       OrvaneFwTool web\n"
          "       OrvaneFwTool flatten IN.hex OUT.bin\n",
          stderr);
}

// One embedded image: its figures and the command that would announce it.
int printImageInfo(int index)
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
    buildUploadCommand(command, sizeof command, index == 0 ? FIRMWARE_UPLOAD_COMMAND : FPGA_UPLOAD_COMMAND,
                       checksum, gDataConcatenatedLenght);
    printf("  image length : %d\n", gDataConcatenatedLenght);
    printf("  checksum     : %u\n", checksum);
    printf("  upload       : %s\n", command);
    return 0;
}

int runInfo(void)
{
    int status = 0;
    for (int index = 0; index < 3; ++index) {
        status |= printImageInfo(index);
    }
    return status;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printUsage();
        return 2;
    }
    const char *command = argv[1];
    const bool known = (strcmp(command, "info") == 0 && argc == 2) || (strcmp(command, "web") == 0 && argc == 2) ||
                       (strcmp(command, "flatten") == 0 && argc == 4);
    if (!known) {
        printUsage();
        return 2;
    }
    if (strcmp(command, "flatten") == 0) {
        return flattenHexFile(argv[2], argv[3]);
    }
    if (!allocateProgramBuffers()) {
        return 1;
    }
    const int status = strcmp(command, "info") == 0 ? runInfo() : (createFirmwareFileForWeb() ? 0 : 1);
    releaseProgramBuffers();
    return status;
}
