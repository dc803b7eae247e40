// The console of the simulated platform: what the program prints is kept in
// memory (with the virtual time of each piece), standard input is a given
// text, and a key wait is counted instead of waiting.
#ifndef SIMCONSOLE_H_
#define SIMCONSOLE_H_

#include <string>

// Starts capturing stdout and replaces stdin with `input`; clears the text and
// the count of key waits.
void simConsole_begin(const std::string &input = "");
// Restores the real stdout and stdin.
void simConsole_end();
// Everything printed since simConsole_begin.
std::string simConsole_text();
// Lets the test framework print on the real stdout for a moment, in the
// middle of a capture.
void simConsole_suspend();
void simConsole_resume();
int simConsole_keyWaits();
// Logs what has been printed since the last call, at the current virtual
// time; the event log calls it before recording each event.
void simConsole_collect();

#endif
