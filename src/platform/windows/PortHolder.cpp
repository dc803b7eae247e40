#include "platform/PortHolder.h"

// Windows tells an ordinary program only that a COM port is in use, never by
// whom.
BOOL PortHolder_OfLastOpen(PORT_HOLDER *)
{
    return FALSE;
}
