#include "SimEvents.h"

#include <windows.h>

// A pause costs no real time: the virtual clock moves on.
void Sleep(DWORD dwMilliseconds)
{
    simEvents_record(SimEventKind::Sleep, 0, std::to_string(dwMilliseconds));
    simClock_advanceUs(static_cast<int64_t>(dwMilliseconds) * 1000);
}
