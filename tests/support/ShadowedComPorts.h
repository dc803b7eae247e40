// The COM ports a search walks, shadowed in a folder: FOLDER/dosdevices/com1
// to com32 as links to nothing, so that a program run from FOLDER never falls
// through to the machine's own /dev/ttyS ports. An emulated unit started with
// --dir FOLDER replaces the link of the port it serves.
#ifndef TESTS_SHADOWEDCOMPORTS_H_
#define TESTS_SHADOWEDCOMPORTS_H_

#include <string>

constexpr int SEARCHED_COM_PORTS = 32;

// Where a shadowed port's link leads: nowhere.
extern const char *const NO_PORT_TARGET;

std::string comPortLink(const std::string &folder, int com);

// Makes FOLDER/dosdevices and its 32 links; false when any cannot be made.
bool shadowComPorts(const std::string &folder);

// Points one port's link at `target` (a pseudo-terminal) instead of nowhere.
bool linkComPort(const std::string &folder, int com, const std::string &target);

#endif
