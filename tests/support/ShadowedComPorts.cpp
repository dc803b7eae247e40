#include "ShadowedComPorts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

const char *const NO_PORT_TARGET = "/nonexistent/orvane-no-port";

std::string comPortLink(const std::string &folder, int com)
{
    return folder + "/dosdevices/com" + std::to_string(com);
}

bool shadowComPorts(const std::string &folder)
{
    const std::string devices = folder + "/dosdevices";
    if (mkdir(devices.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    for (int com = 1; com <= SEARCHED_COM_PORTS; ++com) {
        if (symlink(NO_PORT_TARGET, comPortLink(folder, com).c_str()) != 0) {
            return false;
        }
    }
    return true;
}

bool linkComPort(const std::string &folder, int com, const std::string &target)
{
    const std::string link = comPortLink(folder, com);
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    return symlink(target.c_str(), link.c_str()) == 0;
}
