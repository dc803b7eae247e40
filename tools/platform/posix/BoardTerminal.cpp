#include "platform/BoardTerminal.h"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

bool BoardTerminal_CanRedraw(FILE *stream)
{
    const char *term = getenv("TERM");
    return isatty(fileno(stream)) && term != nullptr && strcmp(term, "dumb") != 0;
}
