#include "ProgramState.h"

int main()
{
    if (!allocateProgramBuffers()) {
        return -1;
    }
    releaseProgramBuffers();
    return 0;
}
