#include "fleet/UnitBoard.h"

#include "fleet/UpdateAllReport.h"

#include <algorithm>
#include <ctime>
#include <map>

namespace {

// What each line last showed: the redraw compares whole texts, plain lines
// compare the phase, the tens of percent and the result.
struct ShownLine {
    std::string text;
    UpdatePhase phase;
    int tens;
    ToolOutcome result;
};

FILE *g_stream = stdout;
bool g_redraw = false;
std::vector<ShownLine> g_shown;
// The path column is as wide as the longest path of the units.
int g_pathWidth = 0;

std::string withoutTrailingBlanks(const std::string &text)
{
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// What the scan found, "?" where it learnt nothing.
const char *shownText(const std::string &text)
{
    return text.empty() ? "?" : text.c_str();
}

void fitPathColumn(const std::vector<UnitRun> &units)
{
    g_pathWidth = PATH_COLUMN_WIDTH;
    for (const UnitRun &unit : units) {
        g_pathWidth = std::max(g_pathWidth, static_cast<int>(std::string(shownText(unit.found.path)).size()));
    }
}

// "COM5    /dev/pts/3", with "-" for the port of a device reached by path.
std::string portColumns(const UnitRun &unit)
{
    const std::string port = unit.found.port != 0 ? portLabel(unit.found.port, "") : "-";
    char columns[512];
    snprintf(columns, sizeof columns, "%-7s %-*s", port.c_str(), g_pathWidth, shownText(unit.found.path));
    return columns;
}

void redrawAll(const std::vector<UnitRun> &units)
{
    bool changed = g_shown.size() != units.size();
    std::vector<ShownLine> lines;
    for (const UnitRun &unit : units) {
        lines.push_back({UnitBoard_LineText(unit), unit.progress.phase, 0, unit.result});
        changed = changed || g_shown[lines.size() - 1].text != lines.back().text;
    }
    if (!changed) {
        return;
    }
    // Back to the board's first line, then every line cleared and rewritten.
    if (!g_shown.empty()) {
        fprintf(g_stream, "\x1b[%zuA", g_shown.size());
    }
    for (const ShownLine &line : lines) {
        fprintf(g_stream, "\r\x1b[2K%s\n", line.text.c_str());
    }
    g_shown = lines;
}

// "12:04:31 ": when a plain line was printed, for whoever reads it later.
std::string timeOfDay(void)
{
    const std::time_t now = std::time(nullptr);
    char stamp[16] = "";
    std::strftime(stamp, sizeof stamp, "%H:%M:%S ", std::localtime(&now));
    return stamp;
}

void printChangedLines(const std::vector<UnitRun> &units)
{
    g_shown.resize(units.size(), {"", PHASE_SEARCH, -1, ToolOutcome::Running});
    for (size_t i = 0; i < units.size(); ++i) {
        const UnitRun &unit = units[i];
        ShownLine now = {UnitBoard_LineText(unit), unit.progress.phase, unit.progress.percentage / 10, unit.result};
        ShownLine &shown = g_shown[i];
        if (now.phase != shown.phase || now.tens != shown.tens || now.result != shown.result) {
            fprintf(g_stream, "%s%s\n", timeOfDay().c_str(), now.text.c_str());
            shown = now;
        }
    }
}

std::string summaryRow(const UnitRun &unit)
{
    char seconds[16] = "";
    if (isTimed(unit)) {
        snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
    }
    char row[1536];
    // The reason as the report gives it.
    const nlohmann::ordered_json reason = unitReport(unit)["reason"];
    snprintf(row, sizeof row, "%s %-7s %-9s %-9s %-12s %-12s %-16s %7s  %s", portColumns(unit).c_str(),
             shownText(unit.found.product), shownText(unit.found.firmware), shownText(unit.firmwareAfter),
             outcomeWord(unit.result), reason.is_string() ? reason.get<std::string>().c_str() : "",
             isFailure(unit.result) ? phaseName(unit.progress.phase) : "", seconds, unit.logPath.c_str());
    return row;
}

// Below the table: why no update ran for a unit, what to do next for each
// unit not updated, and how each dead worker ended with the end of its log.
void printFailureNotes(FILE *stream, const std::vector<UnitRun> &units)
{
    for (const UnitRun &unit : units) {
        const std::string port = portLabel(unit.found.port, unit.found.path);
        if (!unit.error.empty()) {
            fprintf(stream, "%s: %s\n", port.c_str(), unit.error.c_str());
        }
        const std::string advice = unitAdvice(unit);
        if (!advice.empty()) {
            fprintf(stream, "%s: next step: %s.\n", port.c_str(), advice.c_str());
        }
        if (unit.death.empty()) {
            continue;
        }
        fprintf(stream, "%s: the worker was %s; the end of its log:\n", port.c_str(), unit.death.c_str());
        for (const std::string &line : deathEvidence(unit)) {
            fprintf(stream, "  | %s\n", line.c_str());
        }
    }
}

}  // namespace

void UnitBoard_Begin(FILE *stream, bool redraw)
{
    g_stream = stream;
    g_redraw = redraw;
    g_shown.clear();
}

void UnitBoard_Show(const std::vector<UnitRun> &units)
{
    fitPathColumn(units);
    if (g_redraw) {
        redrawAll(units);
    } else {
        printChangedLines(units);
    }
    fflush(g_stream);
}

std::string UnitBoard_LineText(const UnitRun &unit)
{
    char line[1024];
    if (unit.result == ToolOutcome::Skipped) {
        snprintf(line, sizeof line, "%s %-3s runs %-16s %s", portColumns(unit).c_str(), shownText(unit.found.product),
                 shownText(unit.found.firmware), outcomeWord(unit.result));
        return line;
    }
    snprintf(line, sizeof line, "%s %-3s %-16s %3d%%  %s", portColumns(unit).c_str(), shownText(unit.found.product),
             phaseName(unit.progress.phase), unit.progress.percentage, outcomeWord(unit.result));
    return withoutTrailingBlanks(line);
}

void UnitBoard_PrintSummary(FILE *stream, const std::vector<UnitRun> &units, ToolOutcome outcome)
{
    fitPathColumn(units);
    fprintf(stream, "\n%-7s %-*s %-7s %-9s %-9s %-12s %-12s %-16s %7s  %s\n", "Port", g_pathWidth, "Path", "Product",
            "Before", "After", "Result", "Reason", "Left in", "Seconds", "Log");
    std::map<std::string, int> counts;
    for (const UnitRun &unit : units) {
        fprintf(stream, "%s\n", withoutTrailingBlanks(summaryRow(unit)).c_str());
        ++counts[outcomeWord(unit.result)];
    }
    printFailureNotes(stream, units);
    fprintf(stream, "\nExit status %d:", exitStatus(outcome));
    const char *separator = " ";
    for (const auto &[result, count] : counts) {
        fprintf(stream, "%s%d %s", separator, count, result.c_str());
        separator = ", ";
    }
    fprintf(stream, "%s\n", units.empty() && outcome == ToolOutcome::NoUnit ? " no unit answered." : ".");
    fflush(stream);
}
