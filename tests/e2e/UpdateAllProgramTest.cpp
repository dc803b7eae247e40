// `OrvaneFwTool update --all` as a technician runs it, against four emulated
// units on pseudo-terminals in real time: every unit updated at once, each
// in its own worker, in about the time of one update (over three minutes).
#include "ReadFile.h"
#include "ReceivedImage.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>

namespace {

// One update is about 190 s; four at once must not take much longer.
constexpr int64_t DEADLINE_MS = 400'000;

struct Unit {
    int com;
    const char *variant;
    int baud;
};

const Unit LINE[] = {{2, "tx", 9600}, {5, "rx", 57600}, {9, "tx", 115200}, {17, "rx", 4800}};

class UpdateAllProgram : public ::testing::Test {
protected:
    TempFolder folder;
    std::vector<std::unique_ptr<UnitSimProcess>> units;

    void SetUp() override { ASSERT_TRUE(shadowComPorts(folder.path())); }

    std::string received(int com) const { return folder.path("received-com" + std::to_string(com)); }

    void startLine(const std::map<int, std::vector<std::string>> &faults = {})
    {
        for (const Unit &unit : LINE) {
            std::filesystem::create_directory(received(unit.com));
            std::vector<std::string> args = {"--com",    std::to_string(unit.com),  "--variant", unit.variant,
                                             "--baud",   std::to_string(unit.baud), "--dir",     folder.path(),
                                             "--images", received(unit.com)};
            if (faults.count(unit.com) != 0) {
                args.insert(args.end(), faults.at(unit.com).begin(), faults.at(unit.com).end());
            }
            units.push_back(std::make_unique<UnitSimProcess>(ORVANE_UNIT_SIM, args));
            ASSERT_TRUE(units.back()->ready()) << "COM" << unit.com;
        }
    }

    struct Run {
        RunResult process;
        nlohmann::json report;
    };

    Run updateAll() const
    {
        RunResult run = runToCompletion({ORVANE_FW_TOOL, "update", "--all", "--json", "--log-dir", "logs"},
                                        folder.path(), DEADLINE_MS);
        EXPECT_FALSE(run.timedOut) << run.errors;
        return {run, nlohmann::json::parse(run.output, nullptr, false)};
    }

    void expectImagesIntact(const Unit &unit) const
    {
        const std::string images = ORVANE_IMAGES_DIR;
        const std::string fpga = std::string("M731946_") + (unit.variant[0] == 't' ? "TX" : "RX") + "_XC7A35_1_05.mcs";
        EXPECT_EQ(receivedImageDifference(ORVANE_FW_TOOL, images + "/" + fpga, received(unit.com) + "/fpga.bin",
                                          folder.path()),
                  "")
            << "COM" << unit.com;
        EXPECT_EQ(receivedImageDifference(ORVANE_FW_TOOL, images + "/M731946_MCU_6G-SDI_61_1_05.hex",
                                          received(unit.com) + "/mcu.bin", folder.path()),
                  "")
            << "COM" << unit.com;
    }

    static std::map<int, std::string> resultsOf(const nlohmann::json &report)
    {
        std::map<int, std::string> results;
        for (const nlohmann::json &unit : report["units"]) {
            results[unit["port"].get<int>()] = unit["result"].get<std::string>();
        }
        return results;
    }
};

TEST_F(UpdateAllProgram, FourUnitsConfirmedAtOnce)
{
    startLine();
    const Run run = updateAll();
    EXPECT_EQ(run.process.exitStatus, 0) << run.process.errors;
    ASSERT_TRUE(run.report.is_object()) << run.process.output;
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "confirmed"}}));
    for (const Unit &unit : LINE) {
        expectImagesIntact(unit);
    }
}

TEST_F(UpdateAllProgram, UnitRefusingFirmwareFailsAloneWithItsLog)
{
    startLine({{5, {"--fault", "mcu-data:garbled"}}});
    const Run run = updateAll();
    EXPECT_EQ(run.process.exitStatus, 1) << run.process.errors;
    ASSERT_TRUE(run.report.is_object()) << run.process.output;
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "failed"}, {9, "confirmed"}, {17, "confirmed"}}));
    // Where the run's own folder under logs/ keeps it, as the report says.
    const nlohmann::json &failed = run.report["units"][1];
    ASSERT_EQ(failed["port"], 5);
    EXPECT_EQ(failed["log"].get<std::string>().rfind("logs/", 0), 0u) << failed;
    const std::string log = readFile(folder.path(failed["log"].get<std::string>()));
    EXPECT_NE(log.find("Expected : SUCCESS"), std::string::npos) << log;
    for (const Unit &unit : {LINE[0], LINE[2], LINE[3]}) {
        expectImagesIntact(unit);
    }
}

}  // namespace
