#include "SimTest.h"

#include "base/EscapedBytes.h"
#include "base/UpdateLog.h"

#include <cstdio>

namespace {

// As the update log shows bytes, and how many when they are cut.
std::string printable(const std::string &bytes, size_t limit)
{
    std::string shown = escapedBytes(bytes, limit);
    if (bytes.size() > limit) {
        shown += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return shown;
}

const char *kindName(SimEventKind kind)
{
    switch (kind) {
    case SimEventKind::Console: return "console";
    case SimEventKind::KeyWait: return "key";
    case SimEventKind::Open: return "open";
    case SimEventKind::Close: return "close";
    case SimEventKind::Write: return "write";
    case SimEventKind::Read: return "read";
    case SimEventKind::Sleep: return "sleep";
    case SimEventKind::CommTimeouts: return "timeouts";
    case SimEventKind::CommState: return "state";
    case SimEventKind::Purge: return "purge";
    case SimEventKind::Escape: return "escape";
    }
    return "?";
}

// The values of a line setting, in the words of its record.
std::string settingsOf(const SimEvent &event)
{
    char text[128] = "";
    const DCB &line = event.line;
    const COMMTIMEOUTS &t = event.timeouts;
    switch (event.kind) {
    case SimEventKind::CommState:
        snprintf(text, sizeof text, "%lu fOutxCtsFlow=%u fDtrControl=%u fRtsControl=%u%s ",
                 static_cast<unsigned long>(line.BaudRate), static_cast<unsigned>(line.fOutxCtsFlow),
                 static_cast<unsigned>(line.fDtrControl), static_cast<unsigned>(line.fRtsControl),
                 event.refused ? " refused" : "");
        break;
    case SimEventKind::CommTimeouts:
        snprintf(text, sizeof text, "interval=%lu total=%lu*n+%lu write=%lu*n+%lu%s ",
                 static_cast<unsigned long>(t.ReadIntervalTimeout),
                 static_cast<unsigned long>(t.ReadTotalTimeoutMultiplier),
                 static_cast<unsigned long>(t.ReadTotalTimeoutConstant),
                 static_cast<unsigned long>(t.WriteTotalTimeoutMultiplier),
                 static_cast<unsigned long>(t.WriteTotalTimeoutConstant), event.refused ? " refused" : "");
        break;
    case SimEventKind::Purge:
    case SimEventKind::Escape: snprintf(text, sizeof text, "0x%02lX ", static_cast<unsigned long>(event.code)); break;
    default: break;
    }
    return text;
}

}  // namespace

int OrvaneFwUpgrade_main();

int SimTest::runProgram(const std::string &answers)
{
    simConsole_begin(answers);
    return OrvaneFwUpgrade_main();
}

void SimTest::printTranscript()
{
    std::string log;
    for (const SimEvent &event : simEvents_all()) {
        char head[64];
        snprintf(head, sizeof head, "%12.6f %-7s COM%-2d ", static_cast<double>(event.timeUs) / 1e6,
                 kindName(event.kind), event.port);
        log += head + settingsOf(event) + printable(event.bytes, 120) + "\n";
    }
    fprintf(stderr, "--- transcript ---\n%s", log.c_str());
}
