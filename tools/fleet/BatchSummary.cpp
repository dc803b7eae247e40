#include "fleet/BatchSummary.h"

#include "unit/UnitJson.h"

#include <fstream>

namespace {

// The columns, each a field of the unit's object.
const char *const COLUMNS[] = {"port",   "path",   "product", "firmware_before", "firmware_after",
                               "result", "reason", "seconds", "log"};

// A field as a CSV value: quoted when it holds a comma, a quote or a line
// end, its quotes doubled.
std::string csvValue(const nlohmann::ordered_json &value)
{
    if (value.is_null()) {
        return "";
    }
    const std::string text = value.is_string() ? value.get<std::string>() : jsonText(value);
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

nlohmann::ordered_json fieldOf(const nlohmann::ordered_json &unit, const char *column)
{
    return unit.contains(column) ? unit[column] : nlohmann::ordered_json();
}

std::string row(const nlohmann::ordered_json &unit)
{
    std::string line;
    for (const char *column : COLUMNS) {
        line += (column == COLUMNS[0] ? "" : ",") + csvValue(fieldOf(unit, column));
    }
    return line + "\n";
}

// Empty when the whole text was written.
std::string writeFile(const std::string &path, const std::string &text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return file ? "" : path + " cannot be written";
}

}  // namespace

std::string batchSummaryCsv(const nlohmann::ordered_json &report)
{
    std::string csv;
    for (const char *column : COLUMNS) {
        csv += (column == COLUMNS[0] ? "" : ",") + std::string(column);
    }
    csv += "\n";
    if (report.contains("units") && report["units"].is_array()) {
        for (const nlohmann::ordered_json &unit : report["units"]) {
            csv += row(unit);
        }
    }
    return csv;
}

std::string writeBatchSummary(const std::string &folder, const nlohmann::ordered_json &report)
{
    const std::string json = writeFile(folder + "/summary.json", jsonText(report) + "\n");
    const std::string csv = writeFile(folder + "/summary.csv", batchSummaryCsv(report));
    return json.empty() ? csv : json;
}
