// GetLastError and FormatMessageA of the Win32 subset, shared by the POSIX and
// the simulated platform.
#include "platform/subset/LastError.h"

#include <cstdio>
#include <cstring>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local char lastText[128] = "";

const char *textOfCode(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    default: return "A device attached to the system is not functioning.";
    }
}

}  // namespace

void subset_setLastError(DWORD code, const char *text)
{
    lastError = code;
    snprintf(lastText, sizeof lastText, "%s", text != nullptr ? text : textOfCode(code));
}

DWORD GetLastError(void)
{
    return lastError;
}

void SetLastError(DWORD dwErrCode)
{
    subset_setLastError(dwErrCode, nullptr);
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, char *lpBuffer, DWORD nSize, void *)
{
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr || nSize == 0) {
        return 0;
    }
    // The system's own words for the failure just recorded; a fixed text for
    // any other code.
    const char *text = dwMessageId == lastError && lastText[0] != '\0' ? lastText : textOfCode(dwMessageId);
    const int length = snprintf(lpBuffer, nSize, "%s", text);
    return length < 0 ? 0 : static_cast<DWORD>(strlen(lpBuffer));
}
