#include "SimConsole.h"

#include "SimEvents.h"

#include "KeyPress.h"

#include <algorithm>
#include <cstdio>

namespace {

FILE *realStdout = nullptr;
FILE *realStdin = nullptr;
std::string captured;
std::string inputText;
size_t inputPosition = 0;
int keyWaits = 0;

ssize_t captureWrite(void *, const char *buffer, size_t size)
{
    captured.append(buffer, size);
    simEvents_record(SimEventKind::Console, 0, std::string(buffer, size));
    return static_cast<ssize_t>(size);
}

ssize_t inputRead(void *, char *buffer, size_t size)
{
    const size_t count = std::min(size, inputText.size() - inputPosition);
    inputText.copy(buffer, count, inputPosition);
    inputPosition += count;
    return static_cast<ssize_t>(count);
}

}  // namespace

void simConsole_begin(const std::string &input)
{
    simConsole_end();
    captured.clear();
    keyWaits = 0;
    inputText = input;
    inputPosition = 0;
    fflush(stdout);
    realStdout = stdout;
    realStdin = stdin;
    cookie_io_functions_t functions{};
    functions.write = captureWrite;
    stdout = fopencookie(nullptr, "w", functions);
    setvbuf(stdout, nullptr, _IONBF, 0);
    cookie_io_functions_t reader{};
    reader.read = inputRead;
    stdin = fopencookie(nullptr, "r", reader);
}

void simConsole_end()
{
    if (realStdout != nullptr) {
        fclose(stdout);
        stdout = realStdout;
        realStdout = nullptr;
    }
    if (realStdin != nullptr) {
        if (stdin != nullptr) {
            fclose(stdin);
        }
        stdin = realStdin;
        realStdin = nullptr;
    }
}

namespace {

FILE *suspendedStdout = nullptr;

}  // namespace

void simConsole_suspend()
{
    if (realStdout != nullptr && suspendedStdout == nullptr) {
        suspendedStdout = stdout;
        stdout = realStdout;
    }
}

void simConsole_resume()
{
    if (suspendedStdout != nullptr) {
        fflush(stdout);
        stdout = suspendedStdout;
        suspendedStdout = nullptr;
    }
}

std::string simConsole_text()
{
    return captured;
}

int simConsole_keyWaits()
{
    return keyWaits;
}

int readSingleKey(void)
{
    ++keyWaits;
    simEvents_record(SimEventKind::KeyWait, 0, "");
    return '\r';
}
