// product tx|rx: finds the unit and checks its product identity.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"

#include "base/EscapedBytes.h"
#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/ProductCheck.h"
#include "serial/ComPortAPI.h"

#include <cstdio>
#include <cstring>

namespace {

// What the unit said it is: the closing line, whichever product was asked.
std::string whatTheUnitSaid(const char *reply)
{
    if (reply[0] == '\0') {
        return "\r\nThe unit did not answer \"" PRODUCT_QUERY_COMMAND "\".\r\n";
    }
    std::string said = "\r\nThe unit answered \"" + escapedBytes(reply, UPDATE_LOG_TEXT_LIMIT) + "\"";
    for (ImageIndex index : FPGA_IMAGES) {
        if (strcmp(reply, IMAGE_CATALOGUE[index].productIdentity) == 0) {
            said += std::string(": it is a ") + IMAGE_CATALOGUE[index].variant + " unit";
        }
    }
    return said + ".\r\n";
}

ToolOutcome checkProduct(bool transmitter, UnitChoice unit)
{
    if (!findUnitOrSayWhy(unit.port, unit.baud)) {
        return ToolOutcome::NoUnit;
    }
    const ImageIndex asked = transmitter ? IMAGE_TX_FPGA : IMAGE_RX_FPGA;
    const BOOL matches = validateProductId(IMAGE_CATALOGUE[asked].productIdentity);
    if (matches) {
        ComPortAPI_CloseCOM();
    }
    printf("%s", whatTheUnitSaid(productIdReported()).c_str());
    return matches ? ToolOutcome::Done : ToolOutcome::Failed;
}

}  // namespace

ToolOutcome runProductCheck(bool transmitter, UnitChoice unit)
{
    if (!toolConsole_begin(false)) {
        fprintf(stderr, "ERROR: %s\n", toolConsole_whyNot().c_str());
        return ToolOutcome::Failed;
    }
    const ToolOutcome outcome = checkProduct(transmitter, unit);
    toolConsole_end();
    return outcome;
}
