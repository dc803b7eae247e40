#include "FuzzChecks.h"
#include "FuzzMain.h"

#include "base/ProgramState.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The flattener reports every rejected line on stdout; printing them
    // would cost more than the parsing. libFuzzer reports on stderr.
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        perror("freopen /dev/null");
    }
    if (!allocateProgramBuffers()) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    failOnProblem(checkFlatten(data, size));
    return 0;
}
