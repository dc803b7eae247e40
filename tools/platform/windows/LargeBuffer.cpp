#include "platform/LargeBuffer.h"

#include <cstdlib>

void *allocateLargeBuffer(size_t size)
{
    return malloc(size);
}

void freeLargeBuffer(void *block)
{
    free(block);
}
