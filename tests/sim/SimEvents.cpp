#include "SimEvents.h"

#include "SimConsole.h"

#include <utility>

namespace {

int64_t nowUs = 0;
std::vector<SimEvent> events;

}  // namespace

int64_t simClock_nowUs()
{
    return nowUs;
}

void simClock_advanceUs(int64_t microseconds)
{
    nowUs += microseconds;
}

void simEvents_reset()
{
    simConsole_collect();
    nowUs = 0;
    events.clear();
}

void simEvents_record(SimEventKind kind, int port, const std::string &bytes, int baud)
{
    SimEvent event{0, kind, port, bytes};
    event.baud = baud;
    simEvents_add(event);
}

void simEvents_add(SimEvent event)
{
    // Keeps the log in order: text printed before this event comes first.
    simConsole_collect();
    event.timeUs = nowUs;
    events.push_back(std::move(event));
}

const std::vector<SimEvent> &simEvents_all()
{
    return events;
}

std::string simEvents_joined(SimEventKind kind, int port)
{
    std::string joined;
    for (const SimEvent &event : events) {
        if (event.kind == kind && (port == 0 || event.port == port)) {
            joined += event.bytes;
        }
    }
    return joined;
}
