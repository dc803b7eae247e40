#include "SimOptions.h"

#include "PtyLink.h"

#include "base/EscapedBytes.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

const char *const DESCRIPTION =
    "The emulated Orvane unit, served on a pseudo-terminal that FOLDER/dosdevices/comN leads to; with --stream,\n"
    "a device that never stops sending instead. Prints the pseudo-terminal's path, then serves until SIGTERM or\n"
    "SIGINT.";

const char *const FOOTER = "TEXT may hold \\r \\n \\\\.\n"
                           "Exit status: 0 stopped by its signal, 1 no pseudo-terminal, COM entry or trace file,\n"
                           "2 bad usage.";

const std::pair<const char *, UnitExchange> EXCHANGES[] = {
    {"probe", UnitExchange::Probe},        {"version", UnitExchange::Version},
    {"product", UnitExchange::Product},    {"fpga-command", UnitExchange::FpgaCommand},
    {"fpga-data", UnitExchange::FpgaData}, {"mcu-command", UnitExchange::McuCommand},
    {"mcu-data", UnitExchange::McuData},   {"closing", UnitExchange::Closing},
};

const std::pair<const char *, UnitFault> FAULTS[] = {
    {"silence", UnitFault::Silence}, {"garbled", UnitFault::Garbled}, {"extra-line-end", UnitFault::ExtraLineEnd},
    {"split", UnitFault::Split},     {"endless", UnitFault::Endless}, {"zeros", UnitFault::Zeros},
    {"drop", UnitFault::Drop},
};

// The longest time or count of bytes a setting takes.
const long long MAX_AMOUNT = 1'000'000'000'000LL;

[[noreturn]] void refuse(const std::string &option, const std::string &text, const std::string &why)
{
    throw CLI::ValidationError(option, "'" + text + "' " + why);
}

bool parseNumber(const std::string &text, long long min, long long max, long long *value)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) {
        return false;
    }
    *value = v;
    return true;
}

// Decimal always: CLI11's own conversion would read 010 as eight.
long long numberOf(const std::string &option, const std::string &text, long long min, long long max)
{
    long long value = 0;
    if (!parseNumber(text, min, max, &value)) {
        refuse(option, text, "is not a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return value;
}

template <typename Number>
CLI::Option *addNumber(CLI::App &app, const std::string &name, Number *target, long long min, long long max,
                       const std::string &description)
{
    const auto take = [=](const std::string &text) { *target = static_cast<Number>(numberOf(name, text, min, max)); };
    return app.add_option_function<std::string>(name, take, description)->type_name("N");
}

// A setting of the unit: its value before the parse is its default.
template <typename Number>
CLI::Option *addSetting(CLI::App &app, const std::string &name, Number *target, long long min, long long max,
                        const std::string &description)
{
    return addNumber(app, name, target, min, max, description)->default_str(std::to_string(*target));
}

// "a.b" or "a.b.c": exactly `count` numbers.
bool parseDotted(const std::string &text, size_t count, int *parts)
{
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t dot = i + 1 < count ? text.find('.', at) : text.size();
        long long v = 0;
        if (dot == std::string::npos || !parseNumber(text.substr(at, dot - at), 0, 999999, &v)) {
            return false;
        }
        parts[i] = static_cast<int>(v);
        at = dot + 1;
    }
    return true;
}

// A version of as many numbers as `parts` has; their values before the
// parse are its default.
CLI::Option *addDotted(CLI::App &app, const std::string &name, const std::vector<int *> &parts,
                       const std::string &description)
{
    std::string form, shown;
    for (size_t i = 0; i < parts.size(); ++i) {
        form += (i == 0 ? "" : ".") + std::string(1, static_cast<char>('a' + i));
        shown += (i == 0 ? "" : ".") + std::to_string(*parts[i]);
    }
    const auto take = [=](const std::string &text) {
        std::vector<int> values(parts.size());
        if (!parseDotted(text, parts.size(), values.data())) {
            refuse(name, text, "is not " + form);
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            *parts[i] = values[i];
        }
    };
    return app.add_option_function<std::string>(name, take, description)->type_name(form)->default_str(shown);
}

bool decodeEscapes(const std::string &text, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case '\\': *out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

CLI::Option *addText(CLI::App &app, const std::string &name, std::string *target, const std::string &description)
{
    const auto take = [=](const std::string &text) {
        if (!decodeEscapes(text, target)) {
            refuse(name, text, "holds a backslash other than \\r \\n \\\\");
        }
    };
    return app.add_option_function<std::string>(name, take, description)->type_name("TEXT");
}

template <typename Value, size_t N>
Value valueNamed(const std::pair<const char *, Value> (&table)[N], const std::string &name, Value none)
{
    for (const auto &[entry, value] : table) {
        if (name == entry) {
            return value;
        }
    }
    return none;
}

template <typename Value, size_t N>
std::string namesOf(const std::pair<const char *, Value> (&table)[N])
{
    std::string names;
    for (const auto &entry : table) {
        names += (names.empty() ? "" : " ") + std::string(entry.first);
    }
    return names;
}

// A drop can only cut an image short.
bool parseFault(const std::string &text, UnitConfig::Fault *fault)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    fault->at = valueNamed(EXCHANGES, text.substr(0, colon), UnitExchange::None);
    fault->what = valueNamed(FAULTS, text.substr(colon + 1), UnitFault::None);
    if (fault->what == UnitFault::Drop && fault->at != UnitExchange::FpgaData && fault->at != UnitExchange::McuData) {
        return false;
    }
    return fault->at != UnitExchange::None && fault->what != UnitFault::None;
}

void addLineOptions(CLI::App &app, SimSettings &s)
{
    UnitConfig *u = &s.unit;
    addNumber(app, "--com", &s.com, 1, 999, "The COM port whose entry leads to the unit")->required();
    app.add_option("--dir", s.dir, "The folder whose dosdevices/ holds the COM entries (a Wine prefix)")
        ->type_name("FOLDER")
        ->capture_default_str();
    const auto takeVariant = [u](const std::string &text) {
        u->variant = text == "rx" ? UnitVariant::RX : UnitVariant::TX;
    };
    app.add_option_function<std::string>("--variant", takeVariant, "tx or rx")->check(CLI::IsMember({"tx", "rx"}));
    const auto takeBaud = [u](const std::string &text) {
        u->normalBaud = static_cast<int>(numberOf("--baud", text, 1, 4'000'000));
        if (!lineRateExists(u->normalBaud)) {
            refuse("--baud", text, "is not a rate a serial line can be set to");
        }
    };
    app.add_option_function<std::string>("--baud", takeBaud,
                                         "The unit's own rate, one a serial line can be set to (e.g. 9600)")
        ->type_name("RATE");
    app.add_option("--trace", s.trace, "Writes every exchange to FILE, an event a line")->type_name("FILE");
    app.add_option("--images", s.images, "Keeps each image the unit received in FOLDER (fpga.bin, mcu.bin)")
        ->type_name("FOLDER");
}

void addReplyOptions(CLI::App &app, UnitConfig *u)
{
    addDotted(app, "--fw-version", {&u->fwVer, &u->fwRev, &u->fwSub}, "The firmware in the version reply");
    app.add_option("--model", u->model, "The model in the version reply")->type_name("WORD")->capture_default_str();
    addDotted(app, "--fpga-version", {&u->fpgaVer, &u->fpgaRev}, "The FPGA image in the version reply");
    addSetting(app, "--device-code", &u->deviceCode, -2147483647LL, 2147483647LL,
               "The FPGA device code in the version reply");
    addText(app, "--product", &u->productReply, "The identity line instead of the variant's (another product)");
    addText(app, "--closing-text", &u->closingText, "What the unit prints once it has rebooted")
        ->default_str(escapedBytes(u->closingText));
}

void addTimingOptions(CLI::App &app, UnitConfig *u)
{
    addSetting(app, "--closing-delay-ms", &u->closingDelayMs, 0, MAX_AMOUNT,
               "From the microcontroller's SUCCESS to the closing text")
        ->type_name("MS");
    addSetting(app, "--reply-delay-ms", &u->replyDelayMs, 0, MAX_AMOUNT, "From the end of a command line to its reply")
        ->type_name("MS");
    addSetting(app, "--ready-delay-ms", &u->readyDelayMs, 0, MAX_AMOUNT, "From an upload command to its Ready")
        ->type_name("MS");
    // The pseudo-terminal moves bytes at once unless asked to pace them; the
    // serving loop paces the host's bytes by the same flag.
    u->paceOutput = false;
    app.add_flag("--pace", u->paceOutput,
                 "Keeps to the wire rate both ways, 10 bits a byte: takes the host's bytes and sends its own no "
                 "faster than the line carries them");
    addSetting(app, "--missed-probes", &u->missedProbes, 0, 1'000'000, "The first N probes get no answer");
}

void addFaultOptions(CLI::App &app, UnitConfig *u)
{
    const auto take = [u](const std::vector<std::string> &texts) {
        for (const std::string &text : texts) {
            UnitConfig::Fault fault;
            if (!parseFault(text, &fault)) {
                refuse("--fault", text, "is not EXCHANGE:FAULT (drop only at fpga-data or mcu-data)");
            }
            u->faults.push_back(fault);
        }
    };
    const std::string description = std::string("A fault at the first time of an exchange (at every probe); ") +
                                    "again for more.\nEXCHANGE: " + namesOf(EXCHANGES) + "\nFAULT: " + namesOf(FAULTS);
    app.add_option_function<std::vector<std::string>>("--fault", take, description)
        ->type_name("EXCHANGE:FAULT")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    addSetting(app, "--split-gap-ms", &u->splitGapMs, 0, MAX_AMOUNT,
               "Between the two pieces of a split reply (0: 1.5 read windows of its exchange)")
        ->type_name("MS");
    addSetting(app, "--drop-after", &u->dropAfterBytes, 0, MAX_AMOUNT, "The image bytes taken before a drop")
        ->type_name("BYTES");
    app.add_flag("--keep-firmware", u->keepsFirmware,
                 "After its reboot, still reports the firmware it had, as if the update did not take");
}

void addStreamOptions(CLI::App &app, SimSettings &s)
{
    app.add_option("--stream", s.stream, "Zero bytes, or NMEA-like text as a GPS receiver sends, without end")
        ->check(CLI::IsMember({"zeros", "nmea"}));
    addNumber(app, "--stream-rate", &s.streamRate, 1, 1'000'000, "The stream's bytes a second")
        ->type_name("BYTES_PER_SECOND");
}

// A unit needs its variant and rate, a stream its rate.
void requireWhatTheRunNeeds(const CLI::App &app)
{
    if (app.count("--stream") > 0) {
        if (app.count("--stream-rate") == 0) {
            throw CLI::RequiredError("--stream-rate is required with --stream", CLI::ExitCodes::RequiredError);
        }
    } else if (app.count("--variant") == 0 || app.count("--baud") == 0) {
        throw CLI::RequiredError("--variant and --baud are required without --stream", CLI::ExitCodes::RequiredError);
    }
}

}  // namespace

void addSimOptions(CLI::App &app, SimSettings &settings)
{
    app.name("OrvaneUnitSim");
    app.description(DESCRIPTION);
    app.footer(FOOTER);
    // An option given again replaces the earlier value; only --fault adds up.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    addLineOptions(app, settings);
    app.option_defaults()->group("Replies");
    addReplyOptions(app, &settings.unit);
    app.option_defaults()->group("Timing");
    addTimingOptions(app, &settings.unit);
    app.option_defaults()->group("Faults");
    addFaultOptions(app, &settings.unit);
    app.option_defaults()->group("Stream");
    addStreamOptions(app, settings);
    app.callback([&app] { requireWhatTheRunNeeds(app); });
}

std::optional<int> readSimOptions(int argc, char **argv, SimSettings *settings)
{
    CLI::App app;
    addSimOptions(app, *settings);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? SIM_EXIT_STOPPED : SIM_EXIT_USAGE;
    }
    return std::nullopt;
}
