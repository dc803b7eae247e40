#include "HexText.h"
#include "ProgramBuffersTest.h"

#include "SimConsole.h"
#include "base/ProgramState.h"
#include "image/ImageFlattening.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Flattening : public ProgramBuffersTest {
protected:
    BOOL flatten(std::string text)
    {
        text.append(BUFFER_GUARD_SIZE, '\0');
        return ValidateFwAndConcatenateData(text.data());
    }

    std::vector<uint8_t> image(size_t from, size_t count) const
    {
        return std::vector<uint8_t>(gDataConcatenated + from, gDataConcatenated + from + count);
    }
};

struct EmbeddedCase {
    ImageIndex index;
    int length;
    int backgroundBelowLength;
    std::vector<uint8_t> atLength;
    uint32_t checksum;
};

}  // namespace

TEST_F(Flattening, EmbeddedTextsGiveTheCataloguedImages)
{
    const std::vector<EmbeddedCase> cases = {
        {IMAGE_MCU_FIRMWARE, 117648, 33160, {0xFF, 0xFF, 0xFF, 0xFF}, 4279021583u},
        {IMAGE_TX_FPGA, 1055216, 0, {0x20, 0x00, 0x00, 0x00}, 4281442003u},
        {IMAGE_RX_FPGA, 1121376, 0, {0x20, 0x00, 0x00, 0x00}, 4275807257u},
    };
    for (const EmbeddedCase &c : cases) {
        char *text = newWritableCopyOfImageText(c.index);
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(ValidateFwAndConcatenateData(text)) << c.index;
        free(text);
        EXPECT_EQ(gDataConcatenatedLenght, c.length) << c.index;
        EXPECT_EQ(std::count(gDataConcatenated, gDataConcatenated + c.length, 0xFF), c.backgroundBelowLength)
            << c.index;
        EXPECT_EQ(image(static_cast<size_t>(c.length), 4), c.atLength) << c.index;
        EXPECT_EQ(imageCheckSum(gDataConcatenated, gDataConcatenatedLenght), c.checksum) << c.index;
    }
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(Flattening, TopAddressByteIsDroppedAndGapsKeepTheBackground)
{
    char *text = newWritableCopyOfImageText(IMAGE_MCU_FIRMWARE);
    ASSERT_TRUE(ValidateFwAndConcatenateData(text));
    free(text);
    EXPECT_EQ(std::count(gDataConcatenated, gDataConcatenated + 0x8000, 0xFF), 0x8000);
    EXPECT_NE(gDataConcatenated[0x8000], 0xFF);
    EXPECT_EQ(std::count(gDataConcatenated + 0x19E78, gDataConcatenated + 0x1A000, 0xFF), 0x1A000 - 0x19E78);
}

TEST_F(Flattening, EachCallStartsFromACleanBackground)
{
    char *fpga = newWritableCopyOfImageText(IMAGE_TX_FPGA);
    ASSERT_TRUE(ValidateFwAndConcatenateData(fpga));
    free(fpga);
    ASSERT_TRUE(ValidateFwAndConcatenateData(gHexFirmware));
    EXPECT_EQ(std::count(gDataConcatenated, gDataConcatenated + 0x8000, 0xFF), 0x8000);
    EXPECT_EQ(gDataConcatenatedLenght, 117648);

    // The text was consumed: only its first record is left.
    EXPECT_TRUE(ValidateFwAndConcatenateData(gHexFirmware));
    EXPECT_EQ(gDataConcatenatedLenght, 0);
}

TEST_F(Flattening, BadLineStopsWithItsMessageAndKeepsWhatCameBefore)
{
    std::string third = hextext::data(0x20, {9, 9});
    third[third.size() - 3] = third[third.size() - 3] == '0' ? '1' : '0';
    const std::string text =
        hextext::data(0, {1, 2}) + hextext::data(0x10, {3, 4}) + third + hextext::data(0x30, {5, 6}) + hextext::end();
    EXPECT_FALSE(flatten(text));
    std::string shown = third.substr(0, third.size() - 2);
    EXPECT_EQ(simConsole_text(), "\r\n intel_hex_line_is_valid \r\n" + shown + "\r\n");
    EXPECT_EQ(image(0, 2), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(image(0x10, 2), (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(image(0x20, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(image(0x30, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(gDataConcatenatedLenght, 0x10);
}

TEST_F(Flattening, LengthIsTheStartOfTheLastRecordInTextOrder)
{
    EXPECT_TRUE(flatten(hextext::data(0x40, {1}) + hextext::data(0x20, {2}) + hextext::data(0x10, {3})));
    EXPECT_EQ(gDataConcatenatedLenght, 0x10);

    EXPECT_TRUE(flatten(hextext::data(0x10, {1, 2}) + hextext::data(0x30, {}) + hextext::end()));
    EXPECT_EQ(gDataConcatenatedLenght, 0x30);
    EXPECT_EQ(gDataConcatenated[0x30], 0xFF);

    EXPECT_TRUE(flatten(hextext::end()));
    EXPECT_EQ(gDataConcatenatedLenght, 0);
}

TEST_F(Flattening, LastRecordWithoutLineEndAndLinesAfterTheEndRecordCount)
{
    std::string last = hextext::data(0x100, {7, 8});
    last.resize(last.size() - 2);
    EXPECT_TRUE(flatten(hextext::end() + hextext::data(0, {5}) + last));
    EXPECT_EQ(gDataConcatenated[0], 5);
    EXPECT_EQ(image(0x100, 2), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(gDataConcatenatedLenght, 0x100);
}

TEST_F(Flattening, TextWithoutColonIsOneLineTestedLikeAnyOther)
{
    EXPECT_FALSE(flatten("hello\r\n"));
    EXPECT_EQ(simConsole_text(), "\r\n intel_hex_line_is_valid \r\n:hello\r\n");
    EXPECT_TRUE(flatten("00000001FF\r\n"));
}

TEST_F(Flattening, EmptyTextHasNoLinesAtAll)
{
    EXPECT_FALSE(flatten(""));
    EXPECT_EQ(simConsole_text(), "\r\nNUL extractedHexLine \r\n");
    EXPECT_EQ(flatteningFailedRecord(), nullptr);
    EXPECT_STREQ(flatteningFailure(), "no Intel HEX record in the text");
}

TEST_F(Flattening, TooLongLineIsRejectedNotOverrun)
{
    const std::string longest = hextext::data(0, std::vector<uint8_t>(43, 0x11));
    EXPECT_TRUE(flatten(longest + hextext::end()));
    const std::string tooLong = hextext::data(0, std::vector<uint8_t>(44, 0x11));
    EXPECT_FALSE(flatten(tooLong + hextext::end()));
    EXPECT_EQ(simConsole_text(), "\r\n intel_hex_line_is_valid \r\n" + tooLong.substr(0, 99) + "\r\n");
    EXPECT_EQ(gDataConcatenated[0], 0xFF);
}

TEST_F(Flattening, DataBeyondTheImageSpaceIsRejected)
{
    // 0x40 << 16 is the first index past the image space.
    EXPECT_FALSE(flatten(hextext::upper(0x0040) + hextext::data(0, {1}) + hextext::end()));
    EXPECT_EQ(gDataConcatenated[CONCAT_BUFFER_SIZE], 0);

    simConsole_begin();
    EXPECT_FALSE(flatten(hextext::upper(0x003F) + hextext::data(0xFFF8, std::vector<uint8_t>(16, 0x22))));
    EXPECT_EQ(gDataConcatenated[CONCAT_BUFFER_SIZE - 1], 0xFF);
    EXPECT_EQ(gDataConcatenated[CONCAT_BUFFER_SIZE], 0);
    EXPECT_NE(simConsole_text().find("intel_hex_line_is_valid"), std::string::npos);

    EXPECT_TRUE(flatten(hextext::upper(0x003F) + hextext::data(0xFFF0, std::vector<uint8_t>(16, 0x22))));
    EXPECT_EQ(gDataConcatenated[CONCAT_BUFFER_SIZE - 1], 0x22);
}

TEST_F(Flattening, UpperAddressRecordNeedsTwoBytes)
{
    const std::string oneByte = hextext::record(4, 0, {0x01}) + "\r\n";
    EXPECT_FALSE(flatten(oneByte + hextext::data(0, {1}) + hextext::end()));
    EXPECT_EQ(simConsole_text(), "\r\n intel_hex_line_is_valid \r\n" + oneByte.substr(0, oneByte.size() - 2) + "\r\n");
    EXPECT_FALSE(flatten(hextext::record(4, 0, {}) + "\r\n"));
    // Only the second byte counts: 0x1201 is upper 0x01.
    EXPECT_TRUE(flatten(hextext::upper(0x1201) + hextext::data(0x10, {0xAB})));
    EXPECT_EQ(gDataConcatenated[0x10010], 0xAB);
    EXPECT_EQ(gDataConcatenatedLenght, 0x10010);
}

namespace {

// A text that fails at one of its lines, and what the flattener says of it.
struct FailureCase {
    const char *name;
    std::vector<std::string> lines;
    size_t failingLine;
    std::string failure;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class FlatteningFailure : public ProgramBuffersTest, public ::testing::WithParamInterface<FailureCase> {};

}  // namespace

TEST_P(FlatteningFailure, KeepsTheFailingRecordAndWhatIsWrong)
{
    const FailureCase &c = GetParam();
    std::string text;
    for (size_t i = 0; i < c.failingLine; ++i) {
        text += c.lines[i];
    }
    // The record starts after its ':', or at the text's start where it has none.
    const size_t recordAt = text.size() + (c.lines[c.failingLine][0] == ':' ? 1 : 0);
    for (size_t i = c.failingLine; i < c.lines.size(); ++i) {
        text += c.lines[i];
    }
    text.append(BUFFER_GUARD_SIZE, '\0');

    ASSERT_FALSE(ValidateFwAndConcatenateData(text.data()));
    EXPECT_EQ(flatteningFailedRecord(), text.data() + recordAt);
    EXPECT_STREQ(flatteningFailure(), c.failure.c_str());
    // The module's own message is printed as ever.
    EXPECT_EQ(simConsole_text().rfind("\r\n intel_hex_line_is_valid \r\n:", 0), 0u) << simConsole_text();

    // A text that passes clears the record of the failure before it.
    std::string good = hextext::end();
    EXPECT_TRUE(ValidateFwAndConcatenateData(good.data()));
    EXPECT_EQ(flatteningFailedRecord(), nullptr);
    EXPECT_EQ(flatteningFailure(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FlatteningFailure,
    ::testing::Values(FailureCase{"WrongChecksum",
                                  {hextext::data(0, {1}), hextext::data(0x10, {2}), ":010020003CA2\r\n"},
                                  2,
                                  "record checksum is 0xA2, the record's bytes need 0xA3"},
                      FailureCase{"FewerDataBytesThanCounted",
                                  {hextext::upper(0), ":040010000102E2\n", hextext::end()},
                                  1,
                                  "byte count 4 but 2 data bytes"},
                      FailureCase{"TooShortForAnyRecord",
                                  {hextext::data(0, {1}), ":0000\r\n"},
                                  1,
                                  "too short for a record (5 characters)"},
                      FailureCase{"NoColonAtTheStart", {"hello\r\n", hextext::end()}, 0, "not a record (no ':')"},
                      FailureCase{"LineTooLong",
                                  {hextext::end(), hextext::data(0, std::vector<uint8_t>(44, 0x11))},
                                  1,
                                  "line longer than 98 characters after its ':' (line end included)"},
                      FailureCase{"DataPastTheImageSpace",
                                  {hextext::upper(0x0040), hextext::data(0x10, {1})},
                                  1,
                                  "data at 0x400010 is past the 4 MiB image space"},
                      FailureCase{"DataRunningPastTheImageSpace",
                                  {hextext::upper(0x003F), hextext::data(0xFFF8, std::vector<uint8_t>(16, 0x22))},
                                  1,
                                  "data at 0x400000 is past the 4 MiB image space"},
                      FailureCase{"ShortUpperAddressRecord",
                                  {hextext::end(), hextext::record(4, 0, {0x01}) + "\r\n", hextext::data(0, {1})},
                                  1,
                                  "extended linear address record needs 2 data bytes, not 1"}),
    [](const ::testing::TestParamInfo<FailureCase> &param) { return std::string(param.param.name); });

TEST(ImageChecksum, IsZeroMinusTheByteSum)
{
    const uint8_t none[1] = {0};
    EXPECT_EQ(imageCheckSum(none, 0), 0u);
    EXPECT_EQ(imageCheckSum(none, 1), 0u);
    const uint8_t three[3] = {1, 2, 3};
    EXPECT_EQ(imageCheckSum(three, 3), 4294967290u);
    const std::vector<uint8_t> ones(10, 0xFF);
    EXPECT_EQ(imageCheckSum(ones.data(), 10), 4294964746u);
}
