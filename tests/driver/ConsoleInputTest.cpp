// The two prompts of the manual port selection against whatever a person or
// a script may type: never a hang, never an overflow, always a clear end.
#include "SimTest.h"
#include "UpdateTranscript.h"

#include <string>

int OrvaneFwUpgrade_main();

namespace {

using namespace transcript;

const std::string PORT_PROMPT = "\n\r\n\rEnter the COM port number : ";
const std::string BAUD_PROMPT = "\n\r\n\rEnter the BAUD RATE       : ";

class Prompts : public SimTest {
protected:
    std::string typed;
    std::string input() const override { return typed; }

    int run(const std::string &answers)
    {
        typed = answers;
        simConsole_begin(typed);
        return OrvaneFwUpgrade_main();
    }

    static std::string repeated(const std::string &text, int times)
    {
        std::string all;
        for (int i = 0; i < times; ++i) {
            all += text;
        }
        return all;
    }
};

}  // namespace

TEST_F(Prompts, AnythingButOneDecimalNumberIsAskedAgain)
{
    const std::string answers = "COM7\n\n123456789012\n7 9600\n" + std::string(1000, '7') + "\n  7  \n";
    EXPECT_EQ(run(answers), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + repeated(PORT_PROMPT, 6) +
                                     "\r\nOpening COM7....................ERROR: Opening COM7 failed !" +
                                     PRESS_ANY_KEY);
    EXPECT_EQ(simConsole_keyWaits(), 1);
}

TEST_F(Prompts, EndOfInputEndsLikeAPortThatCannotBeOpened)
{
    for (const std::string answers : {"", "x\n", "12"}) {
        SetUp();
        const int status = run(answers);
        const std::string text = simConsole_text();
        if (answers == "12") {
            // A last line without its line end still counts.
            EXPECT_EQ(text, BANNER + "FAILED" + PORT_PROMPT +
                                "\r\nOpening COM12....................ERROR: Opening COM12 failed !" + PRESS_ANY_KEY);
        } else {
            EXPECT_EQ(text, BANNER + "FAILED" + repeated(PORT_PROMPT, answers.empty() ? 1 : 2) + PRESS_ANY_KEY)
                << answers;
        }
        EXPECT_EQ(status, -1);
        EXPECT_EQ(simConsole_keyWaits(), 1);
        TearDown();
    }
}

TEST_F(Prompts, NegativePortIsAPortThatDoesNotExist)
{
    EXPECT_EQ(run("-3\n"), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + PORT_PROMPT +
                                     "\r\nOpening COM-3....................ERROR: Opening COM-3 failed !" +
                                     PRESS_ANY_KEY);
}

TEST_F(Prompts, BadRatesAreAskedAgainAndARefusedRateClosesThePort)
{
    simPort_setSilent(7);
    EXPECT_EQ(run("7\nfast\n\n999999999999\n-9600\n"), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + PORT_PROMPT + "\r\nOpening COM7....................OK\r\n" +
                                     repeated(BAUD_PROMPT, 4) + "\r\nSetting baud rate at -9600.........." +
                                     PRESS_ANY_KEY);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(Prompts, EndOfInputAtTheRatePromptClosesThePort)
{
    simPort_setSilent(7);
    EXPECT_EQ(run("7\n"), -1);
    EXPECT_EQ(simConsole_text(),
              BANNER + "FAILED" + PORT_PROMPT + "\r\nOpening COM7....................OK\r\n" + BAUD_PROMPT + PRESS_ANY_KEY);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(Prompts, RateEqualToTheStagedOneIsAcceptedAndTheUpdateRuns)
{
    // The search staged 1200 last; a unit that never answers the probe is
    // then reached by hand at that rate.
    UnitConfig config;
    config.normalBaud = 1200;
    config.faults.push_back({UnitExchange::Probe, UnitFault::Silence, 0});
    simPort_attachUnit(7, config);
    EXPECT_EQ(run("7\n1200\n"), 0);
    const std::string text = simConsole_text();
    const std::string selected = BANNER + "FAILED" + PORT_PROMPT + "\r\nOpening COM7....................OK\r\n" +
                                 BAUD_PROMPT + "\r\nSetting baud rate at 1200..........OK\r\n" + VERSIONS;
    EXPECT_EQ(text.substr(0, selected.size()), selected);
    EXPECT_NE(text.find(SUCCESS_LINE), std::string::npos);
}

TEST_F(Prompts, RateRefusedByThePortEndsWithStatusMinusOne)
{
    simPort_setSilent(7);
    EXPECT_EQ(run("7\n12345\n"), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + PORT_PROMPT + "\r\nOpening COM7....................OK\r\n" +
                                     BAUD_PROMPT + "\r\nSetting baud rate at 12345.........." + PRESS_ANY_KEY);
    EXPECT_EQ(simPorts_openHandles(), 0);
}
