#include "platform/posix/DevicePath.h"

#include <cstdio>

#include <sys/stat.h>

bool posix_comDevicePath(unsigned long n, char *out, std::size_t size)
{
    // Room for any unsigned long, though port numbers stop at nine digits.
    char local[40];
    std::snprintf(local, sizeof local, "dosdevices/com%lu", n);
    struct stat entry {};
    const int length = lstat(local, &entry) == 0 ? std::snprintf(out, size, "%s", local)
                                                 : std::snprintf(out, size, "/dev/ttyS%lu", n - 1);
    return length > 0 && static_cast<std::size_t>(length) < size;
}
