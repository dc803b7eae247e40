// The console view of an update of every attached unit: one line per unit
// (port, product, phase, percentage, result) while the workers run, then a
// summary table.
#ifndef UNITBOARD_H_
#define UNITBOARD_H_

#include "fleet/UnitRun.h"

#include <cstdio>
#include <string>
#include <vector>

// Begins the board on `stream`. redraw: the lines are drawn once and then
// rewritten in place (a terminal); otherwise a unit's line is printed again
// at each phase change, every ten percent and at its result.
void UnitBoard_Begin(FILE *stream, bool redraw);

// Shows the units as they stand now.
void UnitBoard_Show(const std::vector<UnitRun> &units);

std::string UnitBoard_LineText(const UnitRun &unit);

// The table of every unit's result, where an unfinished one was left, its
// time and its log; below it how each dead worker ended and the end of its
// log; then the exit status of the whole run.
void UnitBoard_PrintSummary(FILE *stream, const std::vector<UnitRun> &units, ToolOutcome outcome);

#endif
