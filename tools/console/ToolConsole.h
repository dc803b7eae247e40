// Where the console text of a tool command goes. With --json standard output
// is kept for the one JSON object and the text goes to standard error; while
// an update log is open the text also becomes the log's status lines, in
// order with its events, and still reaches the console the moment it is
// printed.
#ifndef TOOLCONSOLE_H_
#define TOOLCONSOLE_H_

// From here on, what is printed on standard output is console text.
// FALSE when the capture for the log could not be set up.
bool toolConsole_begin(bool toStandardError);
// Everything printed so far has reached the console and the log; standard
// output is the real one again.
void toolConsole_end(void);

#endif
