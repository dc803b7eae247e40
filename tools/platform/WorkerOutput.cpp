#include "platform/WorkerOutput.h"

#include "platform/WorkerProcess.h"

#include <array>

namespace {

std::vector<std::array<std::string, 2>> g_output;

}  // namespace

int WorkerOutput_Open(void)
{
    g_output.emplace_back();
    return static_cast<int>(g_output.size()) - 1;
}

void WorkerOutput_Append(int worker, int stream, const char *bytes, size_t length)
{
    g_output[worker][stream].append(bytes, length);
}

void WorkerOutput_Forget(void)
{
    g_output.clear();
}

std::string WorkerProcess_TakeOutput(int worker, int stream)
{
    std::string taken;
    taken.swap(g_output[worker][stream]);
    return taken;
}
