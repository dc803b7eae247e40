// The outcome of an update of every attached unit: each unit's result from
// how its worker ended, the JSON object of the whole run, and its exit
// status.
#ifndef UPDATEALLREPORT_H_
#define UPDATEALLREPORT_H_

#include "fleet/UnitRun.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// How many lines of a dead worker's log the report shows.
#define LOG_LINES_SHOWN 5

// Sets the unit's result once its worker has ended: from the worker's own
// JSON object, else from its exit status; a worker that died has failed.
void concludeUnit(UnitRun &unit);

// The worker's JSON object with what the supervisor knows added: port, rate,
// product, the phase an unfinished update was left in, and for a worker that
// died, how, with the last lines of its log (or of its console text).
nlohmann::ordered_json unitReport(const UnitRun &unit);

nlohmann::ordered_json updateAllReport(const std::vector<UnitRun> &units, const std::vector<int> &busy, int exitCode,
                               double seconds);

// 4 when no unit answered, 1 when any failed, 3 when some were not
// confirmed by the unit's closing text, 0 when every unit confirmed or was
// left alone as current.
int updateAllExitCode(const std::vector<UnitRun> &units);

// The lines a dead worker is reported with: the end of its log, or of its
// console text when the log holds nothing.
std::vector<std::string> deathEvidence(const UnitRun &unit);

#endif
