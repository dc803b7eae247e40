// The peer on the simulated platform: a device the test scripts, on the
// virtual clock. A write there returns once its last byte has gone out at the
// line's rate, so the peer has every byte of it by then.
#include "SerialPeer.h"

#include "SimEvents.h"
#include "SimSerial.h"

#include <algorithm>

namespace {

std::size_t receivedSoFar = 0;
std::size_t slowTotal = 0;

std::string written()
{
    return simEvents_joined(SimEventKind::Write, PEER_COM);
}

}  // namespace

void peer_begin()
{
    simEvents_reset();
    simPorts_reset();
    simPort_setSilent(PEER_COM);
    receivedSoFar = 0;
    slowTotal = 0;
}

void peer_end()
{
    simPorts_reset();
}

void peer_send(const std::string &bytes, int afterMs)
{
    simPort_arrive(PEER_COM, simClock_nowUs() + static_cast<int64_t>(afterMs) * 1000, bytes);
}

void peer_settle()
{
    // Bytes sent now are there now.
}

std::string peer_receive(std::size_t count, int)
{
    const std::string all = written();
    const std::string got = all.substr(std::min(receivedSoFar, all.size()), count);
    receivedSoFar += got.size();
    return got;
}

void peer_takeSlowly(std::size_t total)
{
    // The line's own rate is the slow taker.
    slowTotal = total;
}

void peer_takeAFewBytesAtATime(std::size_t total)
{
    // The line's rate is what holds the write back; a simulated write is
    // never cut short.
    peer_takeSlowly(total);
}

std::size_t peer_taken()
{
    return std::min(written().size() - receivedSoFar, slowTotal);
}

std::string peer_finishTaking()
{
    return peer_receive(slowTotal, 0);
}

void peer_holdPort(bool held)
{
    simPort_setHeld(PEER_COM, held);
}

void peer_stopTaking()
{
    // A line that holds a few KiB before it stops.
    simPort_stallWriteAfter(PEER_COM, "", 1, 0, 4096);
}

PORT_HOLDER peer_holdPortWithoutALock()
{
    PORT_HOLDER holder{4242, "sleep"};
    simPort_setHeldBy(PEER_COM, holder.processId, holder.name);
    return holder;
}

void peer_holdBothEnds()
{
    // The unit behind a simulated port is never another opener.
}

int64_t peer_nowUs()
{
    return simClock_nowUs();
}

int64_t peer_earlyUs()
{
    return 0;
}

int64_t peer_lateUs()
{
    return 0;
}
