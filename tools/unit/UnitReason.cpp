#include "unit/UnitReason.h"

#include <cstddef>
#include <cstring>
#include <iterator>

namespace {

struct ReasonRow {
    UnitReason reason;
    const char *word;
    // "{port}" stands for the port; "{holder}" for " (PID 1234 picocom)", or
    // nothing when the holder is not known.
    const char *advice;
};

// One row per reason, in the enum's order.
const ReasonRow REASONS[] = {
    {UnitReason::None, nullptr, ""},
    {UnitReason::Absent, "absent", "check the cable and the port name: {port} is not there"},
    {UnitReason::Busy, "busy", "close the program that holds {port}{holder}, then run the update again"},
    {UnitReason::Silent, "silent", "check that the unit is powered and connected to {port}"},
    // After a failed upload the unit waits for data and answers no probe
    // until it is power-cycled.
    {UnitReason::Refused, "refused", "power-cycle the unit, then run the update again"},
    {UnitReason::NoReply, "no-reply", "check the cable, power-cycle the unit, then run the update again"},
    {UnitReason::Stalled, "stalled", "check the cable and its handshake lines, power-cycle the unit, then run the update again"},
    {UnitReason::Lost, "lost", "check the cable and reconnect the unit, power-cycle it, then run the update again"},
    {UnitReason::Unconfirmed, "unconfirmed", "power-cycle the unit, check its firmware with scan, and update it again if it is not the new one"},
    {UnitReason::Interrupted, "interrupted", "power-cycle the unit, then run the update again"},
    {UnitReason::WorkerDied, "worker-died", "read the end of its log, power-cycle the unit, then run the update again"},
};

const char *const PHASES[] = {nullptr, "search", "identify", "fpga-upload", "firmware-upload", "reboot", "read-back"};

static_assert(std::size(REASONS) == static_cast<size_t>(UnitReason::WorkerDied) + 1, "one row per reason");
static_assert(std::size(PHASES) == static_cast<size_t>(UnitPhase::ReadBack) + 1, "one word per phase");

void replaceAll(std::string &text, const std::string &mark, const std::string &by)
{
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size())) {
        text.replace(at, mark.size(), by);
    }
}

}  // namespace

const char *reasonWord(UnitReason reason)
{
    return REASONS[static_cast<size_t>(reason)].word;
}

UnitReason reasonOfWord(std::string_view word)
{
    for (const ReasonRow &row : REASONS) {
        if (row.word != nullptr && word == row.word) {
            return row.reason;
        }
    }
    return UnitReason::None;
}

const char *phaseWord(UnitPhase phase)
{
    return PHASES[static_cast<size_t>(phase)];
}

UnitPhase phaseOfWord(std::string_view word)
{
    for (size_t i = 1; i < std::size(PHASES); ++i) {
        if (word == PHASES[i]) {
            return static_cast<UnitPhase>(i);
        }
    }
    return UnitPhase::None;
}

UnitPhase phaseOfStep(const char *step)
{
    if (step == nullptr) {
        return UnitPhase::None;
    }
    if (strncmp(step, "FPGA upload", strlen("FPGA upload")) == 0) {
        return UnitPhase::FpgaUpload;
    }
    return strncmp(step, "firmware upload", strlen("firmware upload")) == 0 ? UnitPhase::FirmwareUpload
                                                                             : UnitPhase::Identify;
}

std::string adviceLine(UnitReason reason, const std::string &port, const std::string &holder)
{
    std::string advice = REASONS[static_cast<size_t>(reason)].advice;
    replaceAll(advice, "{port}", port);
    replaceAll(advice, "{holder}", holder.empty() ? "" : " (" + holder + ")");
    return advice;
}
