// Serial devices by the names the system gives them, for the tool: what a
// port leads to, and the adapters attached. A device path opens through
// CreateFileA as "\\.\COMn" does (include/windows.h), with the same exclusive
// open, holder, line settings and time-outs. Each platform provides it: the
// POSIX layer from the file system, the simulation from what a test set, and
// Windows, where every adapter has a COM number, names only "\\.\COMn".
#ifndef SERIALDEVICE_H_
#define SERIALDEVICE_H_

#include <windows.h>

#include <string>
#include <vector>

// The device a port name ("\\.\COMn" or a device path) leads to, as a person
// would look it up: on POSIX the device file at the end of every link (a
// link to nothing: its target; no link: the name itself), on Windows the
// name itself.
std::string SerialDevice_PathOf(LPCSTR name);

// The serial adapters attached (USB converters and modems: /dev/ttyUSB* and
// /dev/ttyACM*), in name order. FALSE when the system names no adapter apart
// from its COM ports (Windows).
BOOL SerialDevice_ListAdapters(std::vector<std::string> *paths);

#endif
