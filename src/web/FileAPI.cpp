#include "web/FileAPI.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

FILE *fptr = nullptr;
const char *writeFailure = nullptr;

// Keeps the first failure only: later ones usually follow from it.
void noteFailure(const char *reason)
{
    if (writeFailure == nullptr) {
        writeFailure = reason;
    }
}

BOOL openWithMode(const char *fileName, BOOL isBinary, const char *binaryMode, const char *textMode)
{
    fptr = fopen(fileName, isBinary == TRUE ? binaryMode : textMode);
    if (fptr == nullptr) {
        noteFailure(strerror(errno));
        puts("ERROR: File does not exists");
        return FALSE;
    }
    return TRUE;
}

BOOL reportNoFile(void)
{
    noteFailure("the file is not open");
    puts("ERROR: File does not exists or Not opened !");
    return FALSE;
}

}  // namespace

BOOL FileAPI_CreateFile(const char *fileName, BOOL isBinary)
{
    writeFailure = nullptr;
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
    const size_t length = strlen(stringToWrite);
    if (fwrite(stringToWrite, 1, length, fptr) != length) {
        noteFailure(strerror(errno));
    }
    return TRUE;
}

BOOL FileAPI_writeToFileBinary(const uint8_t *dataToWrite, uint32_t dataLength)
{
    if (fptr == nullptr) {
        return reportNoFile();
    }
    if (fwrite(dataToWrite, 1, dataLength, fptr) != dataLength) {
        noteFailure(strerror(errno));
    }
    return TRUE;
}

BOOL FileAPI_CloseFile(void)
{
    if (fptr == nullptr) {
        return reportNoFile();
    }
    // Buffered bytes meet a full disk only here.
    if (fclose(fptr) != 0) {
        noteFailure(strerror(errno));
    }
    // A closed stream is no file to write to.
    fptr = nullptr;
    return TRUE;
}

const char *FileAPI_WriteFailure(void)
{
    return writeFailure;
}
