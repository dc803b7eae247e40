// The switch alone, apart from the key wait it turns off: a program that only
// turns it off (the tool's supervisor) then links no console.
#include "base/ProgramState.h"

namespace {
BOOL g_keyWaitBeforeExit = TRUE;
}  // namespace

void setKeyWaitBeforeExit(BOOL wait)
{
    g_keyWaitBeforeExit = wait;
}

BOOL keyWaitBeforeExit(void)
{
    return g_keyWaitBeforeExit;
}
