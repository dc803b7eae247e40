#include "platform/NewFile.h"

#include <cerrno>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

FILE *NewFile_Open(const char *path)
{
    // _O_CREAT with _O_EXCL opens as CREATE_NEW: any name that stands
    // already, a link included, is refused with EEXIST.
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    FILE *file = _fdopen(fd, "wb");
    if (file == nullptr) {
        const int reason = errno;
        _close(fd);
        errno = reason;
    }
    return file;
}
