#include "HexText.h"
#include "ProgramBuffersTest.h"
#include "ReadFile.h"
#include "TempFolder.h"

#include "SimConsole.h"
#include "base/ProgramState.h"
#include "web/Encoder.h"
#include "web/WebFirmware.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class WebFile : public ProgramBuffersTest {
protected:
    TempFolder folder;

    // Puts the text of `image` where the embedded firmware text would be.
    void useFirmwareImage(const std::vector<uint8_t> &image)
    {
        const std::string text = hextext::forImage(image);
        free(gHexFirmware);
        gHexFirmware = static_cast<char *>(calloc(text.size() + BUFFER_GUARD_SIZE, 1));
        memcpy(gHexFirmware, text.data(), text.size());
    }

    std::string writeFile()
    {
        InFolder inside(folder.path());
        EXPECT_TRUE(createFirmwareFileForWeb());
        return readFile(folder.path("FwToUpload.bin"));
    }

    static std::string body(const std::string &file)
    {
        // Five header lines, each ended by CR LF.
        size_t at = 0;
        for (int line = 0; line < 5; ++line) {
            at = file.find("\r\n", at) + 2;
        }
        return file.substr(at);
    }
};

std::vector<uint8_t> pattern(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return bytes;
}

}  // namespace

TEST_F(WebFile, EmbeddedFirmwareGivesHeaderAndLinesThatDecodeToTheImage)
{
    const std::string file = writeFile();
    const std::string header = "DexRig\r\n731946\r\n1.0.5\r\n4279021583\r\n117648\r\n";
    ASSERT_EQ(file.substr(0, header.size()), header);
    const std::string text = body(file);
    std::string joined;
    size_t lines = 0;
    for (size_t at = 0; at < text.size(); at += 930, ++lines) {
        const std::string line = text.substr(at, 928);
        EXPECT_TRUE(line.size() == 928 || at + line.size() == text.size());
        if (at + 928 < text.size()) {
            EXPECT_EQ(text.substr(at + 928, 2), "\r\n");
        }
        joined += line;
    }
    EXPECT_EQ(lines, 170u);
    EXPECT_EQ(joined.size(), 156864u);
    std::vector<uint8_t> decoded(joined.size());
    int dlen = static_cast<int>(decoded.size());
    ASSERT_EQ(base64_decode(decoded.data(), &dlen, reinterpret_cast<const unsigned char *>(joined.data()),
                            static_cast<int>(joined.size())),
              0);
    ASSERT_EQ(dlen, 117648);
    EXPECT_EQ(0, memcmp(decoded.data(), gDataConcatenated, 117648));

    EXPECT_EQ(simConsole_text(), "\r\n Firmware data is valid !\r\n"
                                 "\r\n Firmware CheckSum = 4279021583 !\r\n"
                                 "\r\n Firmware CheckSum u = 4279021583 !\r\n"
                                 "\r\n Firmware data length = 117648 !\r\n"
                                 "\r\nPress any key to exit");
    EXPECT_EQ(simConsole_keyWaits(), 1);
}

TEST_F(WebFile, LinesBreakEvery928CharactersWithNoLineEndAfterTheLast)
{
    struct Case {
        size_t length;
        std::vector<size_t> lineLengths;
    };
    for (const Case &c : {Case{696, {928}}, Case{697, {928, 4}}, Case{1392, {928, 928}}}) {
        useFirmwareImage(pattern(c.length));
        const std::string text = body(writeFile());
        size_t at = 0;
        for (size_t i = 0; i < c.lineLengths.size(); ++i) {
            at += c.lineLengths[i];
            if (i + 1 < c.lineLengths.size()) {
                EXPECT_EQ(text.substr(at, 2), "\r\n") << c.length;
                at += 2;
            }
        }
        EXPECT_EQ(text.size(), at) << c.length;
    }
}

TEST_F(WebFile, PadCharactersAreWrittenAsA)
{
    useFirmwareImage(pattern(4));
    EXPECT_EQ(body(writeFile()), "AwoRGAAA");
    useFirmwareImage(pattern(5));
    EXPECT_EQ(body(writeFile()), "AwoRGB8A");
    useFirmwareImage(pattern(6));
    EXPECT_EQ(body(writeFile()), "AwoRGB8m");
}

TEST_F(WebFile, EmptyImageGivesTheHeaderAlone)
{
    useFirmwareImage({});
    EXPECT_EQ(writeFile(), "DexRig\r\n731946\r\n1.0.5\r\n0\r\n0\r\n");
}

TEST_F(WebFile, OlderFileIsReplacedNotAppendedTo)
{
    {
        InFolder inside(folder.path());
        FILE *old = fopen("FwToUpload.bin", "wb");
        fputs(std::string(5000, 'x').c_str(), old);
        fclose(old);
    }
    useFirmwareImage(pattern(3));
    EXPECT_EQ(writeFile(), "DexRig\r\n731946\r\n1.0.5\r\n4294967266\r\n3\r\nAwoR");
}

TEST_F(WebFile, InvalidFirmwareTouchesNoFileAndWaitsForNoKey)
{
    strcpy(gHexFirmware, ":00000001FE\r\n");
    InFolder inside(folder.path());
    EXPECT_FALSE(createFirmwareFileForWeb());
    EXPECT_EQ(simConsole_text(), "\r\n intel_hex_line_is_valid \r\n:00000001FE\r\n"
                                 "\r\nERROR: Firmware data is not valid !\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.path("FwToUpload.bin")));
    EXPECT_EQ(simConsole_keyWaits(), 0);
}

TEST_F(WebFile, ImageTooLargeForTheEncoderLeavesTheHeaderWithoutABody)
{
    useFirmwareImage(pattern(460798));
    const std::string file = writeFile();
    EXPECT_EQ(file.substr(file.size() - 8), "460798\r\n");
    EXPECT_EQ(body(file), "");
    EXPECT_NE(simConsole_text().find("\r\n ERROR BASE 64 !\r\n"), std::string::npos);
    EXPECT_EQ(simConsole_keyWaits(), 1);
    EXPECT_STREQ(webFirmwareFileFailure(), "the image is too large to encode");

    useFirmwareImage(pattern(460797));
    EXPECT_EQ(body(writeFile()).size(), 614396u + 2 * (663 - 1));
    EXPECT_EQ(webFirmwareFileFailure(), nullptr);
}
