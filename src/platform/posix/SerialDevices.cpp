// Where a port name leads on a POSIX machine, and the adapters in /dev.
#include "platform/SerialDevice.h"

#include "platform/posix/DevicePath.h"
#include "platform/subset/ComPath.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace {

// Both kinds of USB serial adapter Linux names: converters and modems.
const char *const ADAPTER_PREFIXES[] = {"ttyUSB", "ttyACM"};

bool isAdapterName(const std::string &name)
{
    return std::any_of(std::begin(ADAPTER_PREFIXES), std::end(ADAPTER_PREFIXES),
                       [&name](const char *prefix) { return name.rfind(prefix, 0) == 0; });
}

// ttyUSB2 before ttyUSB10: the name, then its number.
bool inNameOrder(const std::string &a, const std::string &b)
{
    const size_t digitsA = a.find_last_not_of("0123456789") + 1;
    const size_t digitsB = b.find_last_not_of("0123456789") + 1;
    if (a.compare(0, digitsA, b, 0, digitsB) != 0) {
        return a.substr(0, digitsA) < b.substr(0, digitsB);
    }
    return a.size() - digitsA != b.size() - digitsB ? a.size() - digitsA < b.size() - digitsB : a < b;
}

}  // namespace

std::string SerialDevice_PathOf(LPCSTR name)
{
    char comPath[64];
    const unsigned long n = subset_comPortNumber(name);
    const char *path = name;
    if (n != 0 && posix_comDevicePath(n, comPath, sizeof comPath)) {
        path = comPath;
    }
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) {
        return resolved;
    }
    // A link to a device that is gone (an adapter unplugged) still names it.
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    return error ? path : target.string();
}

BOOL SerialDevice_ListAdapters(std::vector<std::string> *paths)
{
    paths->clear();
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (isAdapterName(name)) {
            paths->push_back(entry.path().string());
        }
    }
    std::sort(paths->begin(), paths->end(), inNameOrder);
    return TRUE;
}
