#include "platform/posix/PortHolders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Linux numbers the slaves of /dev/ptmx from major 136 on, 256 to a major,
// in 8 majors; /dev/ptmx itself is 5:2.
constexpr unsigned PTY_SLAVE_MAJOR = 136;
constexpr unsigned PTY_SLAVE_MAJORS = 8;

bool isPtyMaster(const struct stat &node)
{
    return major(node.st_rdev) == 5 && minor(node.st_rdev) == 2;
}

// The index N of the pseudo-terminal slave /dev/pts/N, or -1 for any other tty.
long ptyIndex(const struct stat &device)
{
    const unsigned m = major(device.st_rdev);
    if (m < PTY_SLAVE_MAJOR || m >= PTY_SLAVE_MAJOR + PTY_SLAVE_MAJORS) {
        return -1;
    }
    return static_cast<long>(m - PTY_SLAVE_MAJOR) * 256 + static_cast<long>(minor(device.st_rdev));
}

bool sameDevice(const struct stat &node, const struct stat &device, bool pty)
{
    // Each devpts instance (a container's) numbers its slaves afresh.
    return node.st_rdev == device.st_rdev && (!pty || node.st_dev == device.st_dev);
}

// Up to size - 1 bytes of a small file under a /proc/PID folder; "" when it
// cannot be read.
void readSmallFile(int pidDir, const char *path, char *text, size_t size)
{
    text[0] = '\0';
    const int fd = openat(pidDir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const ssize_t n = read(fd, text, size - 1);
    text[n > 0 ? n : 0] = '\0';
    close(fd);
}

// The pseudo-terminal a master fd belongs to, from its fdinfo
// ("tty-index:\tN"); -1 when it does not say.
long masterIndex(int pidDir, const char *fd)
{
    char path[64];
    char info[512];
    snprintf(path, sizeof path, "fdinfo/%s", fd);
    readSmallFile(pidDir, path, info, sizeof info);
    const char *field = strstr(info, "tty-index:");
    return field != nullptr ? strtol(field + strlen("tty-index:"), nullptr, 10) : -1;
}

struct FdsSeen {
    bool device = false;  // an fd on the port
    bool farEnd = false;  // an fd on the master of the port's pseudo-terminal
};

FdsSeen fdsOf(int pidDir, const struct stat &device, long index)
{
    FdsSeen seen;
    const int fdDir = openat(pidDir, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *fds = fdDir >= 0 ? fdopendir(fdDir) : nullptr;
    if (fds == nullptr) {
        if (fdDir >= 0) {
            close(fdDir);
        }
        return seen;
    }
    while (const dirent *entry = readdir(fds)) {
        struct stat node {};
        if (entry->d_name[0] == '.' || fstatat(fdDir, entry->d_name, &node, 0) != 0 || !S_ISCHR(node.st_mode)) {
            continue;
        }
        seen.device = seen.device || sameDevice(node, device, index >= 0);
        seen.farEnd = seen.farEnd || (index >= 0 && isPtyMaster(node) && masterIndex(pidDir, entry->d_name) == index);
    }
    closedir(fds);
    return seen;
}

bool isProcessId(const char *name)
{
    return name[0] != '\0' && strspn(name, "0123456789") == strlen(name);
}

void nameOf(int pidDir, PORT_HOLDER *holder)
{
    readSmallFile(pidDir, "comm", holder->name, sizeof holder->name);
    holder->name[strcspn(holder->name, "\n")] = '\0';
}

}  // namespace

bool posix_findPortHolder(const struct stat &device, PORT_HOLDER *holder)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    const long index = ptyIndex(device);
    const long self = static_cast<long>(getpid());
    bool found = false;
    while (const dirent *entry = found ? nullptr : readdir(proc)) {
        if (!isProcessId(entry->d_name) || atol(entry->d_name) == self) {
            continue;
        }
        const int pidDir = openat(dirfd(proc), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (pidDir < 0) {
            continue;
        }
        const FdsSeen seen = fdsOf(pidDir, device, index);
        found = seen.device && !seen.farEnd;
        if (found) {
            holder->processId = static_cast<DWORD>(atol(entry->d_name));
            nameOf(pidDir, holder);
        }
        close(pidDir);
    }
    closedir(proc);
    return found;
}
