// OrvaneFwTool scan and update as a production line runs them, against
// OrvaneUnitSim in real time: one run per outcome. A whole update lasts over
// three minutes (the updater's reboot wait), so each case is its own CTest
// test and they run side by side, each in its own folder.
#include "ReadFile.h"
#include "ReceivedImage.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Json = nlohmann::json;

constexpr int64_t UPDATE_DEADLINE_MS = 300'000;
constexpr int64_t SHORT_RUN_DEADLINE_MS = 120'000;

const std::string SUCCESS_LINE = "The update was successful, the unit is now operational";

// A pseudo-terminal behind dosdevices/comN that this process holds open
// exclusively, as another program holding the port would.
class HeldPort {
public:
    HeldPort(const std::string &folder, int com)
    {
        char name[256] = "";
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            return;
        }
        held_ = ioctl(slave_, TIOCEXCL) == 0 && flock(slave_, LOCK_EX | LOCK_NB) == 0 && linkComPort(folder, com, name);
    }
    ~HeldPort()
    {
        if (slave_ >= 0) {
            close(slave_);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }
    HeldPort(const HeldPort &) = delete;
    HeldPort &operator=(const HeldPort &) = delete;

    bool held() const { return held_; }

private:
    int master_ = -1, slave_ = -1;
    bool held_ = false;
};

class ToolCommands : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override { ASSERT_TRUE(shadowComPorts(folder.path())); }

    std::vector<std::string> unitArgs(int com, const char *variant, int baud) const
    {
        const std::string name = "com" + std::to_string(com);
        return {"--com",   std::to_string(com),          "--variant", variant,
                "--baud",  std::to_string(baud),         "--dir",     folder.path(),
                "--trace", folder.path(name + ".trace"), "--images",  folder.path(name + "-received")};
    }

    RunResult runTool(std::vector<std::string> args, int64_t deadlineMs) const
    {
        args.insert(args.begin(), ORVANE_FW_TOOL);
        return runToCompletion(args, folder.path(), deadlineMs);
    }

    // "" when the unit on COM9 holds the tool's flattening of the file the
    // program embeds.
    std::string receivedDifference(const std::string &received, const std::string &imageFile) const
    {
        return receivedImageDifference(ORVANE_FW_TOOL, std::string(ORVANE_IMAGES_DIR) + "/" + imageFile,
                                       folder.path("com9-received/" + received), folder.path());
    }

    static Json jsonOf(const RunResult &run)
    {
        EXPECT_FALSE(run.timedOut) << "killed after " << run.elapsedMs << " ms:\n" << run.errors;
        const Json object = Json::parse(run.output, nullptr, false);
        EXPECT_FALSE(object.is_discarded()) << "standard output is not one JSON object: " << run.output;
        return object;
    }
};

// Each text found in the log after the one before it.
void expectInOrder(const std::string &log, const std::vector<std::string> &texts)
{
    size_t at = 0;
    for (const std::string &text : texts) {
        const size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "not found after offset " << at << ": " << text << "\n" << log;
        at = found + text.size();
    }
}

// The event lines' times never go back.
void expectTimesInOrder(const std::string &log)
{
    std::istringstream lines(log);
    long long last = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 12 && line.compare(8, 4, " ms ") == 0) {
            const long long time = std::stoll(line.substr(0, 8));
            EXPECT_GE(time, last) << line;
            last = time;
        }
    }
}

}  // namespace

TEST_F(ToolCommands, ScanListsEveryUnitAndTheBusyPort)
{
    UnitSimProcess tx(ORVANE_UNIT_SIM, unitArgs(4, "tx", 9600));
    UnitSimProcess rx(ORVANE_UNIT_SIM, unitArgs(9, "rx", 57600));
    HeldPort held(folder.path(), 6);
    ASSERT_TRUE(tx.ready() && rx.ready() && held.held());

    const RunResult run = runTool({"scan", "--json"}, SHORT_RUN_DEADLINE_MS);

    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    Json expected = Json::parse(R"({"units":[
        {"port":4,"path":null,"baud":9600,"product":"TX","firmware":"1.00.04","fpga":"SDI6G 1.04","device":1,
         "current":false},
        {"port":9,"path":null,"baud":57600,"product":"RX","firmware":"1.00.04","fpga":"SDI6G 1.04","device":1,
         "current":false}],
        "busy":[6]})");
    expected["units"][0]["path"] = tx.ptyPath();
    expected["units"][1]["path"] = rx.ptyPath();
    Json found = jsonOf(run);
    const Json ports = found["ports"];
    found.erase("ports");
    EXPECT_EQ(found, expected) << run.output;
    // Every other port of COM1-32: absent, but COM6; each with its path.
    ASSERT_EQ(ports.size(), 30u) << ports;
    EXPECT_EQ(ports[4]["path"].get<std::string>().rfind("/dev/pts/", 0), 0u) << ports[4];
    Json busy = ports[4];
    busy.erase("path");
    EXPECT_EQ(busy, Json::parse(R"({"port":6,"reason":"busy","phase":"search"})"));
    EXPECT_EQ(ports[0].value("path", Json()), "/nonexistent/orvane-no-port") << ports[0];
    Json absent = ports[0];
    absent.erase("path");
    EXPECT_EQ(absent, Json::parse(R"({"port":1,"reason":"absent","phase":"search"})"));
    EXPECT_NE(run.errors.find("COM6   /dev/pts/"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("COM4   " + tx.ptyPath()), std::string::npos) << run.errors;
}

TEST_F(ToolCommands, ScanWithoutAnyUnitExitsFour)
{
    const RunResult run = runTool({"scan", "--json"}, SHORT_RUN_DEADLINE_MS);
    EXPECT_EQ(run.exitStatus, 4);
    Json found = jsonOf(run);
    EXPECT_EQ(found["ports"].size(), 32u);
    found.erase("ports");
    EXPECT_EQ(found, Json::parse(R"({"units":[],"busy":[]})"));
}

TEST_F(ToolCommands, ReceiverOnItsPortIsUpdatedConfirmedAndLogged)
{
    UnitSimProcess rx(ORVANE_UNIT_SIM, unitArgs(9, "rx", 57600));
    ASSERT_TRUE(rx.ready());

    const RunResult run = runTool({"update", "--port", "9", "--json", "--log", "update.log"}, UPDATE_DEADLINE_MS);
    EXPECT_EQ(rx.stop(), 0);

    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    Json result = jsonOf(run);
    EXPECT_GT(result["seconds"].get<double>(), 140.0);
    result.erase("seconds");
    Json expected = Json::parse(R"({"port":9,"path":null,"baud":57600,"result":"confirmed","exit":0,"log":"update.log",
                                    "product":"RX","firmware":"1.00.04","fpga":"SDI6G 1.04","device":1,
                                    "firmware_before":"1.00.04","firmware_after":"1.00.05",
                                    "reason":null,"phase":null})");
    expected["path"] = rx.ptyPath();
    EXPECT_EQ(result, expected);
    EXPECT_NE(run.errors.find(SUCCESS_LINE), std::string::npos) << run.errors;

    EXPECT_EQ(receivedDifference("fpga.bin", "M731946_RX_XC7A35_1_05.mcs"), "");
    EXPECT_EQ(receivedDifference("mcu.bin", "M731946_MCU_6G-SDI_61_1_05.hex"), "");

    const std::string log = readFile(folder.path("update.log"));
    expectInOrder(
        log, {
                 "OrvaneFwTool 1.0.5 update log, firmware 1.00.05\nstarted ",
                 "\ncommand OrvaneFwTool update --port 9 --json --log update.log\n",
                 "image M731946_RX_XC7A35_1_05.mcs (RX FPGA configuration): text 3154210 bytes, image 1121376 bytes, "
                 "checksum 4275807257\n",
                 "status  You are about to upload the firmware version 1.0.5\n",
                 "look    COM9 present\n",
                 "open    COM9 at 115200 baud, CTS flow control off\n",
                 "open    COM9 at 57600 baud, CTS flow control off\n",
                 "sent    \"%%%help -c version\\n\\r\" (20 bytes)\n",
                 "reply   \"version\\n\\r   version <no parameters> {Get the current firmware version}\\r\\n>>\" (74 "
                 "bytes)\n",
                 "status  Detecting COM port and Baud Rate..................OK\n",
                 "port    COM9 leads to " + rx.ptyPath() + "\n",
                 "set     CTS flow control on\n",
                 "sent    \"%%%fw -v\\n\\r\" (10 bytes)\n",
                 "status  Checking fpga version ..................  SDI6G 1.04  device:1\n",
                 "sent    \"%%%fw -p\\n\\r\" (10 bytes)\n",
                 "sent    \"%%%fw -p\\n\\r\" (10 bytes)\n",
                 "reply   \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\\r\\n>>\" (40 bytes)\n",
                 "status  Checking product .......... RX OK\n",
                 "status  Preparing to Upload Programmable Logic ............\n",
                 "sent    \"%%%fw -l 4275807257 1121376\\n\\r\" (29 bytes)\n",
                 "reply   \"Ready\" (5 bytes)\n",
                 "status  Preparing to Upload Programmable Logic ............ OK\n",
                 "set     rate 115200 baud\n",
                 "data    10240 bytes in ",
                 "status  Sending Programmable Logic data ................... 50%\n",
                 "data    5216 bytes in ",
                 "status  Sending Programmable Logic data ................... 100%\n",
                 "reply   \"SUCCESS\" (7 bytes)\n",
                 "status  Sending Programmable Logic data ................... 100%OK\n",
                 "sent    \"%%%fw -h 4279021583 117648\\n\\r\" (28 bytes)\n",
                 "reply   \"Ready\" (5 bytes)\n",
                 "data    5008 bytes in ",
                 "reply   \"SUCCESS\" (7 bytes)\n",
                 "set     rate 57600 baud\n",
                 "status  Please wait while the unit is rebooting ...........  50%\n",
                 "reply   \"[Dexrig 6V IZA DOVOVUDI ZARE RIZOR 1.0.5]\\r\\n>>\" (45 bytes)\n",
                 "status  " + SUCCESS_LINE + "\n",
                 "sent    \"%%%fw -v\\n\\r\" (10 bytes)\n",
                 "status  Firmware before: 1.00.04, after: 1.00.05\n",
                 "version firmware before 1.00.04, after 1.00.05\n",
                 "close   COM9 at 57600 baud, CTS flow control on\n",
                 "verdict confirmed, exit status 0\n",
             });
    expectTimesInOrder(log);
}

TEST_F(ToolCommands, UnitThatKeepsItsOldFirmwareAfterTheRebootEndsFailed)
{
    std::vector<std::string> args = unitArgs(4, "tx", 9600);
    args.push_back("--keep-firmware");
    UnitSimProcess tx(ORVANE_UNIT_SIM, args);
    ASSERT_TRUE(tx.ready());

    const RunResult run = runTool({"update", "--port", "4", "--json"}, UPDATE_DEADLINE_MS);
    EXPECT_EQ(tx.stop(), 0);

    EXPECT_EQ(run.exitStatus, 1) << run.errors;
    const Json result = jsonOf(run);
    EXPECT_EQ(result["result"], "failed");
    EXPECT_EQ(result["firmware_after"], "1.00.04");
    EXPECT_EQ(result["error"], "The unit reports firmware 1.00.04 after its reboot, not 1.00.05");
}

TEST_F(ToolCommands, UnitThatRefusesTheFpgaUploadFailsWithinSeconds)
{
    std::vector<std::string> args = unitArgs(3, "tx", 9600);
    args.insert(args.end(), {"--fault", "fpga-command:garbled"});
    UnitSimProcess tx(ORVANE_UNIT_SIM, args);
    ASSERT_TRUE(tx.ready());

    const RunResult run = runTool({"update", "--json"}, SHORT_RUN_DEADLINE_MS);
    EXPECT_EQ(tx.stop(), 0);

    EXPECT_EQ(run.exitStatus, 1) << run.errors;
    // The search, the queries and two read windows of 10 s.
    EXPECT_LT(run.elapsedMs, 45'000);
    const Json result = jsonOf(run);
    EXPECT_EQ(result["result"], "failed");
    EXPECT_EQ(result["port"], 3);
    EXPECT_EQ(result["product"], "TX");
    // A pipe takes the console's lines as they stand once finished.
    EXPECT_NE(run.errors.find("FAILED [Unit not ready]\nERROR: The update was not successful.\n"), std::string::npos)
        << run.errors;
}

// A unit that stops taking bytes in the middle of the FPGA upload (its
// emulator stopped, so the pseudo-terminal fills up) cannot hold the update
// nor the port: the write window ends it, failed, saying where it stalled.
TEST_F(ToolCommands, UnitStoppedMidFpgaUploadFailsAsStalledWithinTheWriteWindow)
{
    UnitSimProcess tx(ORVANE_UNIT_SIM, unitArgs(3, "tx", 9600));
    ASSERT_TRUE(tx.ready());

    RunResult run;
    std::thread tool([&] { run = runTool({"update", "--port", "3", "--json", "--log", "update.log"}, 180'000); });
    // Stopped within the 10 s read window that follows the FPGA upload
    // command: "Ready" is out by then, the image not yet.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (readFile(folder.path("update.log")).find("sent    \"%%%fw -l") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_TRUE(tx.signal(SIGSTOP));
    tool.join();
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - stopped);
    tx.signal(SIGCONT);
    EXPECT_EQ(tx.stop(), 0);

    EXPECT_EQ(run.exitStatus, 1) << run.errors;
    EXPECT_LT(took.count(), 90);
    const Json result = jsonOf(run);
    EXPECT_EQ(result["result"], "failed");
    EXPECT_EQ(result["exit"], 1);
    EXPECT_EQ(result["reason"], "stalled") << run.output;
    EXPECT_EQ(result["phase"], "fpga-upload");
    EXPECT_EQ(result["error"].get<std::string>().rfind("stalled in FPGA upload: ", 0), 0u) << result["error"];
    const std::string log = readFile(folder.path("update.log"));
    expectInOrder(log, {"set     rate 115200 baud\n", "write FAILED\n",
                        "error   stalled in FPGA upload: ", "verdict failed, exit status 1, stalled in fpga-upload\n"});
}

// A unit reached by its device path rather than a COM number: no port
// number, the device named, and the update confirmed.
TEST_F(ToolCommands, UnitReachedByItsDevicePathIsUpdatedAndConfirmed)
{
    UnitSimProcess rx(ORVANE_UNIT_SIM, unitArgs(9, "rx", 57600));
    ASSERT_TRUE(rx.ready());

    const RunResult run = runTool({"update", "--port", rx.ptyPath(), "--json"}, UPDATE_DEADLINE_MS);
    EXPECT_EQ(rx.stop(), 0);

    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    Json result = jsonOf(run);
    result.erase("seconds");
    Json expected = Json::parse(R"({"port":null,"path":null,"baud":57600,"result":"confirmed","exit":0,"log":null,
                                    "product":"RX","firmware":"1.00.04","fpga":"SDI6G 1.04","device":1,
                                    "firmware_before":"1.00.04","firmware_after":"1.00.05",
                                    "reason":null,"phase":null})");
    expected["path"] = rx.ptyPath();
    EXPECT_EQ(result, expected);
    EXPECT_NE(run.errors.find("COM PORT Number : " + rx.ptyPath() + "\n"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(SUCCESS_LINE), std::string::npos) << run.errors;
}

TEST_F(ToolCommands, NamedPortWithNothingThereExitsFourAndSaysWhy)
{
    const RunResult run = runTool({"update", "--port", "7", "--json"}, SHORT_RUN_DEADLINE_MS);
    EXPECT_EQ(run.exitStatus, 4);
    Json result = jsonOf(run);
    result.erase("seconds");
    EXPECT_EQ(result,
              Json::parse(R"({"port":7,"path":"/nonexistent/orvane-no-port","baud":null,"result":"no-unit",)"
                          R"("exit":4,"log":null,"reason":"absent","phase":"search",)"
                          R"json("error":"COM7 cannot be opened: it is absent (No such file or directory)",)json"
                          R"("advice":"check the cable and the port name: COM7 is not there"})"));
    // A pipe takes the console's lines as they stand once finished.
    EXPECT_NE(run.errors.find("ERROR: COM7 cannot be opened: it is absent (No such file or directory).\n"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("Next step: check the cable and the port name: COM7 is not there.\r\n"),
              std::string::npos)
        << run.errors;
}
