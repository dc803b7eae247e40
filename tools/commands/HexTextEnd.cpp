#include "commands/HexTextEnd.h"

#include "image/IntelHex.h"

#include <cctype>
#include <string_view>

namespace {

bool isBlank(std::string_view line)
{
    for (const char c : line) {
        if (!isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool isEndOfFileRecord(std::string_view line)
{
    const std::string record(line);
    return intel_hex_start_code_present(record.c_str()) == 1 &&
           intel_hex_line_record_type(record.c_str()) == INTEL_HEX_RECORD_EOF;
}

// The length of the line starting at `text`, without its line end.
size_t lineLength(const char *text)
{
    size_t length = 0;
    while (text[length] != '\0' && text[length] != '\r' && text[length] != '\n') {
        ++length;
    }
    return length;
}

// Past the line end at `text`, if there is one.
const char *pastLineEnd(const char *text)
{
    if (text[0] == '\r' && text[1] == '\n') {
        return text + 2;
    }
    return text[0] == '\0' ? text : text + 1;
}

}  // namespace

HexTextEnd hexTextEnd(const char *text)
{
    int endRecordLine = 0;  // 0: none seen yet
    int lastLine = 0;
    for (int number = 1; text[0] != '\0'; ++number) {
        const size_t length = lineLength(text);
        const std::string_view line(text, length);
        text = pastLineEnd(text + length);
        if (isBlank(line)) {
            continue;
        }
        if (endRecordLine != 0) {
            return {number, "text after the end-of-file record of line " + std::to_string(endRecordLine)};
        }
        lastLine = number;
        endRecordLine = isEndOfFileRecord(line) ? number : 0;
    }
    if (endRecordLine == 0) {
        return {lastLine, "the text ends without an end-of-file record"};
    }
    return {};
}
