#include "HexText.h"
#include "image/IntelHex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char *DATA_LINE = ":10800000481FD703800140F8E08F100000000000F7";

}  // namespace

TEST(RecordLine, EndOfFileRecordIsValidAndNeitherDataNorAddress)
{
    EXPECT_EQ(intel_hex_line_is_valid(":00000001FF"), 1);
    EXPECT_EQ(intel_hex_line_record_type(":00000001FF"), 1);
    EXPECT_EQ(intel_hex_line_is_data_record(":00000001FF"), 0);
    EXPECT_EQ(intel_hex_line_is_extended_linear_address_record(":00000001FF"), 0);
}

TEST(RecordLine, ExtendedLinearAddressRecordGivesItsTwoBytes)
{
    const char *line = ":0200000480007A";
    EXPECT_EQ(intel_hex_line_is_valid(line), 1);
    EXPECT_EQ(intel_hex_line_is_extended_linear_address_record(line), 1);
    EXPECT_EQ(intel_hex_line_data_length(line), 2);
    EXPECT_EQ(intel_hex_line_address(line), 0);
    uint8_t *data = new_u8_data_array_from_intel_hex_string(line);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 0x80);
    EXPECT_EQ(data[1], 0x00);
    free(data);
}

TEST(RecordLine, DataRecordGivesAddressCountAndBytes)
{
    EXPECT_EQ(intel_hex_line_is_valid(DATA_LINE), 1);
    EXPECT_EQ(intel_hex_line_is_data_record(DATA_LINE), 1);
    EXPECT_EQ(intel_hex_line_data_length(DATA_LINE), 16);
    EXPECT_EQ(intel_hex_line_address(DATA_LINE), 0x8000);
    uint8_t *data = new_u8_data_array_from_intel_hex_string(DATA_LINE);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 0x48);
    EXPECT_EQ(data[15], 0x00);
    free(data);

    std::string lower = DATA_LINE;
    for (char &c : lower) {
        c = static_cast<char>(tolower(c));
    }
    EXPECT_EQ(intel_hex_line_is_valid(lower.c_str()), 1);
    EXPECT_EQ(intel_hex_line_address(lower.c_str()), 0x8000);
}

TEST(RecordLine, ChangedDigitMakesTheLineInvalidButCountAndTypeStillRead)
{
    std::string line = DATA_LINE;
    line[9] = '5';
    EXPECT_EQ(intel_hex_line_is_valid(line.c_str()), 0);
    EXPECT_EQ(intel_hex_line_address(line.c_str()), 0);
    EXPECT_EQ(new_u8_data_array_from_intel_hex_string(line.c_str()), nullptr);
    EXPECT_EQ(intel_hex_line_data_length(line.c_str()), 16);
    EXPECT_EQ(intel_hex_line_record_type(line.c_str()), 0);
}

TEST(RecordLine, NonHexCharacterReadsAsZero)
{
    std::string line = DATA_LINE;
    line[3] = 'G';  // was '8': the address becomes 0x0000 and the checksum no longer fits
    EXPECT_EQ(intel_hex_line_is_valid(line.c_str()), 0);
    line = DATA_LINE;
    ASSERT_EQ(line[30], '0');
    line[30] = 'G';
    EXPECT_EQ(intel_hex_line_is_valid(line.c_str()), 1);
}

TEST(RecordLine, TypeComesFromTheSecondDigitOnly)
{
    EXPECT_EQ(intel_hex_line_record_type(":02000014800060"), 4);
    EXPECT_EQ(intel_hex_line_record_type(":0000000A"), 'A' - '0');
}

TEST(RecordLine, WithoutStartCodeIsInvalid)
{
    EXPECT_EQ(intel_hex_line_is_valid("00000001FF"), 0);
    EXPECT_EQ(intel_hex_line_is_valid(";00000001FF"), 0);
}

TEST(RecordLine, LinesShorterThanTheirCountAreInvalid)
{
    // The count promises 16 bytes that are not there; a checksum may still
    // happen to match what little there is.
    EXPECT_EQ(intel_hex_line_is_valid(":10000000F0"), 0);
    EXPECT_EQ(intel_hex_line_is_valid(":0100000000"), 0);
    // Counted 3, carrying 1: summed as far as the count says, the checksum
    // byte is added to itself, and 0x7E fits.
    EXPECT_EQ(intel_hex_line_is_valid(":03000000017E"), 0);
    EXPECT_EQ(intel_hex_line_is_valid(":"), 0);
    EXPECT_EQ(intel_hex_line_is_valid(":0"), 0);
    EXPECT_EQ(intel_hex_line_is_valid(""), 0);
    EXPECT_EQ(intel_hex_line_data_length(""), 0);
    EXPECT_EQ(intel_hex_line_record_type(":00"), static_cast<uint8_t>('\0' - '0'));
    EXPECT_EQ(new_u8_data_array_from_intel_hex_string(":FF000000"), nullptr);
}

TEST(RecordLine, ZeroLengthDataRecordGivesAnArrayOfNoBytes)
{
    uint8_t *data = new_u8_data_array_from_intel_hex_string(":00123400BA");
    EXPECT_NE(data, nullptr);
    free(data);
}

TEST(RecordChecksum, IsTheNegatedByteSumAndStopsAtTheTerminator)
{
    EXPECT_EQ(u8_checksum_from_hex_string("00000001", 4), 0xFF);
    EXPECT_EQ(u8_checksum_from_hex_string("", 4), 0);
    EXPECT_EQ(u8_checksum_from_hex_string("01", 200), 0xFF);
    EXPECT_EQ(u8_checksum_from_hex_string("010", 200), 0xFF);
}

TEST(RecordLine, CountsFrom252UpSumEveryByte)
{
    // Count, address and type make 4 more bytes than the data: for 252 data
    // bytes and more that is past what one byte can count.
    for (size_t count : {252u, 255u}) {
        std::vector<uint8_t> data(count);
        for (size_t i = 0; i < count; ++i) {
            data[i] = static_cast<uint8_t>(i * 3);
        }
        const std::string line = hextext::record(0, 0x1234, data);
        EXPECT_EQ(intel_hex_line_is_valid(line.c_str()), 1) << count;
        std::string wrong = line;
        wrong[wrong.size() - 1] = wrong.back() == '0' ? '1' : '0';
        EXPECT_EQ(intel_hex_line_is_valid(wrong.c_str()), 0) << count;
    }
}
