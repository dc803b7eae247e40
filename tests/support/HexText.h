// Builds Intel HEX record lines and texts for the tests.
#ifndef TESTS_HEXTEXT_H_
#define TESTS_HEXTEXT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hextext {

// One record line with a correct checksum, without a line end.
inline std::string record(uint8_t type, uint16_t address, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    std::string line = ":";
    char pair[3];
    for (uint8_t byte : bytes) {
        sum = static_cast<uint8_t>(sum + byte);
        snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    snprintf(pair, sizeof pair, "%02X", static_cast<uint8_t>(-sum));
    return line + pair;
}

inline std::string data(uint16_t address, const std::vector<uint8_t> &bytes)
{
    return record(0, address, bytes) + "\r\n";
}

inline std::string upper(uint16_t upperAddress)
{
    return record(4, 0, {static_cast<uint8_t>(upperAddress >> 8), static_cast<uint8_t>(upperAddress)}) + "\r\n";
}

inline std::string end()
{
    return ":00000001FF\r\n";
}

// A text whose flattened image is exactly `image`: 16-byte records from 0,
// then one more record at the image's end, whose bytes fall outside the image.
inline std::string forImage(const std::vector<uint8_t> &image)
{
    std::string text;
    for (size_t at = 0; at < image.size(); at += 16) {
        if (at % 65536 == 0) {
            text += upper(static_cast<uint16_t>(at >> 16));
        }
        const size_t count = std::min<size_t>(16, image.size() - at);
        text += data(static_cast<uint16_t>(at), std::vector<uint8_t>(image.begin() + at, image.begin() + at + count));
    }
    if (image.size() % 65536 == 0) {
        text += upper(static_cast<uint16_t>(image.size() >> 16));
    }
    text += data(static_cast<uint16_t>(image.size()), {0x20, 0x00, 0x00, 0x00});
    return text + end();
}

}  // namespace hextext

#endif
