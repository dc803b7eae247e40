#include "ReceivedImage.h"

#include "ReadFile.h"
#include "RunResult.h"

#include <algorithm>
#include <filesystem>

std::string receivedImageDifference(const std::string &tool, const std::string &hexFile,
                                    const std::string &receivedFile, const std::string &workFolder)
{
    const std::string flattenedFile =
        workFolder + "/" + std::filesystem::path(hexFile).filename().string() + ".flattened";
    const RunResult run = runToCompletion({tool, "flatten", hexFile, flattenedFile}, workFolder, 60'000);
    if (run.exitStatus != 0) {
        return "OrvaneFwTool flatten " + hexFile + " ended with status " + std::to_string(run.exitStatus) + ": " +
               run.errors;
    }
    const std::string expected = readFile(flattenedFile);
    const std::string received = readFile(receivedFile);
    if (received == expected) {
        return "";
    }
    const auto at = std::mismatch(received.begin(), received.end(), expected.begin(), expected.end()).first;
    return receivedFile + ": " + std::to_string(received.size()) + " bytes against " + std::to_string(expected.size()) +
           " flattened, first difference at byte " + std::to_string(at - received.begin());
}
