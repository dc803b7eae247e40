// Bytes of the line as a person reads them in the update log, the emulated
// unit's trace, the tool's console and the tests' messages: "\r", "\n", "\"",
// "\\" and "\xNN" for every other byte outside printable ASCII, so that no
// byte from a unit reaches a file or a terminal as it is. Header-only: the
// emulator uses it without the system's modules.
#ifndef ESCAPEDBYTES_H_
#define ESCAPEDBYTES_H_

#include <cstdio>
#include <string>
#include <string_view>

// Cut after `limit` bytes.
inline std::string escapedBytes(std::string_view bytes, size_t limit = std::string_view::npos)
{
    std::string shown;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\r': shown += "\\r"; break;
        case '\n': shown += "\\n"; break;
        case '"': shown += "\\\""; break;
        case '\\': shown += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02X", c);
                shown += hex;
            } else {
                shown += static_cast<char>(c);
            }
        }
    }
    return shown;
}

#endif
