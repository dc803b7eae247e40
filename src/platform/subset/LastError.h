// For the platforms that provide the Win32 subset themselves: a failed call
// records its reason here, with the operating system's own text of it.
#ifndef LASTERROR_H_
#define LASTERROR_H_

#include <windows.h>

// Sets the last error to `code`, keeping `text` as what FormatMessageA says
// of it (null: a text of the code's own).
void subset_setLastError(DWORD code, const char *text);

#endif
