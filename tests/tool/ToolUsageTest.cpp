// OrvaneFwTool's command line as a script meets it: help and version on
// standard output with status 0, and every mistake named, with status 2.
#include "RunResult.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RunResult runTool(std::vector<std::string> args, const std::string &folder)
{
    args.insert(args.begin(), ORVANE_FW_TOOL);
    return runToCompletion(args, folder, 30'000);
}

struct Mistake {
    std::vector<std::string> args;
    std::string named;  // what the error must name
};

class ToolMistake : public ::testing::TestWithParam<Mistake> {
protected:
    TempFolder folder;
};

}  // namespace

TEST(ToolUsage, HelpAndVersionGoToStandardOutputWithStatusZero)
{
    TempFolder folder;
    for (const char *help : {"--help", "-h"}) {
        const RunResult run = runTool({help}, folder.path());
        EXPECT_EQ(run.exitStatus, 0) << help;
        EXPECT_EQ(run.errors, "");
        for (const char *command : {"info", "web", "flatten", "product", "diag", "scan", "update", "Exit status"}) {
            EXPECT_NE(run.output.find(command), std::string::npos) << command;
        }
    }
    const RunResult update = runTool({"update", "--help"}, folder.path());
    EXPECT_EQ(update.exitStatus, 0);
    for (const char *option : {"--port", "--baud", "--log", "--json"}) {
        EXPECT_NE(update.output.find(option), std::string::npos) << option;
    }
    for (const std::string command : {"web", "flatten", "product", "diag", "scan", "update"}) {
        const RunResult help = runTool({command, "--help"}, folder.path());
        EXPECT_NE(help.output.find("Examples:\n  OrvaneFwTool " + command), std::string::npos) << help.output;
    }
    const RunResult version = runTool({"--version"}, folder.path());
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.output, "OrvaneFwTool 1.0.5, embedded firmware 1.00.05\n");
}

TEST_P(ToolMistake, IsNamedWithStatusTwo)
{
    const RunResult run = runTool(GetParam().args, folder.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.errors.find(GetParam().named), std::string::npos) << run.errors;
    EXPECT_EQ(run.output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ToolMistake,
    ::testing::Values(Mistake{{"frobnicate"}, "frobnicate"}, Mistake{{}, "Usage: OrvaneFwTool"},
                      Mistake{{"update", "--prot", "9"}, "--prot"}, Mistake{{"update", "--port", "0"}, "--port"},
                      Mistake{{"update", "--baud", "9600"}, "--port"},
                      Mistake{{"update", "--port", "3", "--baud", "fast"}, "fast"},
                      Mistake{{"scan", "--ports", "9-3"}, "9-3"}, Mistake{{"product", "tv"}, "tv"},
                      Mistake{{"update", "--log", "no-such-folder/update.log"}, "no-such-folder/update.log"},
                      // Only the search's own rates, and a short message that lists them.
                      Mistake{{"update", "--port", "3", "--baud", "12345"}, "--baud"},
                      Mistake{{"update", "--port", "3", "--baud", "0"},
                              "--baud: '0' is not one of 115200, 9600, 57600, 4800, 2400 or 1200 baud\n"},
                      // Ports are plain digits: no blank, sign or base.
                      Mistake{{"update", "--port", " 5"}, "--port"}, Mistake{{"update", "--port", "+5"}, "--port"},
                      Mistake{{"update", "--port", "0x10"}, "--port"}, Mistake{{"scan", "--ports", " 5-+6"}, "--ports"},
                      Mistake{{"update", "--all", "--ports", "1-+2"}, "--ports"},
                      Mistake{{"web", "-q", "-v"}, "--quiet excludes --verbose"},
                      Mistake{{"diag", "--baud", "9600"}, "--port"},
                      Mistake{{"product", "tx", "--port", "0"}, "--port"},
                      // A device by its path lives under /dev; one port is not also a range.
                      Mistake{{"update", "--port", "ttyUSB0"}, "--port: 'ttyUSB0' is not a port"},
                      Mistake{{"update", "-p", "COM0"}, "--port: 'COM0' is not a port"},
                      Mistake{{"scan", "--port", "COM3", "--ports", "1-2"}, "--port"},
                      Mistake{{"update", "--adapters"}, "--adapters"}),
    [](const ::testing::TestParamInfo<Mistake> &c) { return "mistake_" + std::to_string(c.index); });
