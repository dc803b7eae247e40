// Reading one Intel HEX record straight from its text line.
#ifndef INTELHEX_H_
#define INTELHEX_H_

#include <cstdint>

#define INTEL_HEX_RECORD_DATA 0
#define INTEL_HEX_RECORD_EOF 1
#define INTEL_HEX_RECORD_EXTENDED_SEGMENT_ADDRESS 2
#define INTEL_HEX_RECORD_START_SEGMENT_ADDRESS 3
#define INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS 4
#define INTEL_HEX_RECORD_START_LINEAR_ADDRESS 5

// numberOfBytes is wider than a byte: a record of 252 or more data bytes sums
// 256 or more bytes with its count, address and type.
uint8_t u8_checksum_from_hex_string(const char *hexString, unsigned numberOfBytes);
uint8_t intel_hex_start_code_present(const char *intelHexString);
uint8_t intel_hex_line_data_length(const char *intelHexString);
uint16_t intel_hex_line_address(const char *intelHexString);
uint8_t intel_hex_line_record_type(const char *intelHexString);
uint8_t intel_hex_line_is_data_record(const char *intelHexString);
uint8_t intel_hex_line_is_extended_linear_address_record(const char *intelHexString);
uint8_t intel_hex_line_is_valid(const char *intelHexString);
uint8_t *new_u8_data_array_from_intel_hex_string(const char *intelHexString);

// For a line that has passed intel_hex_line_is_valid: its address, and its
// data bytes decoded into `data` (room for the byte count). Callers that have
// tested the line once need not pay for the test again per field.
uint16_t intel_hex_valid_line_address(const char *intelHexString);
void intel_hex_valid_line_data(const char *intelHexString, uint8_t *data);

#endif
