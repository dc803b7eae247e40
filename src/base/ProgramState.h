// The program-wide buffers, numbers and constants every subsystem shares.
#ifndef PROGRAMSTATE_H_
#define PROGRAMSTATE_H_

#include "base/Catalogue.h"

#include <windows.h>

#include <cstdint>

#define FIRMWARE_VERSION_TO_UPLOAD "1.0.5"
#define DATA_BUFFER_SIZE (1024 * 1000)
#define CONCAT_BUFFER_SIZE (4 * 1024 * 1024)

// Bytes of zeros kept behind each heap copy of an image text and behind the
// image space.
#define BUFFER_GUARD_SIZE 16

extern char *gHexFirmware;
extern char *gHexFPGA_Code;
extern uint8_t *gDataConcatenated;
extern char *gDataBuffer;
extern int gDataConcatenatedLenght;
extern uint32_t gDataConcatenatedCheckSum;
extern int gComPortNumber;
extern int gBaudRate;

// Start-up: the firmware text copy, the image buffer and the reply buffer.
// FALSE (after a one-line message) when memory cannot be had.
BOOL allocateProgramBuffers(void);
// Releases the buffers in the order the program's end requires; null-safe.
void releaseProgramBuffers(void);
// A zero-filled heap copy of one catalogue text with the guard bytes behind it.
char *newWritableCopyOfImageText(ImageIndex image);

// Prints the last message, then the exit prompt and the key wait, unless a
// program that runs unattended turned them off.
void dipsplayLastMessageToUserBeforeExit(const char *lastMessage);
// TRUE (the default): the prompt and the key wait end every path that shows
// a last message; FALSE: the message alone.
void setKeyWaitBeforeExit(BOOL wait);
BOOL keyWaitBeforeExit(void);

#endif
