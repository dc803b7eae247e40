// The properties the fuzz targets hold the parsers to. Each check takes one
// raw input, runs it through the module and returns an empty text when every
// property held, or a description of the first one broken. The fuzz targets
// abort on a description; the regression test replays the saved inputs
// through the same checks, so both judge an input the same way.
#ifndef FUZZCHECKS_H_
#define FUZZCHECKS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// The inputs are bytes, the parsers read zero-terminated texts: the text is
// what comes before the first zero byte.
inline std::string textBeforeFirstZero(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return std::string();
    }
    const void *zero = memchr(data, 0, size);
    const size_t length = zero == nullptr ? size : static_cast<size_t>(static_cast<const uint8_t *>(zero) - data);
    return std::string(reinterpret_cast<const char *>(data), length);
}

// One Intel HEX record line (the input up to its first zero byte) through
// every record reader and the two hex text decoders.
std::string checkHexRecord(const uint8_t *data, size_t size);

// A whole text (up to its first zero byte) through the flattener. Needs the
// program buffers allocated (allocateProgramBuffers) and prints on stdout.
std::string checkFlatten(const uint8_t *data, size_t size);

// The first two bytes (little endian, modulo the rest's length plus 8) are the
// capacity given to the decoder; the rest is decoded as a text, and
// round-tripped through the encoder as data.
std::string checkBase64(const uint8_t *data, size_t size);

// A reply to the version query (up to its first zero byte) through the reply
// parser, as received and with its line ends replaced as the driver does.
std::string checkVersionReply(const uint8_t *data, size_t size);

#endif
