// A fixture for tests of code that works in the program's buffers and prints
// on the console: the buffers as at start-up, the console captured.
#ifndef TESTS_PROGRAMBUFFERSTEST_H_
#define TESTS_PROGRAMBUFFERSTEST_H_

#include "SimConsole.h"
#include "base/ProgramState.h"

#include <gtest/gtest.h>

class ProgramBuffersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(allocateProgramBuffers());
        simConsole_begin();
    }
    void TearDown() override
    {
        simConsole_end();
        releaseProgramBuffers();
    }
};

#endif
