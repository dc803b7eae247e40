#include "FlattenFile.h"

#include "ImageFlattening.h"
#include "ProgramState.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The whole file as a writable, zero-terminated text with guard bytes behind
// it, as the flattener needs; null after a message.
char *readTextFile(const char *path)
{
    FILE *in = fopen(path, "rb");
    if (in == nullptr) {
        fprintf(stderr, "ERROR: cannot open %s: %s\n", path, strerror(errno));
        return nullptr;
    }
    char *text = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    for (;;) {
        if (capacity - size < 65536) {
            capacity = capacity * 2 + 65536 + BUFFER_GUARD_SIZE;
            char *grown = static_cast<char *>(realloc(text, capacity));
            if (grown == nullptr) {
                fprintf(stderr, "ERROR: %s is too large to read\n", path);
                free(text);
                fclose(in);
                return nullptr;
            }
            text = grown;
        }
        const size_t got = fread(text + size, 1, capacity - size - BUFFER_GUARD_SIZE, in);
        size += got;
        if (got == 0) {
            break;
        }
    }
    const bool failed = ferror(in) != 0;
    fclose(in);
    if (failed) {
        fprintf(stderr, "ERROR: cannot read %s\n", path);
        free(text);
        return nullptr;
    }
    memset(text + size, 0, BUFFER_GUARD_SIZE);
    if (memchr(text, '\0', size) != nullptr) {
        fprintf(stderr, "ERROR: %s holds a zero byte: not an Intel HEX text\n", path);
        free(text);
        return nullptr;
    }
    return text;
}

int writeImage(const char *path, const uint8_t *image, int length)
{
    FILE *out = fopen(path, "wb");
    if (out == nullptr) {
        fprintf(stderr, "ERROR: cannot create %s: %s\n", path, strerror(errno));
        return 1;
    }
    const size_t written = fwrite(image, 1, static_cast<size_t>(length), out);
    const bool closed = fclose(out) == 0;
    if (written != static_cast<size_t>(length) || !closed) {
        fprintf(stderr, "ERROR: cannot write %s\n", path);
        remove(path);
        return 1;
    }
    return 0;
}

}  // namespace

int flattenHexFile(const char *inPath, const char *outPath)
{
    char *text = readTextFile(inPath);
    if (text == nullptr) {
        return 1;
    }
    const BOOL valid = ValidateFwAndConcatenateData(text);
    free(text);
    if (!valid) {
        fprintf(stderr, "ERROR: %s is not a valid Intel HEX text; nothing written\n", inPath);
        return 1;
    }
    return writeImage(outPath, gDataConcatenated, gDataConcatenatedLenght);
}
