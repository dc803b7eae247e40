// The JSON objects of scan and update. Their field names are an interface:
// scripts rely on them.
#ifndef UNITJSON_H_
#define UNITJSON_H_

#include "unit/UnitFacts.h"

#include <string>

// {"units":[{"port":4,"baud":9600,"product":"TX","firmware":"1.00.04",
//  "fpga":"SDI6G 1.04","device":1,"current":false}],"busy":[6]}
std::string scanJson(const ScanResult &scan);
// {"port":4,"baud":9600,"result":"confirmed","exit":0,"seconds":190.2,
//  "log":"update.log"}, then product, firmware, fpga and device as far as
// the update learnt them. What is not known is null.
std::string updateJson(const UpdateOutcome &outcome);

#endif
