#include "FuzzChecks.h"

#include "image/StringOperations.h"
#include "update/VersionReply.h"

#include <cctype>

namespace {

bool sameReply(const VersionReply &a, const VersionReply &b)
{
    return a.fw_ver == b.fw_ver && a.fw_rev == b.fw_rev && a.fw_sub == b.fw_sub && strcmp(a.model, b.model) == 0 &&
           a.fpga_ver == b.fpga_ver && a.fpga_rev == b.fpga_rev && a.fpga_type == b.fpga_type;
}

// What one parse must leave, whatever the text.
std::string checkOneParse(const std::string &text, int fields, const VersionReply &reply)
{
    if (fields < 0 || fields > 7) {
        return "parseVersionReply gave a field count outside 0..7";
    }
    if (memchr(reply.model, '\0', sizeof reply.model) == nullptr) {
        return "the model word is not zero-terminated within its 8 bytes";
    }
    // Fields are taken in order; one not reached keeps its initial value.
    const VersionReply initial;
    const int values[] = {reply.fw_ver, reply.fw_rev, reply.fw_sub};
    const int initialValues[] = {initial.fw_ver, initial.fw_rev, initial.fw_sub};
    for (int i = fields; i < 3; ++i) {
        if (values[i] != initialValues[i]) {
            return "a firmware field beyond the count taken was written";
        }
    }
    const size_t modelLength = strlen(reply.model);
    if (fields < 4 && modelLength != 0) {
        // A word too long is dropped whole, and the count stays at 3.
        return "a model word is kept although the count stops before it";
    }
    if (fields >= 4) {
        if (modelLength == 0 || modelLength > 7) {
            return "the model word is empty or longer than 7 characters";
        }
        for (size_t i = 0; i < modelLength; ++i) {
            if (isspace(static_cast<unsigned char>(reply.model[i]))) {
                return "the model word holds white space";
            }
        }
        if (text.find(reply.model) == std::string::npos) {
            return "the model word does not appear in the reply";
        }
    }
    if (fields < 5 && reply.fpga_ver != initial.fpga_ver) {
        return "the FPGA version was written although the count stops before it";
    }
    if (fields < 6 && reply.fpga_rev != initial.fpga_rev) {
        return "the FPGA revision was written although the count stops before it";
    }
    // The device code is only ever written as the seventh field, so with
    // fewer it stays -1 whatever the text (the driver reads -1 as "unknown").
    if (fields < 7 && reply.fpga_type != -1) {
        return "the FPGA device code is not -1 although fewer than 7 fields were taken";
    }
    return "";
}

}  // namespace

std::string checkVersionReply(const uint8_t *data, size_t size)
{
    const std::string text = textBeforeFirstZero(data, size);
    VersionReply raw;
    const int rawFields = parseVersionReply(text.c_str(), &raw);
    std::string problem = checkOneParse(text, rawFields, raw);
    if (!problem.empty()) {
        return problem;
    }

    // The driver turns line ends into spaces first; as they are white space
    // to the parser already, the reading must not change.
    std::string spaced = text;
    StrRemoveNL(spaced.data(), ' ');
    VersionReply driver;
    const int driverFields = parseVersionReply(spaced.c_str(), &driver);
    if (driverFields != rawFields || !sameReply(driver, raw)) {
        return "replacing the line ends by spaces changes the reading";
    }

    // Nor does any other white space (a unit may pad with tabs).
    std::string normalised = text;
    for (char &c : normalised) {
        if (isspace(static_cast<unsigned char>(c))) {
            c = ' ';
        }
    }
    VersionReply plain;
    const int plainFields = parseVersionReply(normalised.c_str(), &plain);
    if (plainFields != rawFields || !sameReply(plain, raw)) {
        return "replacing white space by spaces changes the reading";
    }
    return "";
}
