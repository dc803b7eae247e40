// Console pieces of the POSIX platform: output that is seen at once, and a
// single-key read that can never hold a scripted run.
#include "platform/KeyPress.h"

#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace {

// Every text must be on screen before the blocking call that follows it.
struct UnbufferedOutput {
    UnbufferedOutput() { setvbuf(stdout, nullptr, _IONBF, 0); }
} unbufferedOutput;

}  // namespace

int readSingleKey(void)
{
    // A pipe or a file is no keyboard: nobody is there to press a key.
    if (!isatty(STDIN_FILENO)) {
        return 0;
    }
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        return 0;
    }
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    unsigned char key = 0;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return got == 1 ? key : 0;
}
