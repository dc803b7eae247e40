// Validation of a whole Intel HEX text and its flattening into the image buffer.
#ifndef IMAGEFLATTENING_H_
#define IMAGEFLATTENING_H_

#include <windows.h>

#include <cstdint>

// Splits gHexData in place, so it must be a writable copy of the text.
BOOL ValidateFwAndConcatenateData(char *gHexData);
// After ValidateFwAndConcatenateData returned FALSE: the failing record where
// it lies in the text flattened (its first character after the ':'), null when
// the text held no record; and what is wrong, e.g. "byte count 16 but 12 data
// bytes". Both null after TRUE.
const char *flatteningFailedRecord(void);
const char *flatteningFailure(void);
void printDataBufferInHex(uint8_t *databuffer, int dataBufferLength);
// 0 minus the sum of the image bytes, modulo 2^32: the figure the unit and
// the web file both carry.
uint32_t imageCheckSum(const uint8_t *image, int length);

#endif
