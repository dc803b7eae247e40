// The far end of the port under test, for the serial conformance tests: the
// same tests run against the POSIX layer (the peer is a pseudo-terminal's
// master, in real time) and against the simulated ports (the peer is a
// scripted device on the virtual clock). Each executable links one of the two
// implementations.
#ifndef SERIALPEER_H_
#define SERIALPEER_H_

#include "platform/PortHolder.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The port the peer is on, and one that is absent.
constexpr int PEER_COM = 7;
constexpr int ABSENT_COM = 8;

// A fresh machine: PEER_COM present with the peer behind it, every other
// port absent, nothing open.
void peer_begin();
// Waits for what the peer still has to do, and takes the machine down.
void peer_end();

// `bytes` reach the port `afterMs` from now.
void peer_send(const std::string &bytes, int afterMs = 0);
// Returns once what was sent "now" is there for the port to read.
void peer_settle();
// What the port has written that the peer has not yet received: up to
// `count` bytes, waiting for them at most `windowMs`.
std::string peer_receive(std::size_t count, int windowMs);
// From now on the peer takes what the port writes only as fast as a slow
// line would, until it has `total` bytes.
void peer_takeSlowly(std::size_t total);
// From now on the peer takes what the port writes a few bytes at a time,
// until it has `total` bytes, behind what was on the line before: a write
// must wait for room all along. On a real line a write that waits comes back
// part-done when a signal comes (as a timer's would); the peer sends one
// whenever the writer waits, and the port must go on from where it stopped.
void peer_takeAFewBytesAtATime(std::size_t total);
// How many of them it has taken so far.
std::size_t peer_taken();
// All of them, once taken.
std::string peer_finishTaking();

// Another opener holds the port, or lets it go.
void peer_holdPort(bool held);
// From now on the peer takes nothing the port writes, after what the line
// can hold (a far end that stopped reading, or a unit holding CTS low).
void peer_stopTaking();
// Another program opens the port without taking any lock and keeps it open
// (a terminal program, `cat`), until peer_end; what the system shows of it.
PORT_HOLDER peer_holdPortWithoutALock();
// The program on the far end of the line also holds the port's own side
// open, as the emulated unit does to keep its line up, until peer_end.
void peer_holdBothEnds();

// The clock the test runs on, in microseconds.
int64_t peer_nowUs();
// How early and how late against a figure an event may come on this clock:
// nothing on the virtual clock, a few milliseconds of scheduling on a real one.
int64_t peer_earlyUs();
int64_t peer_lateUs();

#endif
