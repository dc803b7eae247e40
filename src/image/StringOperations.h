// Hex text helpers, the in-place tokenizer and the line-break replacement.
#ifndef STRINGOPERATIONS_H_
#define STRINGOPERATIONS_H_

#include <windows.h>

#include <cstdint>

char capitalizeChar(char character);
uint8_t int_from_hex_char(char aChar);
uint8_t u8_from_hex_string(const char *inputString);
uint8_t u8_array_from_hex_string(uint8_t *outputArray, uint32_t arraySize, const char *inputString);
char **str_split(char *s, const char *ct);
BOOL StrRemoveNL(char *str, char ch);

#endif
