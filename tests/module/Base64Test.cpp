#include "web/Encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Encodes into a buffer just large enough; the text, or "<fail>".
std::string encode(const std::string &plain)
{
    std::vector<unsigned char> out(plain.size() * 2 + 8, 0xEE);
    int dlen = static_cast<int>(out.size());
    if (base64_encode(out.data(), &dlen, reinterpret_cast<const unsigned char *>(plain.data()),
                      static_cast<int>(plain.size())) != 0) {
        return "<fail>";
    }
    if (plain.empty()) {
        return "";
    }
    EXPECT_EQ(out[static_cast<size_t>(dlen)], 0) << "text must be zero-terminated";
    return std::string(out.begin(), out.begin() + dlen);
}

std::string decode(const std::string &text, int capacity = 64)
{
    if (text.empty()) {
        return "";  // nothing decoded, and *dlen is left as it was
    }
    std::vector<unsigned char> out(static_cast<size_t>(capacity) + 1, 0xEE);
    int dlen = capacity;
    if (base64_decode(out.data(), &dlen, reinterpret_cast<const unsigned char *>(text.data()),
                      static_cast<int>(text.size())) != 0) {
        return "<fail>";
    }
    return std::string(out.begin(), out.begin() + dlen);
}

const std::vector<std::pair<std::string, std::string>> RFC4648_VECTORS = {{"", ""},
                                                                          {"f", "Zg=="},
                                                                          {"fo", "Zm8="},
                                                                          {"foo", "Zm9v"},
                                                                          {"foob", "Zm9vYg=="},
                                                                          {"fooba", "Zm9vYmE="},
                                                                          {"foobar", "Zm9vYmFy"}};

}  // namespace

TEST(Base64, StandardVectorsBothWays)
{
    for (const auto &[plain, text] : RFC4648_VECTORS) {
        EXPECT_EQ(encode(plain), text);
        EXPECT_EQ(decode(text), plain);
    }
}

TEST(Base64, EncoderAsksForRoomForTheTerminator)
{
    const unsigned char one = 'f';
    unsigned char out[8];
    memset(out, 0xEE, sizeof out);
    int dlen = 4;
    EXPECT_EQ(base64_encode(out, &dlen, &one, 1), -1);
    EXPECT_EQ(dlen, 5);
    EXPECT_EQ(out[0], 0xEE);
    dlen = 5;
    EXPECT_EQ(base64_encode(out, &dlen, &one, 1), 0);
    EXPECT_EQ(dlen, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 5), std::string("Zg==\0", 5));
}

TEST(Base64, EncodingNothingTouchesNothing)
{
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int dlen = 4;
    EXPECT_EQ(base64_encode(out, &dlen, out, 0), 0);
    EXPECT_EQ(dlen, 4);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(Base64, DecoderCountsPadsInTheCapacityItDemands)
{
    unsigned char out[4];
    int dlen = 2;
    EXPECT_EQ(base64_decode(out, &dlen, reinterpret_cast<const unsigned char *>("Zg=="), 4), -1);
    EXPECT_EQ(dlen, 3);
    EXPECT_EQ(base64_decode(out, &dlen, reinterpret_cast<const unsigned char *>("Zg=="), 4), 0);
    EXPECT_EQ(dlen, 1);
    EXPECT_EQ(out[0], 'f');

    dlen = 4;
    EXPECT_EQ(base64_decode(out, &dlen, reinterpret_cast<const unsigned char *>("Zm9vYm"), 6), -1);
    EXPECT_EQ(dlen, 5);
    EXPECT_EQ(decode("Zm9vYm", 5), "foo");
}

TEST(Base64, LineBreaksAreSkippedOtherWhiteSpaceIsRejected)
{
    EXPECT_EQ(decode("Zm9v\r\nYmFy\n"), "foobar");
    EXPECT_EQ(decode("Zg=\r\n="), "f");
    EXPECT_EQ(decode("Zg=\n="), "f");
    for (const std::string bad : {"Zm9v\rYmFy", "Zm9vYmFy\r", "Zm9v YmFy", "Zm9v\tYmFy", "Zm9v\x80YmFy", "Zm9v-YmFy"}) {
        EXPECT_EQ(decode(bad), "<fail>") << bad;
    }
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int dlen = 4;
    EXPECT_EQ(base64_decode(out, &dlen, reinterpret_cast<const unsigned char *>("\r\n\n"), 3), 0);
    EXPECT_EQ(dlen, 4);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(Base64, PadsMayOnlyEndTheText)
{
    EXPECT_EQ(decode("Zg==="), "<fail>");
    EXPECT_EQ(decode("Zg==Zg=="), "<fail>");
    EXPECT_EQ(decode("Zm=9v"), "<fail>");
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int dlen = 4;
    EXPECT_EQ(base64_decode(out, &dlen, reinterpret_cast<const unsigned char *>("Zg==Zg=="), 8), -1);
    EXPECT_EQ(dlen, 4);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(Base64, EveryByteValueSurvivesTheRoundTrip)
{
    std::string all;
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int value = 0; value < 256; ++value) {
            all.push_back(static_cast<char>(value));
            EXPECT_EQ(decode(encode(all), 1024), all);
        }
    }
}

TEST(Base64, NegativeLengthIsAFailureNotAWrite)
{
    unsigned char out[8] = {0xEE};
    int dlen = 8;
    EXPECT_EQ(base64_encode(out, &dlen, out, -3), -1);
    EXPECT_EQ(out[0], 0xEE);
}
