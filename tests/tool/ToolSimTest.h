// A fresh simulated machine for the tool's commands, with the program's
// buffers as the tool's main allocates them.
#ifndef TESTS_TOOLSIMTEST_H_
#define TESTS_TOOLSIMTEST_H_

#include "SimTest.h"

#include "console/ToolConsole.h"

class ToolSimTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        // The transcripts are those of a terminal, figures redrawn in place.
        toolConsole_setProgress(ProgressStyle::Drawn);
        ASSERT_TRUE(allocateProgramBuffers());
    }
};

#endif
