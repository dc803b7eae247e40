// OrvaneUnitSim: the emulated unit, served on a pseudo-terminal that
// FOLDER/dosdevices/comN points to, so that the updater (Linux build or the
// Windows build under Wine) finds it as COMn.
#include "PtyLink.h"
#include "ServeLoop.h"
#include "SimOptions.h"
#include "SimTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

int main(int argc, char **argv)
{
    SimSettings settings;
    if (const std::optional<int> status = readSimOptions(argc, argv, &settings)) {
        return *status;
    }
    const int64_t startUs = monotonicUs();

    UnitLine line;
    if (!openUnitLine(settings.unit.normalBaud, &line)) {
        return SIM_EXIT_SETUP_FAILED;
    }
    ComLink link(settings.dir, settings.com);
    if (!link.pointAt(line.slavePath)) {
        fprintf(stderr, "OrvaneUnitSim: cannot link %s: %s\n", link.path().c_str(), strerror(errno));
        return SIM_EXIT_SETUP_FAILED;
    }
    Trace trace;
    if (!settings.trace.empty() && !trace.open(settings.trace, startUs)) {
        fprintf(stderr, "OrvaneUnitSim: cannot write %s: %s\n", settings.trace.c_str(), strerror(errno));
        return SIM_EXIT_SETUP_FAILED;
    }
    if (!settings.images.empty()) {
        std::error_code error;
        std::filesystem::create_directories(settings.images, error);
    }

    const sigset_t waitMask = holdStopSignals();
    // Scripts read the pseudo-terminal from this first line.
    printf("%s\n", line.slavePath.c_str());
    fflush(stdout);

    if (!settings.stream.empty()) {
        serveStream(settings.stream, settings.streamRate, line.master.get(), waitMask);
        return SIM_EXIT_STOPPED;
    }
    trace.line(startUs, std::string("unit ") + (settings.unit.variant == UnitVariant::RX ? "rx" : "tx") + " at " +
                            std::to_string(settings.unit.normalBaud) + " on " + line.slavePath + " as " +
                            link.path().string());
    serveUnit(settings.unit, settings.images, line, link, trace, waitMask);
    return SIM_EXIT_STOPPED;
}
