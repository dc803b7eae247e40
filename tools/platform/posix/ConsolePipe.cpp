#include "platform/ConsolePipe.h"

#include <fcntl.h>
#include <unistd.h>

bool consolePipe_create(int fds[2])
{
    return pipe2(fds, O_CLOEXEC) == 0;
}

void consolePipe_binaryOutput(int) {}

void consolePipe_notInherited(int fd)
{
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}
