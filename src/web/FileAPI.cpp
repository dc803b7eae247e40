#include "FileAPI.h"

#include <cstdio>
#include <cstring>

namespace {

FILE *fptr = nullptr;

BOOL openWithMode(const char *fileName, BOOL isBinary, const char *binaryMode, const char *textMode)
{
    fptr = fopen(fileName, isBinary == TRUE ? binaryMode : textMode);
    if (fptr == nullptr) {
        puts("ERROR: File does not exists");
        return FALSE;
    }
    return TRUE;
}

BOOL reportNoFile(void)
{
    puts("ERROR: File does not exists or Not opened !");
    return FALSE;
}

}  // namespace

BOOL FileAPI_CreateFile(const char *fileName, BOOL isBinary)
{
    return openWithMode(fileName, isBinary, "wb", "w");
}

BOOL FileAPI_OpenFile_ToWrite(const char *fileName, BOOL isBinary)
{
    return openWithMode(fileName, isBinary, "ab", "a");
}

BOOL FileAPI_OpenFile_ToRead(const char *fileName, BOOL isBinary)
{
    return openWithMode(fileName, isBinary, "rb", "r");
}

BOOL FileAPI_writeToFile(const char *stringToWrite)
{
    if (fptr == nullptr) {
        return reportNoFile();
    }
    fwrite(stringToWrite, 1, strlen(stringToWrite), fptr);
    return TRUE;
}

BOOL FileAPI_writeToFileBinary(const uint8_t *dataToWrite, uint32_t dataLength)
{
    if (fptr == nullptr) {
        return reportNoFile();
    }
    fwrite(dataToWrite, 1, dataLength, fptr);
    return TRUE;
}

BOOL FileAPI_CloseFile(void)
{
    if (fptr == nullptr) {
        return reportNoFile();
    }
    fclose(fptr);
    // A closed stream is no file to write to.
    fptr = nullptr;
    return TRUE;
}
