#include "channel/ProductCheck.h"

#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstdio>

BOOL validateProductId(const char *productIdStringToCompare)
{
    printf("Checking product ...");
    // One query, and its whole reply compared.
    if (!writeCommandLine(PRODUCT_QUERY_COMMAND, FALSE)) {
        dipsplayLastMessageToUserBeforeExit("FAILED [Error occurred when sending data !]\r\n");
        ComPortAPI_CloseCOM();
        return FALSE;
    }
    collectResponse(productIdStringToCompare, TRUE);
    if (responseMatches(productIdStringToCompare)) {
        printf("OK");
        return TRUE;
    }
    printf("FALIED");
    ComPortAPI_CloseCOM();
    return FALSE;
}
