#include "FuzzChecks.h"
#include "FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    failOnProblem(checkHexRecord(data, size));
    return 0;
}
