// The operating system's own words for the reason a call failed.
#ifndef ERRORTEXT_H_
#define ERRORTEXT_H_

#include <windows.h>

#include <string>

// FormatMessageA's text for `code`, without its line end and final full
// stop, so that it fits inside a sentence; "error N" when it has none.
std::string ErrorText_Of(DWORD code);

#endif
