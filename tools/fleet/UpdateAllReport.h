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

// A unit that neither confirmed, nor took both images, nor was left alone
// as current has failed (an unfinished one included).
bool isFailure(ToolOutcome result);

// Why the unit was not updated: the supervisor's knowledge first (a dead,
// ended or unstarted worker, a failed scan), else the worker's own word;
// None for a unit confirmed or left alone.
UnitReason reasonOf(const UnitRun &unit, const nlohmann::ordered_json &workerObject);
// The next step for the unit; empty when none is needed.
std::string unitAdvice(const UnitRun &unit);
// A worker that ended without its verdict (killed, crashed, ended by the
// system) gets one in its log, written by the supervisor.
void addMissingVerdict(const UnitRun &unit);

// Whether the unit had an update of its own whose time means something: not
// one left alone, nor one no update worker ran for.
bool isTimed(const UnitRun &unit);

// The worker's JSON object with what the supervisor knows added: port, rate,
// what the scan found of product and versions (the firmware before, and the
// firmware after as the worker read it back), the reason, the phase and the
// advice for a unit not updated, and for a worker that died, how, with the
// last lines of its log (or of its console text); for a
// unit no update worker ran for, the reason.
nlohmann::ordered_json unitReport(const UnitRun &unit);

nlohmann::ordered_json updateAllReport(const std::vector<UnitRun> &units, const std::vector<int> &busy,
                                       ToolOutcome outcome, double seconds);

// NoUnit when no unit answered, Failed when any failed, Unconfirmed when
// some were not confirmed by the unit's closing text, Confirmed when every
// unit confirmed or was left alone as current.
ToolOutcome updateAllOutcome(const std::vector<UnitRun> &units);

// The lines a dead worker is reported with: the end of its log, or of its
// console text when the log holds nothing.
std::vector<std::string> deathEvidence(const UnitRun &unit);

#endif
