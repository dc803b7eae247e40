// The operations of the updater that its console dialogue does not reach,
// and the update itself for scripts and production lines.
#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "console/ToolConsole.h"
#include "fleet/ParallelScan.h"
#include "fleet/UpdateAll.h"
#include "fleet/UpdateAllReport.h"
#include "platform/WorkerProcess.h"
#include "unit/FindUnit.h"
#include "unit/UnitFacts.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"
#include "channel/PortDetection.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

namespace {

// Ctrl-C's status as shells report it, from the one table of statuses.
const std::string INTERRUPTED_STATUS = std::to_string(exitStatus(ToolOutcome::Interrupted)) + " interrupted (Ctrl-C)";
const std::string EXIT_STATUSES = "Exit status: 0 done (update: confirmed by the unit), 1 failed, 2 bad usage,\n"
                                  "3 images accepted but not confirmed, 4 no unit found or port or rate unusable,\n" +
                                  INTERRUPTED_STATUS + ".";

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
    PortSelection scanPorts;
    PortTarget scanPort;  // scan --port: that one port, in this process
    bool scanJson = false;
    UpdateOptions update;
    UnitChoice unit;  // product, diag
    bool quiet = false, verbose = false, drawnProgress = false;
    bool all = false;
    UpdateAllOptions updateAll;
    std::string toolPath;  // the program the workers run: this one
};

// Why a run ended before its command could say so (for its JSON object).
std::string g_whyFailed;

// "A-B" into the two ports, or the usage error CLI11 reports.
void takePortRange(const std::string &text, int *first, int *last)
{
    if (!parsePortRange(text, first, last)) {
        throw CLI::ValidationError("--ports", "'" + text + "' is not a range A-B within 1-256");
    }
}

// Every command's --port: N, COMN or a device path.
void takePort(const std::string &text, PortTarget *port)
{
    if (!parsePortName(text, port)) {
        throw CLI::ValidationError("--port", "'" + text +
                                                 "' is not a port: N or COMN within 1-256, or a device path such "
                                                 "as /dev/ttyUSB0");
    }
}

// Only where the system lists adapters apart from its COM ports: elsewhere
// the flag would leave nothing to scan.
void takeAdaptersOnly(bool *adaptersOnly)
{
    if (!adaptersListed()) {
        throw CLI::ValidationError("--adapters", "this system gives every adapter a COM number: use --ports");
    }
    *adaptersOnly = true;
}

CLI::Option *addAdaptersFlag(CLI::App *command, bool *adaptersOnly, const char *help)
{
    return command->add_flag_callback(
        "--adapters", [adaptersOnly]() { takeAdaptersOnly(adaptersOnly); }, help);
}

// Only a rate the search itself tries: the modules know no other.
void takeBaud(const std::string &text, int *baud)
{
    for (const int rate : SEARCH_BAUD_RATES) {
        if (text == std::to_string(rate)) {
            *baud = rate;
            return;
        }
    }
    throw CLI::ValidationError("--baud", "'" + text + "' is not one of " + ratesTried(0));
}

// Examples first, then what each exit status means.
std::string footer(const char *examples, const std::string &statuses = EXIT_STATUSES)
{
    return std::string("Examples:\n") + examples + "\n" + statuses;
}

void addFlattenOptions(CLI::App *flatten, Choices &c)
{
    flatten->add_option("IN", c.flattenIn, "The Intel HEX file, ending with its end-of-file record")->required();
    flatten->add_option("OUT", c.flattenOut, "The binary image to write")->required();
    flatten->footer(footer("  OrvaneFwTool flatten firmware.hex firmware.bin\n"
                           "  OrvaneFwTool flatten -q download.hex image.bin && echo whole"));
}

// --port and --baud of the commands that reach one unit, read as update reads them.
void addUnitOptions(CLI::App *command, UnitChoice &unit)
{
    CLI::Option *port = command
                            ->add_option_function<std::string>(
                                "-p,--port", [&unit](const std::string &text) { takePort(text, &unit.port); },
                                "That port only (N, COMN or a device path), not the search of COM1-COM32")
                            ->type_name("PORT");
    command
        ->add_option_function<std::string>(
            "--baud", [&unit](const std::string &text) { takeBaud(text, &unit.baud); },
            "With --port: that rate only, one of the search's six")
        ->needs(port)
        ->type_name("B");
}

void addProductOptions(CLI::App *product, Choices &c)
{
    product->add_option("VARIANT", c.variant, "tx or rx")->required()->check(CLI::IsMember({"tx", "rx"}));
    addUnitOptions(product, c.unit);
    product->footer(footer("  OrvaneFwTool product tx --port COM3\n"
                           "  OrvaneFwTool product rx -q"));
}

void addDiagOptions(CLI::App *diag, Choices &c)
{
    addUnitOptions(diag, c.unit);
    diag->footer(footer("  OrvaneFwTool diag --port 3 --baud 9600\n"
                        "  OrvaneFwTool diag -v"));
}

void addWebOptions(CLI::App *web, Choices &)
{
    web->footer(footer("  OrvaneFwTool web\n"
                       "  OrvaneFwTool web -v"));
}

void addScanOptions(CLI::App *scan, Choices &c)
{
    CLI::Option *ports =
        scan->add_option_function<std::string>(
                "--ports",
                [&c](const std::string &text) { takePortRange(text, &c.scanPorts.firstPort, &c.scanPorts.lastPort); },
                "The ports to probe, within 1-256 (default 1-32), then every USB adapter (Linux)")
            ->type_name("A-B");
    CLI::Option *adapters = addAdaptersFlag(scan, &c.scanPorts.adaptersOnly,
                                            "Only the USB adapters (/dev/ttyUSB*, /dev/ttyACM*), not the COM ports");
    scan->add_option_function<std::string>(
            "-p,--port", [&c](const std::string &text) { takePort(text, &c.scanPort); },
            "That one port only: N, COMN or a device path")
        ->type_name("PORT")
        ->excludes(ports)
        ->excludes(adapters);
    scan->add_flag("--json", c.scanJson, "The table on standard error, a JSON object on standard output");
    scan->footer(footer("  OrvaneFwTool scan\n"
                        "  OrvaneFwTool scan --ports 1-8 --json",
                        "Exit status: 0 a unit answered, 1 a port's scan failed, 2 bad usage, 4 none did, " +
                            INTERRUPTED_STATUS + "."));
}

// update --all: every unit found, all at once, each in a worker of its own.
void addUpdateAll(CLI::App *update, CLI::Option *port, CLI::Option *log, Choices &c)
{
    CLI::Option *all = update->add_flag("--all", c.all, "Every unit on the ports at once, each in a worker of its own");
    all->excludes(port)->excludes(log);
    update
        ->add_option_function<std::string>(
            "--ports",
            [&c](const std::string &text) {
                takePortRange(text, &c.updateAll.ports.firstPort, &c.updateAll.ports.lastPort);
            },
            "With --all: the ports to scan, within 1-256 (default 1-32), then every USB adapter (Linux)")
        ->type_name("A-B")
        ->needs(all);
    addAdaptersFlag(update, &c.updateAll.ports.adaptersOnly, "With --all: only the USB adapters, not the COM ports")
        ->needs(all);
    update->add_option("--log-dir", c.updateAll.logDir, "With --all: the units' logs (default logs/DATE_TIME)")
        ->type_name("DIR")
        ->needs(all);
}

void addUpdateOptions(CLI::App *update, Choices &c)
{
    CLI::Option *port = update
                            ->add_option_function<std::string>(
                                "-p,--port", [&c](const std::string &text) { takePort(text, &c.update.port); },
                                "That port only, not the search of COM1-COM32: N or COMN (1-256), or a "
                                "device path such as /dev/ttyUSB0")
                            ->type_name("PORT");
    update
        ->add_option_function<std::string>(
            "--baud", [&c](const std::string &text) { takeBaud(text, &c.update.baud); },
            "With --port: that rate only, one of the search's six")
        ->needs(port)
        ->type_name("B");
    CLI::Option *log =
        update->add_option("--log", c.update.log, "Writes an update log to FILE as it goes")->type_name("FILE");
    update->add_flag("--json", c.update.json, "The console text on standard error, a JSON object on standard output");
    update->add_flag("--skip-current", c.update.skipCurrent,
                     "Leaves alone a unit that already runs " + embeddedFirmwareText() + " (with --all: each one)");
    addUpdateAll(update, port, log, c);
    update->footer(footer("  OrvaneFwTool update --port COM3 --json\n"
                          "  OrvaneFwTool update --all --log-dir logs"));
}

// The modules' buffers, for a command that runs them in this process.
ToolOutcome withProgramBuffers(ToolOutcome (*run)(const Choices &), const Choices &c)
{
    if (!allocateProgramBuffers()) {
        g_whyFailed = "not enough memory for the program's buffers";
        return ToolOutcome::Failed;
    }
    const ToolOutcome outcome = run(c);
    releaseProgramBuffers();
    return outcome;
}

ToolOutcome scanOnePort(const Choices &c)
{
    return runScan({c.scanPort}, c.scanJson);
}

// The ports are scanned side by side, a worker per port, by a supervisor
// that needs none of the program's buffers; a port named (a worker's) is
// scanned here.
ToolOutcome scan(const Choices &c)
{
    if (c.scanPort == PortTarget()) {
        ParallelScanOptions options;
        options.ports = c.scanPorts;
        options.json = c.scanJson;
        options.toolPath = c.toolPath;
        return runParallelScan(options);
    }
    return withProgramBuffers(scanOnePort, c);
}

ToolOutcome updateOneUnit(const Choices &c)
{
    return runUpdate(c.update);
}

// update --all supervises the workers that update the units, and needs none
// of the program's buffers.
ToolOutcome update(const Choices &c)
{
    if (!c.all) {
        return withProgramBuffers(updateOneUnit, c);
    }
    UpdateAllOptions options = c.updateAll;
    options.json = c.update.json;
    options.skipCurrent = c.update.skipCurrent;
    options.toolPath = c.toolPath;
    return runUpdateAll(options);
}

struct Command {
    const char *name;
    const char *help;
    void (*addOptions)(CLI::App *command, Choices &c);  // nullptr: none
    // The program's buffers for the whole run; scan and update take them
    // only when they run the modules in this process.
    bool needsBuffers;
    ToolOutcome (*run)(const Choices &c);
};

// In the order the help lists them.
const Command COMMANDS[] = {
    {"info", "Lists the embedded images and their upload commands", nullptr, true,
     [](const Choices &) { return runInfo(); }},
    {"web", "Writes the web firmware file FwToUpload.bin here", addWebOptions, true,
     [](const Choices &) { return runWebFile(); }},
    {"flatten", "Flattens an Intel HEX file into a binary image", addFlattenOptions, false,
     [](const Choices &c) { return flattenHexFile(c.flattenIn.c_str(), c.flattenOut.c_str()); }},
    {"product", "Finds the unit and checks its product identity", addProductOptions, true,
     [](const Choices &c) { return runProductCheck(c.variant == "tx", c.unit); }},
    {"diag", "Finds the unit and runs the 512 KiB diagnostics", addDiagOptions, true,
     [](const Choices &c) { return runDiagnostics(c.unit); }},
    {"scan", "Lists every unit and busy port, probed as the search does", addScanOptions, false, scan},
    {"update", "Updates the unit as the updater does, with no prompt or key wait", addUpdateOptions, false, update},
};

// -q and -v hold for every command, before or after its name.
void addDetailOptions(CLI::App &app, Choices &c)
{
    CLI::Option *quiet = app.add_flag("-q,--quiet", c.quiet, "Only the closing line, or the JSON object");
    app.add_flag("-v,--verbose", c.verbose, "Also every exchange with the unit, as an update log has it")
        ->excludes(quiet);
    // A worker of update --all: its supervisor reads the redrawn figures.
    app.add_flag("--drawn-progress", c.drawnProgress)->group("");
    app.fallthrough();
}

void setConsoleDetail(const Choices &c)
{
    toolConsole_setDetail(c.quiet ? ConsoleDetail::Quiet : c.verbose ? ConsoleDetail::Verbose : ConsoleDetail::Normal);
    if (c.drawnProgress) {
        toolConsole_setProgress(ProgressStyle::Drawn);
    }
}

void addCommands(CLI::App &app, Choices &c)
{
    addDetailOptions(app, c);
    for (const Command &command : COMMANDS) {
        CLI::App *subcommand = app.add_subcommand(command.name, command.help);
        if (command.addOptions != nullptr) {
            command.addOptions(subcommand, c);
        }
    }
}

bool wantsJson(const Choices &c)
{
    return c.scanJson || c.update.json;
}

// The object of a --json run whose command could not print its own, shaped
// as that command's.
std::string failureJson(const Choices &c, ToolOutcome outcome, const std::string &why)
{
    if (c.scanJson) {
        return scanJson(ScanResult{}, why, outcome);
    }
    if (c.all) {
        nlohmann::ordered_json report = updateAllReport({}, {}, outcome, 0);
        addFailure(report, outcome, why);
        return jsonText(report);
    }
    UpdateOutcome update;
    update.unit = portNamed(c.update.port);
    update.unit.baud = c.update.baud;
    update.result = outcome;
    update.error = why;
    return updateJson(update);
}

// Whatever happens, a --json run ends with its one object: a failure that
// escaped the command is told there too.
ToolOutcome runCommand(const Command &command, const Choices &c)
{
    ToolOutcome outcome = ToolOutcome::Failed;
    try {
        outcome = command.needsBuffers ? withProgramBuffers(command.run, c) : command.run(c);
    } catch (const std::exception &e) {
        g_whyFailed = e.what();
        fprintf(stderr, "ERROR: %s\n", e.what());
    }
    if (wantsJson(c) && !toolConsole_jsonPrinted()) {
        toolConsole_printJson(failureJson(c, outcome, g_whyFailed.empty() ? "ended without a result" : g_whyFailed));
    }
    return outcome;
}

// The command the user named; nullptr when none was.
const Command *chosenCommand(const CLI::App &app)
{
    for (const Command &command : COMMANDS) {
        if (app.got_subcommand(command.name)) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    // Run as a worker, an abort must read as a death, never as an exit status.
    WorkerProcess_ReportAborts();
    CLI::App app{"What the Orvane firmware updater's dialogue does not offer, and the update for scripts.",
                 "OrvaneFwTool"};
    app.set_version_flag("--version",
                         "OrvaneFwTool " ORVANE_TOOL_VERSION ", embedded firmware " + embeddedFirmwareText());
    app.footer(EXIT_STATUSES);
    Choices choices;
    addCommands(app, choices);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // Help and version end as a command that did its work.
        const bool asked = app.exit(e) == static_cast<int>(CLI::ExitCodes::Success);
        return exitStatus(asked ? ToolOutcome::Done : ToolOutcome::Usage);
    }
    const Command *command = chosenCommand(app);
    if (command == nullptr) {
        fprintf(stderr, "%s", app.help().c_str());
        return exitStatus(ToolOutcome::Usage);
    }
    setConsoleDetail(choices);
    choices.update.commandLine = commandLineOf(argc, argv);
    choices.toolPath = WorkerProcess_OwnPath(argv[0]);
    if (wantsJson(choices) && !toolConsole_keepOutputForJson()) {
        perror("OrvaneFwTool: standard output");
        return exitStatus(ToolOutcome::Failed);
    }
    return exitStatus(runCommand(*command, choices));
}
