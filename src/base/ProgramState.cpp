#include "base/ProgramState.h"

#include "firmware/BinImage.h"

#include "platform/KeyPress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char *gHexFirmware = nullptr;
char *gHexFPGA_Code = nullptr;
uint8_t *gDataConcatenated = nullptr;
char *gDataBuffer = nullptr;
int gDataConcatenatedLenght = 0;
uint32_t gDataConcatenatedCheckSum = 0;
int gComPortNumber = 0;
int gBaudRate = 0;

char *newWritableCopyOfImageText(ImageIndex image)
{
    const autogen_files &entry = AUTOGEN_FILES[image];
    const size_t blockSize = static_cast<size_t>(entry.fileDataLength) + BUFFER_GUARD_SIZE;
    char *copy = static_cast<char *>(calloc(blockSize, 1));
    if (copy != nullptr) {
        memcpy(copy, entry.fileData, static_cast<size_t>(entry.fileDataLength));
    }
    return copy;
}

BOOL allocateProgramBuffers(void)
{
    gHexFirmware = newWritableCopyOfImageText(IMAGE_MCU_FIRMWARE);
    gDataConcatenated = static_cast<uint8_t *>(calloc(CONCAT_BUFFER_SIZE + BUFFER_GUARD_SIZE, 1));
    if (gDataConcatenated != nullptr) {
        memset(gDataConcatenated, 0xFF, CONCAT_BUFFER_SIZE);
    }
    gDataBuffer = static_cast<char *>(calloc(DATA_BUFFER_SIZE, 1));
    if (gHexFirmware == nullptr || gDataConcatenated == nullptr || gDataBuffer == nullptr) {
        puts("\r\nERROR: Not enough memory to start !\r");
        releaseProgramBuffers();
        return FALSE;
    }
    return TRUE;
}

void releaseProgramBuffers(void)
{
    free(gDataBuffer);
    gDataBuffer = nullptr;
    free(gDataConcatenated);
    gDataConcatenated = nullptr;
    free(gHexFirmware);
    gHexFirmware = nullptr;
    free(gHexFPGA_Code);
    gHexFPGA_Code = nullptr;
}

void dipsplayLastMessageToUserBeforeExit(const char *lastMessage)
{
    printf("%s", lastMessage);
    if (keyWaitBeforeExit()) {
        printf("\r\nPress any key to exit");
        readSingleKey();
    }
}
