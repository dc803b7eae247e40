// OrvaneUnitSim's command line, read into the settings of one run.
#ifndef SIMOPTIONS_H_
#define SIMOPTIONS_H_

#include "UnitModel.h"

#include <optional>
#include <string>

namespace CLI {
class App;
}

// The program's exit statuses.
enum SimExit {
    SIM_EXIT_STOPPED = 0,       // stopped by SIGTERM or SIGINT, or after --help
    SIM_EXIT_SETUP_FAILED = 1,  // no pseudo-terminal, COM entry or trace file
    SIM_EXIT_USAGE = 2,
};

struct SimSettings {
    int com = 0;
    UnitConfig unit;
    std::string dir = ".";
    std::string trace;   // "" for none
    std::string images;  // the folder the received images go to; "" keeps none
    // Not a unit: a device that never stops sending ("zeros" or "nmea"), at
    // streamRate bytes a second.
    std::string stream;
    long long streamRate = 0;
};

// Declares the options on `app`, each storing into `settings` as the command
// line is parsed. The parse throws CLI::ParseError for a command line that
// cannot run: an unknown word, a value out of its form or range, a missing
// option.
void addSimOptions(CLI::App &app, SimSettings &settings);

// The command line into `settings`, or the status to exit with at once: 0
// after --help, SIM_EXIT_USAGE after saying on standard error what is wrong.
std::optional<int> readSimOptions(int argc, char **argv, SimSettings *settings);

#endif
