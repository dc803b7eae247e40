#include "channel/ProductCheck.h"

#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstdio>

namespace {

char g_productReply[PRODUCT_REPLY_KEPT] = "";

}  // namespace

const char *productIdReported(void)
{
    return g_productReply;
}

BOOL validateProductId(const char *productIdStringToCompare)
{
    printf("Checking product ...");
    g_productReply[0] = '\0';
    // One query, and its whole reply compared.
    if (!writeCommandLine(PRODUCT_QUERY_COMMAND, FALSE)) {
        dipsplayLastMessageToUserBeforeExit("FAILED [Error occurred when sending data !]\r\n");
        ComPortAPI_CloseCOM();
        return FALSE;
    }
    snprintf(g_productReply, sizeof g_productReply, "%s", collectResponse(productIdStringToCompare, TRUE));
    if (responseMatches(productIdStringToCompare)) {
        printf("OK");
        return TRUE;
    }
    printf("FALIED");
    ComPortAPI_CloseCOM();
    return FALSE;
}
