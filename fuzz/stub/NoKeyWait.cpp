// Fuzz build only: nobody presses keys during a campaign.
#include "KeyPress.h"

int readSingleKey(void)
{
    return 0;
}
