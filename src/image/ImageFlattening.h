// Validation of a whole Intel HEX text and its flattening into the image buffer.
#ifndef IMAGEFLATTENING_H_
#define IMAGEFLATTENING_H_

#include <windows.h>

#include <cstdint>

// Splits gHexData in place, so it must be a writable copy of the text.
BOOL ValidateFwAndConcatenateData(char *gHexData);
void printDataBufferInHex(uint8_t *databuffer, int dataBufferLength);
// 0 minus the sum of the image bytes, modulo 2^32: the figure the unit and
// the web file both carry.
uint32_t imageCheckSum(const uint8_t *image, int length);

#endif
