// Fuzz build only: nobody presses keys during a campaign.
#include "platform/KeyPress.h"

int readSingleKey(void)
{
    return 0;
}
