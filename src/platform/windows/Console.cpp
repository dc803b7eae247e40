// Console pieces of the Windows platform: output that is seen at once and
// holds exactly the bytes printed, and a single-key read that can never hold
// a scripted run.
#include "platform/KeyPress.h"

#include <windows.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

struct ConsoleOutput {
    ConsoleOutput()
    {
        // The texts carry their own "\r"; text mode would add another before
        // every "\n", and the transcript would differ from the Linux one.
        _setmode(_fileno(stdout), _O_BINARY);
        // Every text must be on screen before the blocking call that follows it.
        setvbuf(stdout, nullptr, _IONBF, 0);
    }
} consoleOutput;

// A pipe or a file is no keyboard: take a byte only when one is there without
// waiting, so a script that feeds the program can never hang it.
int readWaitingByte(HANDLE input)
{
    switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return 0;
        }
        break;
    }
    case FILE_TYPE_DISK:
        // A file never blocks; at its end getchar says so at once.
        break;
    default:
        // NUL gives nothing anyway, and another device (a serial line) might block.
        return 0;
    }
    const int c = getchar();
    return c == EOF ? 0 : c;
}

}  // namespace

int readSingleKey(void)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {
        return readWaitingByte(input);
    }
    const int key = _getch();
    // Arrows and function keys come as two codes; take both so the second is
    // not left behind for whatever reads the console next.
    if (key == 0 || key == 0xE0) {
        _getch();
    }
    return key;
}
