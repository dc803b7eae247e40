#include "unit/PortName.h"

#include "platform/SerialDevice.h"
#include "serial/ComPortAPI.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

// Where the devices a path may name live.
const char *const DEVICE_FOLDER = "/dev/";

// The prefixes a COM number may follow, compared without case.
const char *const COM_PREFIXES[] = {"\\\\.\\COM", "COM"};

bool startsWithNoCase(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
           });
}

// The number after a COM prefix, or the text as it is.
std::string comNumberText(const std::string &text)
{
    for (const std::string prefix : COM_PREFIXES) {
        if (startsWithNoCase(text, prefix)) {
            return text.substr(prefix.size());
        }
    }
    return text;
}

bool isDevicePath(const std::string &text)
{
    const std::string folder = DEVICE_FOLDER;
    return text.size() > folder.size() && text.compare(0, folder.size(), folder) == 0;
}

}  // namespace

PortTarget deviceTarget(const std::string &path)
{
    PortTarget port;
    port.device = path;
    return port;
}

bool parsePortNumber(const std::string &text, int *port)
{
    // from_chars takes no blank, no "+" and no base prefix; a "-" gives a
    // number below the range.
    int value = 0;
    const char *end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    if (read.ec != std::errc() || read.ptr != end || value < 1 || value > SCAN_HIGHEST_PORT) {
        return false;
    }
    *port = value;
    return true;
}

bool parsePortRange(const std::string &text, int *first, int *last)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return parsePortNumber(text, first) && parsePortNumber(text, last);
    }
    return parsePortNumber(text.substr(0, dash), first) && parsePortNumber(text.substr(dash + 1), last) &&
           *first <= *last;
}

bool parsePortName(const std::string &text, PortTarget *port)
{
    if (isDevicePath(text)) {
        *port = deviceTarget(text);
        return true;
    }
    int number = 0;
    if (!parsePortNumber(comNumberText(text), &number)) {
        return false;
    }
    *port = PortTarget(number);
    return true;
}

std::string portLabel(int port, const std::string &path)
{
    return port != 0 ? "COM" + std::to_string(port) : path;
}

std::string portArgument(int port, const std::string &path)
{
    return port != 0 ? std::to_string(port) : path;
}

std::string portPath(const PortTarget &port)
{
    char name[COM_PATH_SIZE];
    if (port == PortTarget()) {
        return "";
    }
    if (port.number == 0) {
        return SerialDevice_PathOf(port.device.c_str());
    }
    return ComPortAPI_ComName(port.number, name) ? SerialDevice_PathOf(name) : "";
}

bool portBefore(int portA, const std::string &pathA, int portB, const std::string &pathB)
{
    // Port 0, a device reached by path, comes after every COM port.
    const unsigned a = static_cast<unsigned>(portA - 1), b = static_cast<unsigned>(portB - 1);
    return a != b ? a < b : pathA < pathB;
}

std::vector<PortTarget> comPorts(int first, int last)
{
    std::vector<PortTarget> ports;
    for (int port = first; port <= last; ++port) {
        ports.emplace_back(port);
    }
    return ports;
}

std::vector<PortTarget> portsSelected(const PortSelection &selection)
{
    std::vector<PortTarget> ports =
        selection.adaptersOnly ? std::vector<PortTarget>{} : comPorts(selection.firstPort, selection.lastPort);
    std::vector<std::string> adapters;
    SerialDevice_ListAdapters(&adapters);
    for (const std::string &path : adapters) {
        ports.push_back(deviceTarget(path));
    }
    return ports;
}

bool adaptersListed(void)
{
    std::vector<std::string> adapters;
    return SerialDevice_ListAdapters(&adapters) != FALSE;
}
