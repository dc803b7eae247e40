// The JSON objects of scan and update. Their field names are an interface:
// scripts rely on them.
#ifndef UNITJSON_H_
#define UNITJSON_H_

#include "unit/ScanResult.h"
#include "unit/UnitFacts.h"

#include <nlohmann/json.hpp>

#include <string>

// {"port":4,"baud":9600,"product":"TX","firmware":"1.00.04","fpga":"SDI6G 1.04",
//  "device":1,"current":false}: a unit as the scan reports it.
nlohmann::ordered_json scannedUnitObject(const ScannedPort &unit);
// {"units":[{"port":4,"baud":9600,"product":"TX","firmware":"1.00.04",
//  "fpga":"SDI6G 1.04","device":1,"current":false}],"busy":[6]}, and
// "held_by":[{"port":6,"pid":1234,"program":"cat"}] when any holder is known.
std::string scanJson(const ScanResult &scan);
// Adds the ports of a scan's JSON object (a worker's answer) to `scan`, in
// port order; false, with `scan` untouched, when the text is no such object.
bool addScanJson(const std::string &text, ScanResult &scan);
// {"port":4,"baud":9600,"result":"confirmed","exit":0,"seconds":190.2,
//  "log":"update.log"}, then product, firmware, fpga and device as far as
// the update learnt them, and the reason of a failure when there is one.
// What is not known is null.
std::string updateJson(const UpdateOutcome &outcome);

#endif
