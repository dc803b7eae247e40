// The record an update of every attached unit leaves in its run's log
// folder: summary.json (the run's JSON object) and summary.csv (a row per
// unit), whether or not the run printed its JSON.
#ifndef BATCHSUMMARY_H_
#define BATCHSUMMARY_H_

#include <nlohmann/json.hpp>

#include <string>

// The CSV of a run's JSON object: a header row, then one row per unit of
// its "units", each column taken from the unit's field of that name (empty
// where the unit has none, or null).
std::string batchSummaryCsv(const nlohmann::ordered_json &report);

// Writes both files into `folder`; empty when both were written, otherwise
// why not.
std::string writeBatchSummary(const std::string &folder, const nlohmann::ordered_json &report);

#endif
