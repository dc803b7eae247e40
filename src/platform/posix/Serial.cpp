// POSIX serial operations: to be written.
#include <windows.h>
