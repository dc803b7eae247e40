#include "image/StringOperations.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char capitalizeChar(char character)
{
    if (character >= 'a' && character <= 'z') {
        return static_cast<char>(character - 0x20);
    }
    return character;
}

namespace {

// Digit values by character code; everything else reads as 0. A table keeps
// the decoding of a 3 MB text to a lookup per digit.
constexpr struct HexDigitValues {
    uint8_t value[256];
    constexpr HexDigitValues() : value()
    {
        for (int c = '0'; c <= '9'; ++c) {
            value[c] = static_cast<uint8_t>(c - '0');
        }
        for (int c = 0; c < 6; ++c) {
            value['A' + c] = static_cast<uint8_t>(10 + c);
            value['a' + c] = static_cast<uint8_t>(10 + c);
        }
    }
} HEX_DIGIT_VALUES;

}  // namespace

uint8_t int_from_hex_char(char aChar)
{
    return HEX_DIGIT_VALUES.value[static_cast<unsigned char>(aChar)];
}

uint8_t u8_from_hex_string(const char *inputString)
{
    if (inputString[0] == '\0') {
        return 0;
    }
    if (inputString[1] == '\0') {
        return int_from_hex_char(inputString[0]);
    }
    return static_cast<uint8_t>(int_from_hex_char(inputString[0]) * 16 + int_from_hex_char(inputString[1]));
}

uint8_t u8_array_from_hex_string(uint8_t *outputArray, uint32_t arraySize, const char *inputString)
{
    // The length is a 16-bit count; the room it needs is worked out in a wider
    // type so that 65,535 digits cannot wrap to "fits in nothing".
    const uint16_t length = static_cast<uint16_t>(strlen(inputString));
    if ((static_cast<uint32_t>(length) + 1) / 2 > arraySize) {
        return 0;
    }
    for (int position = static_cast<int>(length) - 1; position >= 0; --position) {
        const uint8_t nibble = int_from_hex_char(inputString[position]);
        const uint8_t value = (position % 2 == 0) ? static_cast<uint8_t>(nibble << 4) : nibble;
        outputArray[position / 2] = static_cast<uint8_t>(outputArray[position / 2] + value);
    }
    return 1;
}

char **str_split(char *s, const char *ct)
{
    if (s == nullptr || ct == nullptr) {
        return nullptr;
    }
    char **tokens = nullptr;
    size_t capacity = 1;
    size_t count = 0;
    for (char *token = strtok(s, ct); token != nullptr; token = strtok(nullptr, ct)) {
        if (count + 1 >= capacity) {
            capacity *= 2;
            char **grown = static_cast<char **>(realloc(tokens, capacity * sizeof(char *)));
            if (grown == nullptr) {
                puts("Memoire insuffisante");
                free(tokens);
                exit(0);
            }
            tokens = grown;
        }
        tokens[count++] = token;
    }
    if (tokens != nullptr) {
        tokens[count] = nullptr;
    }
    return tokens;
}

BOOL StrRemoveNL(char *str, char ch)
{
    const size_t length = strlen(str);
    // A store for every character, so the loop can run over many at once.
    for (size_t i = 0; i < length; ++i) {
        const char c = str[i];
        str[i] = (c == '\r' || c == '\n') ? ch : c;
    }
    return TRUE;
}
