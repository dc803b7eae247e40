// Windows gives every serial adapter a COM number: a port's name is its
// device, and there is no list of adapters apart from the COM ports.
#include "platform/SerialDevice.h"

std::string SerialDevice_PathOf(LPCSTR name)
{
    return name;
}

BOOL SerialDevice_ListAdapters(std::vector<std::string> *paths)
{
    paths->clear();
    return FALSE;
}
