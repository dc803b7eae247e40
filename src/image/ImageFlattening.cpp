#include "image/ImageFlattening.h"

#include "base/ProgramState.h"
#include "image/IntelHex.h"
#include "image/StringOperations.h"

#include "platform/KeyPress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t LINE_BUFFER_SIZE = 100;
// ':' and the terminator take two places of the line buffer.
constexpr size_t LONGEST_TOKEN = LINE_BUFFER_SIZE - 2;

void reportInvalidLine(const char *line)
{
    puts("\r\n intel_hex_line_is_valid \r");
    printf("%s", line);
    puts("\r");
}

// The upper address taken from an extended linear address record: its second
// byte only. FALSE for a record too short to have one.
BOOL takeUpperAddress(const char *line, uint32_t *memoryOffset)
{
    if (intel_hex_line_data_length(line) < 2) {
        return FALSE;
    }
    uint8_t data[256];
    intel_hex_valid_line_data(line, data);
    *memoryOffset = static_cast<uint32_t>(data[1]) * 65536u;
    return TRUE;
}

// Places a data record's bytes at their index; FALSE when any of them would
// land outside the image space.
BOOL placeDataRecord(const char *line, uint32_t memoryOffset)
{
    const uint32_t address = memoryOffset + intel_hex_valid_line_address(line);
    const uint8_t data_length = intel_hex_line_data_length(line);
    if (static_cast<uint64_t>(address) + data_length > CONCAT_BUFFER_SIZE) {
        return FALSE;
    }
    intel_hex_valid_line_data(line, gDataConcatenated + address);
    gDataConcatenatedLenght = static_cast<int>(address);
    return TRUE;
}

// ':' and the token up to its first line break (as replacing every CR and LF
// by a zero would leave it); FALSE, with as much as fits, when the token is
// longer than the line buffer allows.
BOOL buildLine(char *line, const char *token)
{
    const size_t length = strnlen(token, LONGEST_TOKEN + 1);
    const size_t kept = length > LONGEST_TOKEN ? LONGEST_TOKEN : length;
    size_t end = 0;
    while (end < kept && token[end] != '\r' && token[end] != '\n') {
        ++end;
    }
    line[0] = ':';
    memcpy(line + 1, token, end);
    line[end + 1] = '\0';
    return length <= LONGEST_TOKEN;
}

BOOL handleRecordLine(const char *token, uint32_t *memoryOffset)
{
    char intelHexStringLine[LINE_BUFFER_SIZE];
    BOOL accepted = buildLine(intelHexStringLine, token) && intel_hex_line_is_valid(intelHexStringLine) == 1;
    if (accepted && intel_hex_line_is_extended_linear_address_record(intelHexStringLine)) {
        accepted = takeUpperAddress(intelHexStringLine, memoryOffset);
    }
    if (accepted && intel_hex_line_is_data_record(intelHexStringLine)) {
        accepted = placeDataRecord(intelHexStringLine, *memoryOffset);
    }
    if (!accepted) {
        reportInvalidLine(intelHexStringLine);
    }
    return accepted;
}

}  // namespace

BOOL ValidateFwAndConcatenateData(char *gHexData)
{
    memset(gDataConcatenated, 0xFF, CONCAT_BUFFER_SIZE);
    gDataConcatenatedLenght = 0;
    uint32_t memory_offset = 0;

    char **extractedHexLine = str_split(gHexData, ":");
    if (extractedHexLine == nullptr) {
        puts("\r\nNUL extractedHexLine \r");
        return FALSE;
    }
    BOOL result = TRUE;
    for (char **token = extractedHexLine; *token != nullptr; ++token) {
        if (!handleRecordLine(*token, &memory_offset)) {
            result = FALSE;
            break;
        }
    }
    free(extractedHexLine);
    return result;
}

void printDataBufferInHex(uint8_t *databuffer, int dataBufferLength)
{
    constexpr int BYTES_SHOWN = 0x80000;
    constexpr int PAUSE_AFTER_INDEX = 46752;
    printf("\r\n Data Buffer Length = %d\r\nData= ", dataBufferLength);
    for (int i = 0; i < BYTES_SHOWN; ++i) {
        printf("%x ", databuffer[i]);
        if (i == PAUSE_AFTER_INDEX) {
            readSingleKey();
        }
    }
}

uint32_t imageCheckSum(const uint8_t *image, int length)
{
    uint32_t checksum = 0;
    for (int index = 0; index < length; ++index) {
        checksum -= image[index];
    }
    return checksum;
}
