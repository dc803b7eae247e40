// OrvaneFwTool product: the check as the updater's own routine makes it, and,
// when the unit is not the product asked for, what the unit said it is.
#include "ToolSimTest.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"

#include <string>

namespace {

struct ProductCase {
    const char *name;
    bool askTransmitter;
    UnitVariant variant;
    UnitFault fault;
    ToolOutcome outcome;
    const char *ending;  // the console's last words
};

class ToolProductSearch : public ToolSimTest {};

class ToolProduct : public ToolProductSearch, public ::testing::WithParamInterface<ProductCase> {};

}  // namespace

TEST_P(ToolProduct, SaysWhatTheUnitIsWhenItIsNotTheOneAskedFor)
{
    const ProductCase &c = GetParam();
    UnitConfig config;
    config.variant = c.variant;
    if (c.fault != UnitFault::None) {
        config.faults.push_back({UnitExchange::Product, c.fault});
    }
    simPort_attachUnit(2, config);

    EXPECT_EQ(runProductCheck(c.askTransmitter), c.outcome);

    const std::string tail = c.ending;
    const std::string console = simConsole_text();
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail) << console;
    EXPECT_EQ(simPorts_openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ToolProduct,
    ::testing::Values(
        ProductCase{"asked_for", true, UnitVariant::TX, UnitFault::None, ToolOutcome::Done,
                    "Checking product ...OK\r\nThe unit answered \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\\r\\n>>\": "
                    "it is a TX unit.\r\n"},
        ProductCase{"other_variant", false, UnitVariant::TX, UnitFault::None, ToolOutcome::Failed,
                    "Checking product ...FALIED\r\nThe unit answered \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\\r\\n>>\": "
                    "it is a TX unit.\r\n"},
        ProductCase{
            "other_text", true, UnitVariant::RX, UnitFault::ExtraLineEnd, ToolOutcome::Failed,
            "Checking product ...FALIED\r\nThe unit answered \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\\r\\n>>\\r\\n\"."
            "\r\n"},
        ProductCase{"silent", false, UnitVariant::RX, UnitFault::Silence, ToolOutcome::Failed,
                    "Checking product ...FALIED\r\nThe unit did not answer \"%fw -p\".\r\n"}),
    [](const ::testing::TestParamInfo<ProductCase> &c) { return std::string(c.param.name); });

TEST_F(ToolProductSearch, WithoutAUnitExitsFour)
{
    EXPECT_EQ(runProductCheck(true), ToolOutcome::NoUnit);
    EXPECT_NE(simConsole_text().find("ERROR: No unit answered on COM1 to COM32.\r\n"), std::string::npos);
}
