#include "FlattenFile.h"

#include "LargeBuffer.h"
#include "base/ProgramState.h"
#include "image/ImageFlattening.h"

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
    // One block of the file's size: a text of any size memory allows.
    long size = -1;
    if (fseek(in, 0, SEEK_END) == 0) {
        size = ftell(in);
        rewind(in);
    }
    char *text =
        size < 0 ? nullptr : static_cast<char *>(allocateLargeBuffer(static_cast<size_t>(size) + BUFFER_GUARD_SIZE));
    if (text == nullptr) {
        fprintf(stderr, "ERROR: cannot read %s%s\n", path, size < 0 ? ": not a regular file" : ": too large");
        fclose(in);
        return nullptr;
    }
    const size_t got = fread(text, 1, static_cast<size_t>(size), in);
    const bool complete = got == static_cast<size_t>(size) && ferror(in) == 0;
    fclose(in);
    if (!complete) {
        fprintf(stderr, "ERROR: cannot read %s\n", path);
        freeLargeBuffer(text);
        return nullptr;
    }
    memset(text + size, 0, BUFFER_GUARD_SIZE);
    if (memchr(text, '\0', static_cast<size_t>(size)) != nullptr) {
        fprintf(stderr, "ERROR: %s holds a zero byte: not an Intel HEX text\n", path);
        freeLargeBuffer(text);
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
    // Only the image buffer is needed here, laid out as the program lays it:
    // the image space, then zeros.
    gDataConcatenated = static_cast<uint8_t *>(allocateLargeBuffer(CONCAT_BUFFER_SIZE + BUFFER_GUARD_SIZE));
    if (gDataConcatenated == nullptr) {
        fputs("ERROR: not enough memory\n", stderr);
        return 1;
    }
    memset(gDataConcatenated + CONCAT_BUFFER_SIZE, 0, BUFFER_GUARD_SIZE);
    char *text = readTextFile(inPath);
    int status = 1;
    if (text != nullptr) {
        const BOOL valid = ValidateFwAndConcatenateData(text);
        freeLargeBuffer(text);
        if (valid) {
            status = writeImage(outPath, gDataConcatenated, gDataConcatenatedLenght);
        } else {
            fprintf(stderr, "ERROR: %s is not a valid Intel HEX text; nothing written\n", inPath);
        }
    }
    freeLargeBuffer(gDataConcatenated);
    gDataConcatenated = nullptr;
    return status;
}
