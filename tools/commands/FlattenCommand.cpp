// flatten IN OUT: an Intel HEX file into a binary image, with one line that
// says what was written; the flattener's own notes only with -v.
#include "commands/Commands.h"

#include "commands/HexTextEnd.h"
#include "console/ToolConsole.h"

#include "base/ProgramState.h"
#include "image/ImageFlattening.h"
#include "platform/LargeBuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// Whether both paths lead to one file, through another spelling or a link:
// writing the image there would destroy the text while it is being read.
// Device and inode on POSIX, volume serial and file index on Windows.
bool sameFile(const char *inPath, const char *outPath)
{
    std::error_code absent;
    return std::filesystem::equivalent(inPath, outPath, absent);
}

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

// The line `at` lies on. The flattener has only turned the text's ':' into
// zeros, so its line ends are all still there: CR LF, LF or a lone CR.
int lineNumberAt(const char *text, const char *at)
{
    int line = 1;
    for (const char *c = text; c < at; ++c) {
        if (*c == '\n' || (*c == '\r' && c[1] != '\n')) {
            ++line;
        }
    }
    return line;
}

// One line: where the text went wrong and how.
void reportInvalidText(const char *inPath, const char *text)
{
    const char *record = flatteningFailedRecord();
    if (record == nullptr) {
        fprintf(stderr, "ERROR: %s: %s\n", inPath, flatteningFailure());
    } else {
        fprintf(stderr, "ERROR: %s line %d: %s\n", inPath, lineNumberAt(text, record), flatteningFailure());
    }
}

ToolOutcome writeImage(const char *path, const uint8_t *image, int length)
{
    FILE *out = fopen(path, "wb");
    if (out == nullptr) {
        fprintf(stderr, "ERROR: cannot create %s: %s\n", path, strerror(errno));
        return ToolOutcome::Failed;
    }
    const size_t written = fwrite(image, 1, static_cast<size_t>(length), out);
    const bool closed = fclose(out) == 0;
    if (written != static_cast<size_t>(length) || !closed) {
        fprintf(stderr, "ERROR: cannot write %s\n", path);
        remove(path);
        return ToolOutcome::Failed;
    }
    printf("%s: %d bytes, checksum %u\n", path, length, imageCheckSum(image, length));
    return ToolOutcome::Done;
}

// The flattener, with its console text kept off the console (where the
// console cannot be captured, the text is only shown).
BOOL flattenQuietly(char *text)
{
    const bool captured = toolConsole_begin(false, ConsoleText::Internal);
    const BOOL flattened = ValidateFwAndConcatenateData(text);
    if (captured) {
        toolConsole_end();
    }
    return flattened;
}

void reportEnd(const char *inPath, const HexTextEnd &end)
{
    if (end.line == 0) {
        fprintf(stderr, "ERROR: %s: %s\n", inPath, end.fault.c_str());
    } else {
        fprintf(stderr, "ERROR: %s line %d: %s\n", inPath, end.line, end.fault.c_str());
    }
}

ToolOutcome flattenText(const char *inPath, const char *outPath)
{
    char *text = readTextFile(inPath);
    if (text == nullptr) {
        return ToolOutcome::Failed;
    }
    // Read before the flattener takes the text apart; told only when the
    // records themselves are sound.
    const HexTextEnd end = hexTextEnd(text);
    ToolOutcome status = ToolOutcome::Failed;
    if (!flattenQuietly(text)) {
        reportInvalidText(inPath, text);
    } else if (!end.fault.empty()) {
        reportEnd(inPath, end);
    } else {
        status = writeImage(outPath, gDataConcatenated, gDataConcatenatedLenght);
    }
    freeLargeBuffer(text);
    return status;
}

}  // namespace

ToolOutcome flattenHexFile(const char *inPath, const char *outPath)
{
    if (sameFile(inPath, outPath)) {
        fprintf(stderr, "ERROR: %s is the input file %s itself; nothing written\n", outPath, inPath);
        return ToolOutcome::Failed;
    }
    // Only the image buffer is needed here, laid out as the program lays it:
    // the image space (the flattener fills it), then zeros.
    gDataConcatenated = static_cast<uint8_t *>(allocateLargeBuffer(CONCAT_BUFFER_SIZE + BUFFER_GUARD_SIZE));
    if (gDataConcatenated == nullptr) {
        fputs("ERROR: not enough memory\n", stderr);
        return ToolOutcome::Failed;
    }
    memset(gDataConcatenated + CONCAT_BUFFER_SIZE, 0, BUFFER_GUARD_SIZE);
    const ToolOutcome status = flattenText(inPath, outPath);
    freeLargeBuffer(gDataConcatenated);
    gDataConcatenated = nullptr;
    return status;
}
