#include "web/FileAPI.h"

#include "ReadFile.h"
#include "SimConsole.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

class OneFile : public ::testing::Test {
protected:
    TempFolder folder;
    void SetUp() override { simConsole_begin(); }
    void TearDown() override
    {
        FileAPI_CloseFile();
        simConsole_end();
    }
};

TEST_F(OneFile, CreateWritesThenAppendGoesToTheEnd)
{
    const std::string path = folder.path("out.bin");
    ASSERT_TRUE(FileAPI_CreateFile(path.c_str(), TRUE));
    EXPECT_TRUE(FileAPI_writeToFile("100% sure\r\n"));
    EXPECT_TRUE(FileAPI_writeToFileBinary(reinterpret_cast<const uint8_t *>("xyz"), 0));
    EXPECT_TRUE(FileAPI_CloseFile());
    ASSERT_TRUE(FileAPI_OpenFile_ToWrite(path.c_str(), TRUE));
    EXPECT_TRUE(FileAPI_writeToFileBinary(reinterpret_cast<const uint8_t *>("\0\x01"), 2));
    EXPECT_TRUE(FileAPI_CloseFile());
    EXPECT_EQ(readFile(path), std::string("100% sure\r\n\0\x01", 13));

    ASSERT_TRUE(FileAPI_CreateFile(path.c_str(), TRUE));
    EXPECT_TRUE(FileAPI_CloseFile());
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(OneFile, FailedOpenLeavesNoFileToWriteTo)
{
    const std::string good = folder.path("good.bin");
    ASSERT_TRUE(FileAPI_CreateFile(good.c_str(), TRUE));
    EXPECT_FALSE(FileAPI_CreateFile(folder.path("missing/x.bin").c_str(), TRUE));
    EXPECT_FALSE(FileAPI_writeToFileBinary(reinterpret_cast<const uint8_t *>("a"), 1));
    EXPECT_FALSE(FileAPI_OpenFile_ToRead(folder.path("absent.bin").c_str(), 2));
    EXPECT_EQ(simConsole_text(), "ERROR: File does not exists\n"
                                 "ERROR: File does not exists or Not opened !\n"
                                 "ERROR: File does not exists\n");
}

TEST_F(OneFile, WritingOrClosingAfterACloseIsReported)
{
    ASSERT_TRUE(FileAPI_CreateFile(folder.path("f.txt").c_str(), FALSE));
    EXPECT_TRUE(FileAPI_CloseFile());
    EXPECT_FALSE(FileAPI_writeToFile("late"));
    EXPECT_FALSE(FileAPI_CloseFile());
    EXPECT_EQ(simConsole_text(), "ERROR: File does not exists or Not opened !\n"
                                 "ERROR: File does not exists or Not opened !\n");
}

TEST_F(OneFile, FirstFailureOfTheFileIsKeptWhileEveryResultStaysTrue)
{
    const uint8_t bytes[4] = {1, 2, 3, 4};
    // A file that cannot be made: the open's reason, not the writes' after it.
    EXPECT_FALSE(FileAPI_CreateFile(folder.path("no/such/folder.bin").c_str(), TRUE));
    EXPECT_FALSE(FileAPI_writeToFileBinary(bytes, 4));
    EXPECT_STREQ(FileAPI_WriteFailure(), strerror(ENOENT));

    // The next file starts with a clean record.
    ASSERT_TRUE(FileAPI_CreateFile(folder.path("fine.bin").c_str(), TRUE));
    EXPECT_TRUE(FileAPI_writeToFileBinary(bytes, 4));
    EXPECT_TRUE(FileAPI_CloseFile());
    EXPECT_EQ(FileAPI_WriteFailure(), nullptr);
}

#ifndef _WIN32
TEST_F(OneFile, FullDiskIsFoundWhenTheStreamIsClosed)
{
    const std::string full = folder.path("full.bin");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    ASSERT_TRUE(FileAPI_CreateFile(full.c_str(), TRUE));
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_TRUE(FileAPI_writeToFileBinary(bytes, 4));
    EXPECT_TRUE(FileAPI_CloseFile());
    EXPECT_STREQ(FileAPI_WriteFailure(), strerror(ENOSPC));
}
#endif
