// Where \\.\COMn leads on a POSIX machine.
#ifndef DEVICEPATH_H_
#define DEVICEPATH_H_

#include <cstddef>

// dosdevices/comN in the current folder shadows the machine's own port
// /dev/ttyS<n-1>, even as a link to nothing, which then stands for an absent
// port. False when the path does not fit in `size` bytes: cut short, it
// could name another port.
bool posix_comDevicePath(unsigned long n, char *out, std::size_t size);

#endif
