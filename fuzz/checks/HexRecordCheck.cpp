#include "FuzzChecks.h"

#include "image/IntelHex.h"
#include "image/StringOperations.h"

#include <cstdlib>
#include <vector>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The sum a valid line must have: count, address, type and data pairs plus the
// checksum pair (the last two characters) make zero. Characters that are not
// digits read as 0, as the module documents.
bool bytesSumToZero(const std::string &line, uint8_t count)
{
    const auto lenient = [](char c) { return hexDigit(c) < 0 ? 0 : hexDigit(c); };
    const auto pairAt = [&](size_t i) { return lenient(line[i]) * 16 + lenient(line[i + 1]); };
    unsigned sum = static_cast<unsigned>(pairAt(line.size() - 2));
    for (size_t k = 0; k < count + 4u; ++k) {
        sum += static_cast<unsigned>(pairAt(1 + 2 * k));
    }
    return sum % 256 == 0;
}

struct Record {
    uint8_t count = 0;
    uint16_t address = 0;
    uint8_t type = 0;
    std::vector<uint8_t> data;
    uint8_t checksum = 0;
};

// A record as the format defines it, read independently of the module: ':',
// hex pairs only, exactly the length its count gives, a known type and bytes
// that sum to zero. The module is lenient beyond this (any character reads as
// a digit), so the comparison only goes one way: such a record must be
// accepted and read the same.
bool parseWellFormed(const std::string &line, Record *record)
{
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) {
        return false;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < line.size(); i += 2) {
        const int high = hexDigit(line[i]);
        const int low = hexDigit(line[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (bytes.size() != bytes[0] + 5u || bytes[3] > 5) {
        return false;
    }
    uint8_t sum = 0;
    for (uint8_t byte : bytes) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    if (sum != 0) {
        return false;
    }
    record->count = bytes[0];
    record->address = static_cast<uint16_t>(bytes[1] * 256 + bytes[2]);
    record->type = bytes[3];
    record->data.assign(bytes.begin() + 4, bytes.end() - 1);
    record->checksum = bytes.back();
    return true;
}

std::string checkWellFormed(const std::string &line, uint8_t valid)
{
    Record record;
    if (!parseWellFormed(line, &record)) {
        return "";
    }
    const char *s = line.c_str();
    if (valid != 1) {
        return "a well-formed record is not valid";
    }
    if (intel_hex_line_data_length(s) != record.count) {
        return "byte count differs from the record's";
    }
    if (intel_hex_line_address(s) != record.address || intel_hex_valid_line_address(s) != record.address) {
        return "address differs from the record's";
    }
    if (intel_hex_line_record_type(s) != record.type) {
        return "record type differs from the record's";
    }
    // Summed in two parts: up to 259 pairs do not fit the count parameter.
    const uint8_t fieldsChecksum =
        static_cast<uint8_t>(u8_checksum_from_hex_string(s + 1, 4) + u8_checksum_from_hex_string(s + 9, record.count));
    if (fieldsChecksum != record.checksum) {
        return "checksum sum differs from the record's checksum byte";
    }
    // Exactly as many bytes as the count: a write past them is an ASan report.
    std::vector<uint8_t> exact(record.count);
    intel_hex_valid_line_data(s, exact.data());
    if (exact != record.data) {
        return "data bytes differ from the record's";
    }
    return "";
}

// Readers that must agree with one another on any line.
std::string checkRecordReaders(const std::string &line)
{
    const char *s = line.c_str();
    const uint8_t valid = intel_hex_line_is_valid(s);
    if (valid > 1) {
        return "intel_hex_line_is_valid gave neither 0 nor 1";
    }
    const uint8_t count = intel_hex_line_data_length(s);
    const uint8_t type = intel_hex_line_record_type(s);
    if (intel_hex_line_is_data_record(s) != (type == 0 ? 1 : 0)) {
        return "is_data_record disagrees with the record type";
    }
    if (intel_hex_line_is_extended_linear_address_record(s) != (type == 4 ? 1 : 0)) {
        return "is_extended_linear_address_record disagrees with the record type";
    }
    if (intel_hex_start_code_present(s) != (line.empty() || line[0] != ':' ? 0 : 1)) {
        return "start code reader disagrees with the first character";
    }
    // Sums over any count stop at the terminator; ASan judges the reads.
    (void)u8_checksum_from_hex_string(s, 255);
    (void)u8_checksum_from_hex_string(s + (line.empty() ? 0 : 1), static_cast<uint8_t>(count + 4));

    uint8_t *array = new_u8_data_array_from_intel_hex_string(s);
    std::string problem;
    if (valid == 1) {
        if (line[0] != ':' || line.size() < 11 + 2u * count) {
            problem = "a line shorter than its count is valid";
        } else if (array == nullptr) {
            problem = "a valid line has no data array";
        } else if (!bytesSumToZero(line, count)) {
            problem = "a valid line's bytes do not sum to zero with its checksum";
        } else if (intel_hex_line_address(s) != intel_hex_valid_line_address(s)) {
            problem = "the two address readers disagree on a valid line";
        } else {
            std::vector<uint8_t> exact(count);
            intel_hex_valid_line_data(s, exact.data());
            if (count > 0 && memcmp(exact.data(), array, count) != 0) {
                problem = "the two data readers disagree on a valid line";
            }
        }
    } else {
        if (array != nullptr) {
            problem = "an invalid line has a data array";
        } else if (intel_hex_line_address(s) != 0) {
            problem = "an invalid line has an address other than 0";
        }
    }
    free(array);
    if (!problem.empty()) {
        return problem;
    }
    return checkWellFormed(line, valid);
}

// The hex text decoders on the same text as a digit string.
std::string checkHexText(const std::string &text)
{
    const char *s = text.c_str();
    const uint8_t first = u8_from_hex_string(s);
    // The array length is a 16-bit count; longer texts are out of its range.
    if (text.size() > 0xFFFF) {
        return "";
    }
    const uint32_t needed = static_cast<uint32_t>((text.size() + 1) / 2);

    // Exactly the room needed (zeroed: the decoder adds into the array).
    std::vector<uint8_t> room(needed, 0);
    if (u8_array_from_hex_string(room.data(), needed, s) != 1) {
        return "u8_array_from_hex_string refused an array of exactly the room needed";
    }
    if (text.size() >= 2 && room[0] != first) {
        return "u8_array_from_hex_string and u8_from_hex_string disagree on the first pair";
    }
    bool allDigits = true;
    for (char c : text) {
        allDigits = allDigits && hexDigit(c) >= 0;
    }
    if (allDigits) {
        // Digits pair up from the left; an odd last digit is a high nibble.
        for (size_t i = 0; i < text.size(); i += 2) {
            const int high = hexDigit(text[i]);
            const int low = i + 1 < text.size() ? hexDigit(text[i + 1]) : 0;
            if (room[i / 2] != high * 16 + low) {
                return "u8_array_from_hex_string decoded a digit pair wrongly";
            }
        }
    }

    if (needed > 0) {
        // One byte short: refused, and the array left as it was.
        std::vector<uint8_t> tooSmall(needed - 1, 0x5A);
        if (u8_array_from_hex_string(tooSmall.data(), needed - 1, s) != 0) {
            return "u8_array_from_hex_string accepted an array one byte short";
        }
        for (uint8_t byte : tooSmall) {
            if (byte != 0x5A) {
                return "u8_array_from_hex_string wrote into an array it refused";
            }
        }
    }
    return "";
}

}  // namespace

std::string checkHexRecord(const uint8_t *data, size_t size)
{
    const std::string line = textBeforeFirstZero(data, size);
    std::string problem = checkRecordReaders(line);
    if (problem.empty()) {
        problem = checkHexText(line);
    }
    return problem;
}
