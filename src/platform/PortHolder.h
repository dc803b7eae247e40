// Who holds a port that would not open: what the system lets a program learn
// of the other program, so that a person can be told what to close. Each
// platform provides it: the POSIX layer reads /proc, the simulation keeps
// what a test set, and Windows does not tell an ordinary program.
#ifndef PORTHOLDER_H_
#define PORTHOLDER_H_

#include <windows.h>

#define PORT_HOLDER_NAME_SIZE 64

typedef struct _PORT_HOLDER {
    DWORD processId;
    char name[PORT_HOLDER_NAME_SIZE];  // "" when it cannot be read
} PORT_HOLDER;

// After a CreateFileA of a port that failed with ERROR_SHARING_VIOLATION:
// TRUE with the process that holds the port. FALSE after any other outcome
// of the last open, and when no holder can be named (only this program holds
// it, or the holder's files cannot be read, or the system does not tell).
BOOL PortHolder_OfLastOpen(PORT_HOLDER *holder);

#endif
