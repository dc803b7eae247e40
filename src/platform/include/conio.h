// The console key read of the Win32 C runtime, declared for non-Windows builds
// and defined by the platform layer a binary links with.
#ifndef ORVANE_WIN32_SUBSET_CONIO_H_
#define ORVANE_WIN32_SUBSET_CONIO_H_

int _getch(void);

#endif
