// Why a unit's run ended as it did, where it ended, and what the technician
// does next: one word each for scripts, one line of advice for people.
#ifndef UNITREASON_H_
#define UNITREASON_H_

#include <string>
#include <string_view>

enum class UnitReason {
    None,         // confirmed, or left alone: nothing to explain
    Absent,       // the port is not there
    Busy,         // another program holds the port, or access is denied
    Silent,       // the port opened, but no unit answered the search
    Refused,      // the unit answered a command with something else than its go-ahead
    NoReply,      // the unit found by the search said nothing back to a step
    Stalled,      // the line stopped taking the bytes
    Lost,         // the port went away in the middle of the run
    Unconfirmed,  // the unit took the images but did not confirm the new firmware
    Interrupted,  // Ctrl-C or a request to end stopped the run
    WorkerDied,   // the worker that ran the update ended without a word
};

// Where a run ended, in the order an update goes through them.
enum class UnitPhase { None, Search, Identify, FpgaUpload, FirmwareUpload, Reboot, ReadBack };

// The JSON's word; null for None.
const char *reasonWord(UnitReason reason);
// None for a word the tool does not know (null included).
UnitReason reasonOfWord(std::string_view word);
const char *phaseWord(UnitPhase phase);
UnitPhase phaseOfWord(std::string_view word);
// The phase of one of the update's steps as the driver names them
// ("identification", "FPGA upload command", ...); None for no step.
UnitPhase phaseOfStep(const char *step);

// One line a technician can act on: "power-cycle the unit, then run the
// update again". `holder` is who holds a busy port ("PID 1234 picocom"),
// empty when not known. Empty for None.
std::string adviceLine(UnitReason reason, const std::string &port, const std::string &holder = "");

#endif
