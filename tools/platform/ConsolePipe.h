// The one piece of the tool's console capture that differs between the
// platforms: a pipe whose ends are C runtime descriptors, in binary mode,
// not inherited by child processes.
#ifndef CONSOLEPIPE_H_
#define CONSOLEPIPE_H_

// fds[0] reads what fds[1] takes; false when no pipe could be made.
bool consolePipe_create(int fds[2]);
// Bytes written to the descriptor arrive unchanged: the console texts carry
// their own "\r" (Windows would add one before every "\n" in text mode).
void consolePipe_binaryOutput(int fd);
// A descriptor of ours (a kept standard output) that the tool's worker
// processes must not inherit.
void consolePipe_notInherited(int fd);

#endif
