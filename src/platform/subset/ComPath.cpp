#include "platform/subset/ComPath.h"

#include <cstring>

unsigned long subset_comPortNumber(LPCSTR path)
{
    static const char prefix[] = "\\\\.\\COM";
    if (path == nullptr || std::strncmp(path, prefix, sizeof prefix - 1) != 0) {
        return 0;
    }
    const char *digits = path + sizeof prefix - 1;
    if (*digits < '1' || *digits > '9') {
        return 0;
    }
    unsigned long n = 0;
    for (const char *c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || n > 99999999UL) {
            return 0;
        }
        n = n * 10 + static_cast<unsigned long>(*c - '0');
    }
    return n;
}
