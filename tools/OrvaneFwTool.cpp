// The operations of the updater that its console dialogue does not reach,
// and the update itself for scripts and production lines.
#include "commands/Commands.h"
#include "fleet/ParallelScan.h"
#include "commands/Commands.h"
#include "ToolOutcome.h"
#include "fleet/UpdateAll.h"
#include "platform/WorkerProcess.h"

#include "base/ProgramState.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

const char *const EXIT_STATUSES =
    "Exit status: 0 done (update: confirmed by the unit), 1 failed, 2 bad usage,\n"
    "3 images accepted but not confirmed, 4 no unit found or port or rate unusable.";

std::string commandLineOf(int argc, char **argv)
{
    std::string line = "OrvaneFwTool";
    for (int i = 1; i < argc; ++i) {
        line += std::string(" ") + argv[i];
    }
    return line;
}

struct Choices {
    std::string variant, flattenIn, flattenOut;
    int firstPort = SCAN_DEFAULT_FIRST_PORT, lastPort = SCAN_DEFAULT_LAST_PORT;
    bool scanJson = false;
    UpdateOptions update;
    bool all = false;
    UpdateAllOptions updateAll;
};

// "A-B" into the two ports, or the usage error CLI11 reports.
void takePortRange(const std::string &text, int *first, int *last)
{
    if (!parsePortRange(text, first, last)) {
        throw CLI::ValidationError("--ports", "'" + text + "' is not a range A-B within 1-256");
    }
}

void addScan(CLI::App &app, Choices &c)
{
    CLI::App *scan = app.add_subcommand("scan", "Lists every unit and busy port, probed as the search does");
    scan->add_option_function<std::string>(
            "--ports",
            [&c](const std::string &text) { takePortRange(text, &c.firstPort, &c.lastPort); },
            "The ports to probe, within 1-256 (default 1-32)")
        ->type_name("A-B");
    scan->add_flag("--json", c.scanJson, "The table on standard error, a JSON object on standard output");
    scan->footer("Exit status: 0 a unit answered, 4 none did, 2 bad usage.");
}

// update --all: every unit found, all at once, each in a worker of its own.
void addUpdateAll(CLI::App *update, CLI::Option *port, CLI::Option *log, Choices &c)
{
    CLI::Option *all = update->add_flag("--all", c.all, "Every unit on the ports at once, each in a worker of its own");
    all->excludes(port)->excludes(log);
    update->add_option_function<std::string>(
            "--ports", [&c](const std::string &text) { takePortRange(text, &c.updateAll.firstPort, &c.updateAll.lastPort); },
            "With --all: the ports to scan, within 1-256 (default 1-32)")
        ->type_name("A-B")
        ->needs(all);
    update->add_option("--log-dir", c.updateAll.logDir, "With --all: the units' logs (default logs/DATE_TIME)")
        ->type_name("DIR")
        ->needs(all);
    update->add_flag("--skip-current", c.updateAll.skipCurrent,
                     "With --all: leaves alone the units that already run " FIRMWARE_VERSION_TO_UPLOAD)
        ->needs(all);
}

void addUpdate(CLI::App &app, Choices &c)
{
    CLI::App *update = app.add_subcommand("update", "Updates the unit as the updater does, with no prompt or key wait");
    CLI::Option *port = update->add_option("--port", c.update.port, "COMN only (1-256), not the search of COM1-COM32")
                            ->check(CLI::Range(1, SCAN_HIGHEST_PORT).description(""))
                            ->type_name("N");
    update->add_option("--baud", c.update.baud, "With --port: that rate only, not the search's six")
        ->check(CLI::PositiveNumber.description(""))
        ->needs(port)
        ->type_name("B");
    CLI::Option *log = update->add_option("--log", c.update.log, "Writes an update log to FILE as it goes")->type_name("FILE");
    update->add_flag("--json", c.update.json, "The console text on standard error, a JSON object on standard output");
    addUpdateAll(update, port, log, c);
    update->footer(EXIT_STATUSES);
}

void addCommands(CLI::App &app, Choices &c)
{
    app.add_subcommand("info", "Lists the embedded images and their upload commands");
    app.add_subcommand("web", "Writes the web firmware file FwToUpload.bin here");
    CLI::App *flatten = app.add_subcommand("flatten", "Flattens an Intel HEX file into a binary image");
    flatten->add_option("IN", c.flattenIn, "The Intel HEX file")->required();
    flatten->add_option("OUT", c.flattenOut, "The binary image to write")->required();
    CLI::App *product = app.add_subcommand("product", "Finds the unit and checks its product identity");
    product->add_option("VARIANT", c.variant, "tx or rx")->required()->check(CLI::IsMember({"tx", "rx"}));
    app.add_subcommand("diag", "Finds the unit and runs the 512 KiB diagnostics");
    addScan(app, c);
    addUpdate(app, c);
}

int runCommand(const std::string &command, const Choices &c)
{
    if (command == "info") {
        return runInfo();
    }
    if (command == "web") {
        return runWebFile();
    }
    if (command == "product") {
        return runProductCheck(c.variant == "tx");
    }
    if (command == "diag") {
        return runDiagnostics();
    }
    if (command == "scan") {
        return runScan(c.firstPort, c.lastPort, c.scanJson);
    }
    return runUpdate(c.update);
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"What the Orvane firmware updater's dialogue does not offer, and the update for scripts.",
                 "OrvaneFwTool"};
    app.set_version_flag("--version", "OrvaneFwTool " ORVANE_TOOL_VERSION ", embedded firmware " FIRMWARE_VERSION_TO_UPLOAD);
    app.footer(EXIT_STATUSES);
    Choices choices;
    addCommands(app, choices);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : TOOL_EXIT_USAGE;
    }
    if (app.get_subcommands().empty()) {
        fprintf(stderr, "%s", app.help().c_str());
        return TOOL_EXIT_USAGE;
    }
    const std::string command = app.get_subcommands().front()->get_name();
    if (command == "flatten") {
        return flattenHexFile(choices.flattenIn.c_str(), choices.flattenOut.c_str());
    }
    // The supervisors of many workers need none of the program's buffers.
    if (command == "update" && choices.all) {
        choices.updateAll.json = choices.update.json;
        choices.updateAll.toolPath = WorkerProcess_OwnPath(argv[0]);
        return runUpdateAll(choices.updateAll);
    }
    if (command == "scan" && choices.firstPort != choices.lastPort) {
        return runParallelScan({choices.firstPort, choices.lastPort, choices.scanJson, WorkerProcess_OwnPath(argv[0])});
    }
    choices.update.commandLine = commandLineOf(argc, argv);
    if (!allocateProgramBuffers()) {
        return TOOL_EXIT_FAILED;
    }
    const int status = runCommand(command, choices);
    releaseProgramBuffers();
    return status;
}
