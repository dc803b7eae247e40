#include "image/IntelHex.h"

#include "image/StringOperations.h"

#include <cstdlib>
#include <cstring>

#define INTEL_HEX_STRING_OK 1
#define INTEL_HEX_STRING_INVALID 0

namespace {

// Field positions of a record line: ':' count(2) address(4) type(2) data(2n) checksum(2).
constexpr size_t COUNT_POSITION = 1;
constexpr size_t ADDRESS_POSITION = 3;
constexpr size_t TYPE_DIGIT_POSITION = 8;
constexpr size_t DATA_POSITION = 9;
constexpr size_t SHORTEST_LINE = 11;

}  // namespace

uint8_t u8_checksum_from_hex_string(const char *hexString, unsigned numberOfBytes)
{
    uint8_t checksum = 0;
    const char *pair = hexString;
    // Stops at the terminator: a short text is summed only as far as it goes.
    for (unsigned k = 0; k < numberOfBytes && pair[0] != '\0'; ++k) {
        checksum = static_cast<uint8_t>(checksum - u8_from_hex_string(pair));
        if (pair[1] == '\0') {
            break;
        }
        pair += 2;
    }
    return checksum;
}

uint8_t intel_hex_start_code_present(const char *intelHexString)
{
    return intelHexString[0] == ':' ? 1 : 0;
}

uint8_t intel_hex_line_data_length(const char *intelHexString)
{
    if (intelHexString[0] == '\0') {
        return 0;
    }
    return u8_from_hex_string(intelHexString + COUNT_POSITION);
}

uint16_t intel_hex_valid_line_address(const char *intelHexString)
{
    return static_cast<uint16_t>(u8_from_hex_string(intelHexString + ADDRESS_POSITION) * 256 +
                                 u8_from_hex_string(intelHexString + ADDRESS_POSITION + 2));
}

void intel_hex_valid_line_data(const char *intelHexString, uint8_t *data)
{
    const uint8_t byteCount = intel_hex_line_data_length(intelHexString);
    for (uint8_t k = 0; k < byteCount; ++k) {
        data[k] = u8_from_hex_string(intelHexString + DATA_POSITION + 2u * k);
    }
}

uint16_t intel_hex_line_address(const char *intelHexString)
{
    if (intel_hex_line_is_valid(intelHexString) != INTEL_HEX_STRING_OK) {
        return 0;
    }
    return intel_hex_valid_line_address(intelHexString);
}

uint8_t intel_hex_line_record_type(const char *intelHexString)
{
    // Only the second type digit is read; a line too short to have one reads as
    // its terminator would.
    const char digit = strnlen(intelHexString, TYPE_DIGIT_POSITION + 1) > TYPE_DIGIT_POSITION
                           ? intelHexString[TYPE_DIGIT_POSITION]
                           : '\0';
    return static_cast<uint8_t>(digit - '0');
}

uint8_t intel_hex_line_is_data_record(const char *intelHexString)
{
    return intel_hex_line_record_type(intelHexString) == INTEL_HEX_RECORD_DATA ? 1 : 0;
}

uint8_t intel_hex_line_is_extended_linear_address_record(const char *intelHexString)
{
    return intel_hex_line_record_type(intelHexString) == INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS ? 1 : 0;
}

uint8_t intel_hex_line_is_valid(const char *intelHexString)
{
    if (intel_hex_start_code_present(intelHexString) == 0) {
        return INTEL_HEX_STRING_INVALID;
    }
    const uint8_t byteCount = intel_hex_line_data_length(intelHexString);
    const size_t length = strlen(intelHexString);
    // A line shorter than its count says would have its checksum read from
    // inside the data, and the sum read past its end.
    if (length < SHORTEST_LINE + 2u * byteCount) {
        return INTEL_HEX_STRING_INVALID;
    }
    const uint8_t expected = u8_from_hex_string(intelHexString + length - 2);
    const uint8_t calculated = u8_checksum_from_hex_string(intelHexString + COUNT_POSITION, byteCount + 4u);
    return expected == calculated ? INTEL_HEX_STRING_OK : INTEL_HEX_STRING_INVALID;
}

uint8_t *new_u8_data_array_from_intel_hex_string(const char *intelHexString)
{
    const uint8_t byteCount = intel_hex_line_data_length(intelHexString);
    if (intel_hex_line_is_valid(intelHexString) != INTEL_HEX_STRING_OK) {
        return nullptr;
    }
    // One byte more than needed, so that a record of no data still gets a block.
    uint8_t *data = static_cast<uint8_t *>(malloc(static_cast<size_t>(byteCount) + 1));
    if (data != nullptr) {
        intel_hex_valid_line_data(intelHexString, data);
    }
    return data;
}
