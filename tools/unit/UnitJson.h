// The JSON objects of scan and update. Their field names are an interface:
// scripts rely on them.
#ifndef UNITJSON_H_
#define UNITJSON_H_

#include "unit/ScanResult.h"
#include "unit/UnitFacts.h"

#include <nlohmann/json.hpp>

#include <string>

// The one way the tool writes a JSON object: one line, and never a failure,
// whatever bytes a unit put into its texts (what is not UTF-8 becomes
// U+FFFD).
std::string jsonText(const nlohmann::ordered_json &object);
// A run that did not succeed for a reason of its own (not one unit's): adds
// "result" and "error", why, when there is an error to tell.
void addFailure(nlohmann::ordered_json &object, ToolOutcome result, const std::string &error);

// "port" (the COM number, null for a device reached by its path) and "path"
// (the device it leads to, null when not known): how every object names its
// port.
void addPort(nlohmann::ordered_json &object, int port, const std::string &path);

// {"port":4,"baud":9600,"product":"TX","firmware":"1.00.04","fpga":"SDI6G 1.04",
//  "device":1,"current":false}: a unit as the scan reports it.
nlohmann::ordered_json scannedUnitObject(const ScannedPort &unit);
// {"units":[{"port":4,"baud":9600,"product":"TX","firmware":"1.00.04",
//  "fpga":"SDI6G 1.04","device":1,"current":false}],"busy":[6]}, and
// "held_by":[{"port":6,"pid":1234,"program":"cat"}] when any holder is known,
// then "ports":[{"port":1,"path":"/dev/ttyS0","reason":"absent","phase":"search"}], every port
// that gave no unit (absent, silent or busy); a scan that did not succeed
// adds "result" and "error", why.
std::string scanJson(const ScanResult &scan, const std::string &error = "", ToolOutcome result = ToolOutcome::Failed);
// Adds the ports of a scan's JSON object (a worker's answer) to `scan`, in
// port order; false, with `scan` untouched, when the text is no such object.
bool addScanJson(const std::string &text, ScanResult &scan);
// {"port":4,"baud":9600,"result":"confirmed","exit":0,"seconds":190.2,
//  "log":"update.log"}, then product, firmware, fpga and device as far as
// the update learnt them, with "firmware_before" (the same as "firmware") and
// "firmware_after" (as the unit reported it when read back, or still runs it
// when left alone; null when not known), then "reason" and "phase" (null for
// a confirmed unit). What is not known is null. An update that did not
// succeed adds "error", why, and "advice", what to do next; a log that lost
// lines "log_error", why.
std::string updateJson(const UpdateOutcome &outcome);

#endif
