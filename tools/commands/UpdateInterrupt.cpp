#include "commands/UpdateInterrupt.h"

#include "ToolOutcome.h"
#include "platform/WorkerProcess.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

// How often the watcher looks at the flag the interrupt raised.
const std::chrono::milliseconds LOOK_INTERVAL(20);

std::thread g_watcher;
std::atomic<bool> g_stop{false};
// Held by whichever ends the run: the run itself or the watcher, never both.
std::mutex g_ending;

void watch(void (*finish)(void))
{
    while (!g_stop) {
        if (WorkerProcess_Interrupted()) {
            if (g_ending.try_lock()) {
                finish();
                std::_Exit(exitStatus(ToolOutcome::Interrupted));
            }
            return;
        }
        std::this_thread::sleep_for(LOOK_INTERVAL);
    }
}

}  // namespace

void updateInterrupt_watch(void (*finish)(void))
{
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    g_stop = false;
    g_watcher = std::thread(watch, finish);
}

void updateInterrupt_stopWatching(void)
{
    const std::lock_guard<std::mutex> ending(g_ending);
    g_stop = true;
    if (g_watcher.joinable()) {
        g_watcher.join();
    }
}
