// Which other process has a tty open, read from /proc: a program that holds a
// port without any lock (`cat dosdevices/com1`) is invisible to the open
// itself, and would receive every byte written to the port.
#ifndef PORTHOLDERS_H_
#define PORTHOLDERS_H_

#include "platform/PortHolder.h"

#include <sys/stat.h>

// A process other than this one with an fd on the tty `device` (as stat
// gives it), with its name from /proc/PID/comm; false when there is none.
// A process that also holds the master of that pseudo-terminal is the far
// end of the line, not another user of the port: an emulated unit keeps its
// slave open so that the line stays up between the host's opens. Processes
// whose fds this one may not read are passed over.
bool posix_findPortHolder(const struct stat &device, PORT_HOLDER *holder);

#endif
