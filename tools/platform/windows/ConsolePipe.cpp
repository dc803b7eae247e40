#include "platform/ConsolePipe.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

bool consolePipe_create(int fds[2])
{
    return _pipe(fds, 64 * 1024, _O_BINARY | _O_NOINHERIT) == 0;
}

void consolePipe_binaryOutput(int fd)
{
    _setmode(fd, _O_BINARY);
}

void consolePipe_notInherited(int fd)
{
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), HANDLE_FLAG_INHERIT, 0);
}
