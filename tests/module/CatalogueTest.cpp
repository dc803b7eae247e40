#include "base/ProgramState.h"
#include "firmware/BinImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

TEST(Catalogue, HoldsTheThreeTextsWithTheirNamesAndLengths)
{
    const struct {
        const char *name;
        int nameLength;
        int textLength;
        const char *firstLine;
    } expected[3] = {
        {"M731946_MCU_6G-SDI_61_1_05.hex", 30, 237718, ":0200000480007A\r\n"},
        {"M731946_TX_XC7A35_1_05.mcs", 26, 2968118, ":020000040000FA\r\n"},
        {"M731946_RX_XC7A35_1_05.mcs", 26, 3154210, ":020000040000FA\r\n"},
    };
    for (int i = 0; i < 3; ++i) {
        const autogen_files &entry = AUTOGEN_FILES[i];
        EXPECT_STREQ(entry.filePath, expected[i].name);
        EXPECT_EQ(entry.filePathLength, expected[i].nameLength);
        EXPECT_EQ(static_cast<int>(strlen(entry.filePath)), entry.filePathLength);
        EXPECT_EQ(entry.fileDataLength, expected[i].textLength);
        // Exactly one zero byte, right behind the text.
        EXPECT_EQ(entry.fileData[entry.fileDataLength], '\0');
        EXPECT_EQ(static_cast<int>(strlen(entry.fileData)), entry.fileDataLength);
        const std::string text(entry.fileData, static_cast<size_t>(entry.fileDataLength));
        EXPECT_EQ(text.substr(0, 17), expected[i].firstLine);
        EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
    }
    EXPECT_EQ(sizeof M731946_RX_XC7A35_1_05_mcs, 3154211u);
}

TEST(StartUp, BuffersHoldTheFirmwareTextAndTheBlankImage)
{
    ASSERT_TRUE(allocateProgramBuffers());
    const int length = AUTOGEN_FILES[0].fileDataLength;
    EXPECT_EQ(0, memcmp(gHexFirmware, AUTOGEN_FILES[0].fileData, static_cast<size_t>(length)));
    EXPECT_EQ(std::count(gHexFirmware + length, gHexFirmware + length + BUFFER_GUARD_SIZE, '\0'), BUFFER_GUARD_SIZE);
    EXPECT_EQ(std::count(gDataConcatenated, gDataConcatenated + CONCAT_BUFFER_SIZE, 0xFF), CONCAT_BUFFER_SIZE);
    EXPECT_EQ(std::count(gDataConcatenated + CONCAT_BUFFER_SIZE,
                         gDataConcatenated + CONCAT_BUFFER_SIZE + BUFFER_GUARD_SIZE, 0),
              BUFFER_GUARD_SIZE);
    EXPECT_EQ(std::count(gDataBuffer, gDataBuffer + DATA_BUFFER_SIZE, 0), DATA_BUFFER_SIZE);
    EXPECT_EQ(gHexFPGA_Code, nullptr);
    releaseProgramBuffers();
    EXPECT_EQ(gHexFirmware, nullptr);
    EXPECT_EQ(gDataConcatenated, nullptr);
    EXPECT_EQ(gDataBuffer, nullptr);
}

TEST(StartUp, FpgaCopiesEndInSixteenZeros)
{
    for (ImageIndex index : {IMAGE_TX_FPGA, IMAGE_RX_FPGA}) {
        char *copy = newWritableCopyOfImageText(index);
        ASSERT_NE(copy, nullptr);
        const int length = AUTOGEN_FILES[index].fileDataLength;
        EXPECT_EQ(std::string(copy + length - 13), ":00000001FF\r\n");
        EXPECT_EQ(std::count(copy + length, copy + length + BUFFER_GUARD_SIZE, '\0'), BUFFER_GUARD_SIZE);
        free(copy);
    }
}
