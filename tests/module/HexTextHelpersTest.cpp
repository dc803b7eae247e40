#include "image/StringOperations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

TEST(HexDigits, LettersAndDigitsReadAsTheirValuesAndAnythingElseAsZero)
{
    EXPECT_EQ(capitalizeChar('a'), 'A');
    EXPECT_EQ(capitalizeChar('z'), 'Z');
    for (char unchanged : {'A', '0', '{', static_cast<char>(0xE9)}) {
        EXPECT_EQ(capitalizeChar(unchanged), unchanged);
    }
    EXPECT_EQ(int_from_hex_char('F'), 15);
    EXPECT_EQ(int_from_hex_char('f'), 15);
    EXPECT_EQ(int_from_hex_char('9'), 9);
    for (char invalid : {'G', ' ', '\0', static_cast<char>(0xC1)}) {
        EXPECT_EQ(int_from_hex_char(invalid), 0) << int(invalid);
    }
}

TEST(HexDigits, ByteFromTextUsesAtMostTwoCharacters)
{
    EXPECT_EQ(u8_from_hex_string("A5"), 0xA5);
    EXPECT_EQ(u8_from_hex_string("a5FF"), 0xA5);
    EXPECT_EQ(u8_from_hex_string("A"), 0x0A);
    EXPECT_EQ(u8_from_hex_string(""), 0);
    EXPECT_EQ(u8_from_hex_string("G1"), 0x01);
}

TEST(HexArray, ConvertsIntoAZeroedArrayWhenItFits)
{
    uint8_t bytes[2] = {0, 0};
    EXPECT_EQ(u8_array_from_hex_string(bytes, 2, "0102"), 1);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x02);

    uint8_t odd[2] = {0, 0};
    EXPECT_EQ(u8_array_from_hex_string(odd, 1, "ABC"), 0);
    EXPECT_EQ(u8_array_from_hex_string(odd, 2, "ABC"), 1);
    EXPECT_EQ(odd[0], 0xAB);
    EXPECT_EQ(odd[1], 0xC0);
}

TEST(HexArray, AddsToWhatTheArrayHolds)
{
    uint8_t byte = 0;
    u8_array_from_hex_string(&byte, 1, "01");
    u8_array_from_hex_string(&byte, 1, "01");
    EXPECT_EQ(byte, 0x02);
}

TEST(HexArray, NeverWritesPastTheArray)
{
    uint8_t guarded[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(u8_array_from_hex_string(guarded, 1, "0102"), 0);
    EXPECT_EQ(guarded[0], 0x11);
    EXPECT_EQ(guarded[1], 0x22);

    // 65,535 digits: a 16-bit count plus one must not wrap to "needs nothing".
    const std::string longest(65535, '7');
    EXPECT_EQ(u8_array_from_hex_string(guarded, 2, longest.c_str()), 0);
    EXPECT_EQ(guarded[2], 0x33);
    EXPECT_EQ(guarded[3], 0x44);

    std::vector<uint8_t> exact(32768, 0);
    EXPECT_EQ(u8_array_from_hex_string(exact.data(), 32768, longest.c_str()), 1);
    EXPECT_EQ(exact.back(), 0x70);
}

TEST(Split, CutsTheTextInPlaceAtEachDelimiter)
{
    char text[] = ":A\r\n:B\r\n";
    char **tokens = str_split(text, ":");
    ASSERT_NE(tokens, nullptr);
    EXPECT_STREQ(tokens[0], "A\r\n");
    EXPECT_STREQ(tokens[1], "B\r\n");
    EXPECT_EQ(tokens[2], nullptr);
    free(tokens);
    const char expected[] = {':', 'A', '\r', '\n', '\0', 'B', '\r', '\n', '\0'};
    EXPECT_EQ(0, memcmp(text, expected, sizeof expected));
}

TEST(Split, NullArgumentsAndTextsWithoutTokensGiveNull)
{
    char text[] = "::::";
    EXPECT_EQ(str_split(nullptr, ":"), nullptr);
    EXPECT_EQ(str_split(text, nullptr), nullptr);
    EXPECT_EQ(str_split(text, ":"), nullptr);
    char empty[] = "";
    EXPECT_EQ(str_split(empty, ":"), nullptr);
}

TEST(Split, ManyTokensAllFitWithTheClosingNull)
{
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text.push_back(':');
        text.append(std::to_string(i));
    }
    char **tokens = str_split(text.data(), ":");
    ASSERT_NE(tokens, nullptr);
    EXPECT_STREQ(tokens[4999], "4999");
    EXPECT_EQ(tokens[5000], nullptr);
    free(tokens);
}

TEST(LineBreaks, BecomeTheGivenCharacter)
{
    char spaced[] = "12\r\n34";
    StrRemoveNL(spaced, ' ');
    EXPECT_STREQ(spaced, "12  34");

    char cut[] = "12\r\n34";
    EXPECT_EQ(StrRemoveNL(cut, 0), TRUE);
    EXPECT_STREQ(cut, "12");
    EXPECT_EQ(cut[2], '\0');
    EXPECT_EQ(cut[3], '\0');
    EXPECT_EQ(cut[4], '3');
}
