// OrvaneUnitSim's command line, read without starting the program: what its
// rules refuse, with the message that names the option, and what they take.
#include "SimOptions.h"
#include "NamedCase.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The whole message of a refusal; "" when the command line is taken.
struct CommandLine : NamedCase {
    std::vector<std::string> words;
    std::string error;
};

class SimOptionsTest : public ::testing::TestWithParam<CommandLine> {};

const char *const NOT_A_FAULT = " is not EXCHANGE:FAULT (drop only at fpga-data or mcu-data)";

}  // namespace

TEST_P(SimOptionsTest, RefusesWhatItsRulesForbidAndTakesTheRest)
{
    const CommandLine &c = GetParam();
    SimSettings settings;
    CLI::App app;
    addSimOptions(app, settings);
    // CLI11 takes the words last first.
    std::vector<std::string> words(c.words.rbegin(), c.words.rend());
    std::string error;
    try {
        app.parse(words);
    } catch (const CLI::ParseError &e) {
        error = e.what();
    }
    EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    SimOptions, SimOptionsTest,
    ::testing::Values(
        CommandLine{{"fault_at_an_unknown_exchange"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--fault", "flash:silence"},
                    std::string("--fault: 'flash:silence'") + NOT_A_FAULT},
        CommandLine{{"unknown_fault"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--fault", "product:late"},
                    std::string("--fault: 'product:late'") + NOT_A_FAULT},
        CommandLine{{"drop_outside_an_image"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--fault", "mcu-command:drop"},
                    std::string("--fault: 'mcu-command:drop'") + NOT_A_FAULT},
        CommandLine{{"faults_add_up_one_word_each"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--fault", "mcu-data:drop", "--fault",
                     "probe:silence", "closing:zeros"},
                    "The following argument was not expected: closing:zeros"},
        CommandLine{{"rate_no_line_takes"},
                    {"--com", "1", "--variant", "tx", "--baud", "9601"},
                    "--baud: '9601' is not a rate a serial line can be set to"},
        CommandLine{{"port_beyond_999"},
                    {"--com", "1000", "--variant", "tx", "--baud", "9600"},
                    "--com: '1000' is not a whole number from 1 to 999"},
        CommandLine{{"leading_zero_is_still_decimal"}, {"--com", "0999", "--variant", "tx", "--baud", "9600"}, ""},
        CommandLine{{"version_of_two_numbers"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--fw-version", "1.0"},
                    "--fw-version: '1.0' is not a.b.c"},
        CommandLine{{"escape_other_than_line_ends"},
                    {"--com", "1", "--variant", "tx", "--baud", "9600", "--closing-text", "[x]\\t>>"},
                    "--closing-text: '[x]\\t>>' holds a backslash other than \\r \\n \\\\"},
        CommandLine{{"unit_without_its_rate"},
                    {"--com", "1", "--variant", "tx"},
                    "--variant and --baud are required without --stream"},
        CommandLine{{"stream_needs_no_variant"}, {"--com", "1", "--stream", "zeros", "--stream-rate", "4800"}, ""},
        CommandLine{{"stream_without_its_rate"},
                    {"--com", "1", "--stream", "nmea"},
                    "--stream-rate is required with --stream"}),
    CaseName());
