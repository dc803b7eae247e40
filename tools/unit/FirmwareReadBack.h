// The proof of an update: the unit, back from its reboot, asked its versions
// again.
#ifndef FIRMWAREREADBACK_H_
#define FIRMWAREREADBACK_H_

#include "unit/UnitFacts.h"

#include <string>

// How many times the version query is asked before the unit is taken as
// silent; each waits one query read window, so a silent unit costs seconds.
#define READ_BACK_ATTEMPTS 3

// Asks the unit on the open port, at the rate it is set to, its versions;
// prints "Firmware before: 1.00.04, after: 1.00.05" and logs it. `after`
// gets the firmware the unit reports, empty when it gave no version reply.
ReadBack readBackFirmware(const UnitFacts &before, std::string *after);
// Why an update whose unit reports another firmware failed, in words.
std::string otherFirmwareText(const std::string &after);

#endif
