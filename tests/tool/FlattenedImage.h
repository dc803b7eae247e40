// The image a unit must end up with: OrvaneFwTool's flattening of the file
// the programs embed.
#ifndef TESTS_FLATTENEDIMAGE_H_
#define TESTS_FLATTENEDIMAGE_H_

#include "ProcessRunner.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

inline std::string flattenedImage(const std::string &tool, const std::string &imagesDir, const TempFolder &folder,
                                  const std::string &imageFile)
{
    const std::string out = folder.path(imageFile + ".bin");
    const RunResult run = runToCompletion({tool, "flatten", imagesDir + "/" + imageFile, out}, folder.path(), 60'000);
    EXPECT_EQ(run.exitStatus, 0) << run.output << run.errors;
    return readFile(out);
}

#endif
