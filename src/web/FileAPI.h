// One output file at a time, held by the module.
#ifndef FILEAPI_H_
#define FILEAPI_H_

#include <windows.h>

#include <cstdint>

BOOL FileAPI_CreateFile(const char *fileName, BOOL isBinary);
BOOL FileAPI_OpenFile_ToWrite(const char *fileName, BOOL isBinary);
BOOL FileAPI_OpenFile_ToRead(const char *fileName, BOOL isBinary);
BOOL FileAPI_writeToFile(const char *stringToWrite);
BOOL FileAPI_writeToFileBinary(const uint8_t *dataToWrite, uint32_t dataLength);
BOOL FileAPI_CloseFile(void);

// Why the file last created was not written whole: the system's own text of
// the first open, write or close of it that failed; null when all of them
// took everything. The results above stay TRUE either way.
const char *FileAPI_WriteFailure(void);

#endif
