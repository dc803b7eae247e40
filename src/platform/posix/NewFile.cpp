#include "platform/NewFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What already stands at the path, taken only when it is a character device,
// looked at before it is opened (a file is not even opened) and again after
// (it may have been replaced in between); O_NONBLOCK so that the open cannot
// wait for anything.
int existingDevice(const char *path)
{
    struct stat found {};
    const int fd = lstat(path, &found) == 0 && S_ISCHR(found.st_mode)
                       ? open(path, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)
                       : -1;
    if (fd >= 0 && fstat(fd, &found) == 0 && S_ISCHR(found.st_mode) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

FILE *NewFile_Open(const char *path)
{
    // O_EXCL alone already refuses a link, dangling or not; O_NOFOLLOW says so.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        fd = existingDevice(path);
    }
    if (fd < 0) {
        return nullptr;
    }
    FILE *file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int reason = errno;
        close(fd);
        errno = reason;
    }
    return file;
}
