#include "web/WebFirmware.h"

#include "base/ProgramState.h"
#include "image/ImageFlattening.h"
#include "web/Encoder.h"
#include "web/FileAPI.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int BASE64_BUFFER_SIZE = 614400;

// Static rather than on the stack: 600 KB is most of a Windows thread's stack.
unsigned char bufferBase64[BASE64_BUFFER_SIZE];
bool bodyLeftOut = false;

void writeHeader(const char *header)
{
    FileAPI_CreateFile(FIRMWARE_FILE_NAME_FOR_WEB, TRUE);
    FileAPI_writeToFileBinary(reinterpret_cast<const uint8_t *>(header), static_cast<uint32_t>(strlen(header)));
    FileAPI_CloseFile();
}

// The pad characters become "A", the character for 0, as the web loader expects.
void replaceTrailingPads(unsigned char *text, int length)
{
    for (int i = length - 1; i >= 0 && i >= length - 4; --i) {
        if (text[i] == '=') {
            text[i] = 'A';
        }
    }
}

void appendBody(const unsigned char *text, int length)
{
    FileAPI_OpenFile_ToWrite(FIRMWARE_FILE_NAME_FOR_WEB, TRUE);
    unsigned char tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB + 2];
    int remainingByte = length;
    int currentIndex = 0;
    while (remainingByte > FIRMWARE_CHUNCK_SIZE_FOR_WEB) {
        memcpy(tempBufferBase64, text + currentIndex, FIRMWARE_CHUNCK_SIZE_FOR_WEB);
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB] = '\r';
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB + 1] = '\n';
        currentIndex += FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        remainingByte -= FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        FileAPI_writeToFileBinary(tempBufferBase64, sizeof tempBufferBase64);
    }
    if (remainingByte > 0) {
        memcpy(tempBufferBase64, text + currentIndex, static_cast<size_t>(remainingByte));
        FileAPI_writeToFileBinary(tempBufferBase64, static_cast<uint32_t>(remainingByte));
    }
    FileAPI_CloseFile();
}

}  // namespace

BOOL createFirmwareFileForWeb(void)
{
    int dataLengthBase64 = BASE64_BUFFER_SIZE;
    char header[100];
    char tempString[25];
    snprintf(header, sizeof header, "%s%s\r\n", FIRMWARE_FILE_HEADER_FOR_WEB, FIRMWARE_VERSION_TO_UPLOAD);

    if (!ValidateFwAndConcatenateData(gHexFirmware)) {
        puts("\r\nERROR: Firmware data is not valid !\r");
        return FALSE;
    }
    puts("\r\n Firmware data is valid !\r");

    gDataConcatenatedCheckSum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
    snprintf(tempString, sizeof tempString, "%u", gDataConcatenatedCheckSum);
    strncat(header, tempString, sizeof header - strlen(header) - 1);
    strncat(header, "\r\n", sizeof header - strlen(header) - 1);
    printf("\r\n Firmware CheckSum = %s !\r\n", tempString);
    printf("\r\n Firmware CheckSum u = %u !\r\n", gDataConcatenatedCheckSum);

    snprintf(tempString, sizeof tempString, "%d", gDataConcatenatedLenght);
    strncat(header, tempString, sizeof header - strlen(header) - 1);
    strncat(header, "\r\n", sizeof header - strlen(header) - 1);
    printf("\r\n Firmware data length = %d !\r\n", gDataConcatenatedLenght);

    bodyLeftOut = false;
    writeHeader(header);

    if (base64_encode(bufferBase64, &dataLengthBase64, gDataConcatenated, gDataConcatenatedLenght) == -1) {
        puts("\r\n ERROR BASE 64 !\r");
        // Nothing the encoder did not produce goes into the file.
        dataLengthBase64 = 0;
        bodyLeftOut = true;
    } else if (gDataConcatenatedLenght == 0) {
        dataLengthBase64 = 0;
    }
    replaceTrailingPads(bufferBase64, dataLengthBase64);
    appendBody(bufferBase64, dataLengthBase64);

    dipsplayLastMessageToUserBeforeExit("");
    return TRUE;
}

const char *webFirmwareFileFailure(void)
{
    if (FileAPI_WriteFailure() != nullptr) {
        return FileAPI_WriteFailure();
    }
    return bodyLeftOut ? "the image is too large to encode" : nullptr;
}
