// Where the console text of a tool command goes. With --json standard output
// is kept for the one JSON object and the text goes to standard error. While
// a command talks to a unit its text is captured: every byte the updater's
// texts never hold (control bytes but "\r", "\n" and "\b", bytes from 0x7F)
// is shown as "\xNN", since only a unit can have put it there; while an
// update log is open the text also becomes the log's status lines, in order
// with its events. Either way it reaches the console the moment it is
// printed.
#ifndef TOOLCONSOLE_H_
#define TOOLCONSOLE_H_

#include <string>
#include <string_view>

// How much of it a run shows: -q only the closing line (or the JSON), -v
// also the exchanges with the unit as the update log has them.
enum class ConsoleDetail { Quiet, Normal, Verbose };
void toolConsole_setDetail(ConsoleDetail detail);

// How a percentage redrawn in place reaches the console: drawn as it is on a
// terminal, or as a line per tenth with no backspaces for a pipe or a file.
enum class ProgressStyle { ByConsole, Drawn, Lines };
void toolConsole_setProgress(ProgressStyle style);

// Whose words the captured text is: the command's own, or the modules'
// working notes, which only -v shows (the command then says the outcome).
enum class ConsoleText { Shown, Internal };

// From here on, what is printed on standard output is console text, captured,
// and no path of the modules waits for a key. false when the capture could
// not be set up, and toolConsole_whyNot says why.
bool toolConsole_begin(bool toStandardError, ConsoleText text = ConsoleText::Shown);
std::string toolConsole_whyNot(void);
// Everything printed so far has reached the console and the log (with -q,
// the last line of shown text only); standard output is the real one again.
void toolConsole_end(void);
// The last captured console line that said "FAILED", from that word on
// ("FAILED [Unit not ready]"); empty when none did. Valid after
// toolConsole_end.
std::string toolConsole_lastFailedLine(void);
// Text straight to where console text goes, past the capture: the last words
// of a run that is ended from another thread.
void toolConsole_tell(std::string_view text);

// A run with --json: standard output is kept for its one JSON object, and
// anything else printed there from now on goes to standard error.
bool toolConsole_keepOutputForJson(void);
// One JSON object, a line of its own, on the standard output (the one kept
// for it, or the real one while the console is captured). Safe from another
// thread while the console is captured.
void toolConsole_printJson(const std::string &json);
bool toolConsole_jsonPrinted(void);

#endif
