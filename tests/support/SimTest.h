// A fresh simulated machine for each test: clock at zero, no ports, the serial
// module's records as at program start, the console captured.
#ifndef TESTS_SIMFIXTURE_H_
#define TESTS_SIMFIXTURE_H_

#include "SimConsole.h"
#include "SimEvents.h"
#include "SimSerial.h"
#include "base/ProgramState.h"
#include "serial/ComPortAPI.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Microseconds for `bytes` bytes at `baud`, as the simulated line carries them.
inline int64_t wire(int64_t bytes, int64_t baud)
{
    return unit_wireTimeUs(static_cast<uint64_t>(bytes), static_cast<int>(baud));
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        simEvents_reset();
        simPorts_reset();
        g_hCOM = nullptr;
        g_dcb = ComPortAPI_DefaultLineSettings();
        g_cto = ComPortAPI_DefaultTimeouts();
        gComPortNumber = 0;
        gBaudRate = 0;
        simConsole_begin(input());
    }
    void TearDown() override
    {
        simConsole_end();
        releaseProgramBuffers();
        if (HasFailure()) {
            printTranscript();
        }
    }

    // What standard input holds for the test; override to answer prompts.
    virtual std::string input() const { return ""; }

    // Runs the whole program (its main, linked into the driver tests) with
    // `answers` as what the technician types.
    static int runProgram(const std::string &answers = "");

    // The events of one kind on one port, in order.
    static std::vector<SimEvent> events(SimEventKind kind, int com)
    {
        std::vector<SimEvent> found;
        for (const SimEvent &event : simEvents_all()) {
            if (event.kind == kind && event.port == com) {
                found.push_back(event);
            }
        }
        return found;
    }

    // The bytes of every write on a port, one entry per write.
    static std::vector<std::string> writes(int com)
    {
        std::vector<std::string> all;
        for (const SimEvent &event : events(SimEventKind::Write, com)) {
            all.push_back(event.bytes);
        }
        return all;
    }

    static double seconds() { return static_cast<double>(simClock_nowUs()) / 1e6; }

    // The log of a failed test, for reading what the program did and when.
    static void printTranscript();
};

#endif
