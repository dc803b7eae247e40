// Fuzz build only: the catalogue's declarations without the embedded images,
// so that ProgramState.cpp links without the generated module. Same layout
// as the generated header.
#ifndef _AUTOGEN_BINIMAGE_H_
#define _AUTOGEN_BINIMAGE_H_

typedef struct {
    char filePath[70];
    char filePathLength;
    const char *fileData;
    int fileDataLength;
} autogen_files;

extern const autogen_files AUTOGEN_FILES[3];

#endif
