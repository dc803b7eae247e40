// The two prompts of the manual port selection against whatever a person or
// a script may type: never a hang, never an overflow, always a clear end.
#include "NamedCase.h"
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

namespace {

struct Answer : NamedCase {
    std::string line;  // without its line end
};

class RefusedPortAnswer : public Prompts, public ::testing::WithParamInterface<Answer> {};

}  // namespace

TEST_P(RefusedPortAnswer, IsAskedAgainUntilOneDecimalNumberComes)
{
    EXPECT_EQ(run(GetParam().line + "\n  7  \n"), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + repeated(PORT_PROMPT, 2) +
                                     "\r\nOpening COM7....................ERROR: Opening COM7 failed !" +
                                     PRESS_ANY_KEY);
    EXPECT_EQ(simConsole_keyWaits(), 1);
}

INSTANTIATE_TEST_SUITE_P(Prompts, RefusedPortAnswer,
                         ::testing::Values(Answer{"word", "COM7"}, Answer{"empty_line", ""},
                                           Answer{"beyond_int", "123456789012"}, Answer{"two_numbers", "7 9600"},
                                           Answer{"thousand_digits", std::string(1000, '7')},
                                           // Only the line's beginning fits the answer kept; what
                                           // follows must still be looked at.
                                           Answer{"letter_after_forty_spaces", "7" + std::string(40, ' ') + "x"}),
                         CaseName());

namespace {

class InputEndingAtThePortPrompt : public Prompts, public ::testing::WithParamInterface<Answer> {};

}  // namespace

TEST_P(InputEndingAtThePortPrompt, EndsLikeAPortThatCannotBeOpened)
{
    const std::string &answers = GetParam().line;
    EXPECT_EQ(run(answers), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + repeated(PORT_PROMPT, answers.empty() ? 1 : 2) + PRESS_ANY_KEY);
    EXPECT_EQ(simConsole_keyWaits(), 1);
}

INSTANTIATE_TEST_SUITE_P(Prompts, InputEndingAtThePortPrompt,
                         ::testing::Values(Answer{"at_once", ""}, Answer{"after_a_refused_line", "x\n"}), CaseName());

TEST_F(Prompts, LastLineWithoutItsLineEndStillCounts)
{
    EXPECT_EQ(run("12"), -1);
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + PORT_PROMPT +
                                     "\r\nOpening COM12....................ERROR: Opening COM12 failed !" +
                                     PRESS_ANY_KEY);
    EXPECT_EQ(simConsole_keyWaits(), 1);
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
    EXPECT_EQ(simConsole_text(), BANNER + "FAILED" + PORT_PROMPT + "\r\nOpening COM7....................OK\r\n" +
                                     BAUD_PROMPT + PRESS_ANY_KEY);
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
