#include "image/ImageFlattening.h"

#include "base/ProgramState.h"
#include "image/IntelHex.h"
#include "image/StringOperations.h"

#include "platform/KeyPress.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t LINE_BUFFER_SIZE = 100;
// ':' and the terminator take two places of the line buffer.
constexpr size_t LONGEST_TOKEN = LINE_BUFFER_SIZE - 2;
constexpr unsigned SHORTEST_RECORD = 11;

// Where and why the last flattening stopped, for callers that name the line.
const char *g_failedRecord = nullptr;
char g_failure[128] = "";

[[gnu::format(printf, 1, 2)]] void noteFailure(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(g_failure, sizeof g_failure, format, arguments);
    va_end(arguments);
}

// Why intel_hex_line_is_valid refused a line: too short for its byte count,
// or a checksum that does not match.
void noteInvalidLine(const char *line)
{
    // The line buffer holds it, so its length fits any integer.
    const unsigned length = static_cast<unsigned>(strlen(line));
    const unsigned byteCount = intel_hex_line_data_length(line);
    if (length < SHORTEST_RECORD) {
        noteFailure("too short for a record (%u characters)", length);
    } else if (length < SHORTEST_RECORD + 2 * byteCount) {
        noteFailure("byte count %u but %u data bytes", byteCount, (length - SHORTEST_RECORD) / 2);
    } else {
        noteFailure("record checksum is 0x%02X, the record's bytes need 0x%02X", u8_from_hex_string(line + length - 2),
                    u8_checksum_from_hex_string(line + 1, byteCount + 4));
    }
}

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
    const uint8_t byteCount = intel_hex_line_data_length(line);
    if (byteCount < 2) {
        noteFailure("extended linear address record needs 2 data bytes, not %u", byteCount);
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
        noteFailure("data at 0x%X is past the %d MiB image space", std::max<uint32_t>(address, CONCAT_BUFFER_SIZE),
                    CONCAT_BUFFER_SIZE >> 20);
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

// The record's effect on the image; FALSE, with what is wrong noted, when the
// line cannot be taken.
BOOL applyRecordLine(const char *line, BOOL fits, uint32_t *memoryOffset)
{
    if (!fits) {
        noteFailure("line longer than %u characters after its ':' (line end included)",
                    static_cast<unsigned>(LONGEST_TOKEN));
        return FALSE;
    }
    if (intel_hex_line_is_valid(line) != 1) {
        noteInvalidLine(line);
        return FALSE;
    }
    if (intel_hex_line_is_extended_linear_address_record(line)) {
        return takeUpperAddress(line, memoryOffset);
    }
    if (intel_hex_line_is_data_record(line)) {
        return placeDataRecord(line, *memoryOffset);
    }
    return TRUE;
}

BOOL handleRecordLine(const char *token, uint32_t *memoryOffset)
{
    char intelHexStringLine[LINE_BUFFER_SIZE];
    const BOOL fits = buildLine(intelHexStringLine, token);
    if (!applyRecordLine(intelHexStringLine, fits, memoryOffset)) {
        reportInvalidLine(intelHexStringLine);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL ValidateFwAndConcatenateData(char *gHexData)
{
    memset(gDataConcatenated, 0xFF, CONCAT_BUFFER_SIZE);
    gDataConcatenatedLenght = 0;
    uint32_t memory_offset = 0;
    g_failedRecord = nullptr;
    g_failure[0] = '\0';

    char **extractedHexLine = str_split(gHexData, ":");
    if (extractedHexLine == nullptr) {
        noteFailure("no Intel HEX record in the text");
        puts("\r\nNUL extractedHexLine \r");
        return FALSE;
    }
    BOOL result = TRUE;
    for (char **token = extractedHexLine; *token != nullptr; ++token) {
        if (!handleRecordLine(*token, &memory_offset)) {
            g_failedRecord = *token;
            // Only a text that does not begin with ':' has a token at its start.
            if (*token == gHexData) {
                noteFailure("not a record (no ':')");
            }
            result = FALSE;
            break;
        }
    }
    free(extractedHexLine);
    return result;
}

const char *flatteningFailedRecord(void)
{
    return g_failedRecord;
}

const char *flatteningFailure(void)
{
    return g_failure[0] == '\0' ? nullptr : g_failure;
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
