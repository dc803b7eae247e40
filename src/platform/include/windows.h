// The subset of the Win32 interface the updater uses, declared for non-Windows
// builds. The POSIX layer (src/platform/posix) and the simulated layer
// (tests/sim) each define these functions; which one a binary gets is decided
// at link time. Windows builds never see this file: they use the real header.
#ifndef ORVANE_WIN32_SUBSET_WINDOWS_H_
#define ORVANE_WIN32_SUBSET_WINDOWS_H_

#include <stdint.h>

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD *LPDWORD;
typedef char CHAR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;

#define MAXDWORD 0xffffffffu

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// What GetLastError gives after a failed call, as Windows numbers them.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_INVALID_PARAMETER 87u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

#define SETRTS 3u
#define CLRRTS 4u
#define SETDTR 5u
#define CLRDTR 6u

#define DTR_CONTROL_DISABLE 0u
#define DTR_CONTROL_ENABLE 1u
#define RTS_CONTROL_DISABLE 0u
#define RTS_CONTROL_ENABLE 1u
#define NOPARITY 0u
#define ONESTOPBIT 0u

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// The serial operations, as both platforms under the modules provide them
// (the POSIX layer and the simulated ports; tests/contract holds one set of
// tests run against each). Every call on a handle that is not open (null,
// INVALID_HANDLE_VALUE, or closed) fails with ERROR_INVALID_HANDLE and, for a
// transfer, a count of 0.

// Opens "\\.\COMn" (n in decimal, no leading zero), or a device by its
// absolute path (platform/SerialDevice.h; any other name is an absent port),
// for this opener alone, for synchronous I/O; the other arguments
// are those of an exclusive open of an existing device and are not looked at.
// INVALID_HANDLE_VALUE when the port cannot be opened: ERROR_FILE_NOT_FOUND
// when it is absent, ERROR_SHARING_VIOLATION when another opener (or an
// earlier handle of ours) holds it, whether or not that opener took a lock
// (platform/PortHolder.h may name it). A new handle has no read time-outs until
// SetCommTimeouts gives it some.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile);
// Queue sizes are the driver's own; TRUE on an open handle.
BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue);
// Keeps the time-outs every later ReadFile and WriteFile on the handle
// follows.
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
// Applies rate, framing and CTS output flow control (fOutxCtsFlow) to the
// line. Only 8 data bits, no parity, one stop bit and the standard rates
// (at least 1200 to 230400) are taken; anything else is refused with
// ERROR_INVALID_PARAMETER and leaves the line as it was. Bytes that arrived
// before the change were received at the earlier rate.
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB);
// With PURGE_RXCLEAR or PURGE_RXABORT, drops every byte that has arrived and
// not been read, including bytes that came while the port was closed (the
// far end of the line keeps them for the next opener); the TX flags drop
// what has not gone out yet.
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);
// SETDTR, CLRDTR, SETRTS, CLRRTS; a line that has no such signal (a
// pseudo-terminal) may refuse it.
BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc);
// Sets the count to 0, then waits for bytes as the handle's time-outs say
// (the rule is in platform/subset/ReadTimeouts.h: a total window from the
// start of the read, an interval window after each byte, and the special
// values of Windows). Returns TRUE with the bytes received, which may be
// none; a read of 0 bytes returns at once. Bytes beyond the count stay for
// the next read. FALSE when the far end is gone.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
// Returns once every byte has been taken by the line, with the count
// written, or once the handle's write window has passed (the rule is in
// platform/subset/WriteTimeouts.h; without one, for as long as the far end
// makes it wait): TRUE then, with the count taken so far, which a caller
// must compare with the count asked. FALSE, with the count taken so far,
// when the far end is gone.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
// Releases the port for the next opener; the handle is not open any more.
BOOL CloseHandle(HANDLE hObject);
void Sleep(DWORD dwMilliseconds);

// The reason of the calling thread's last failed call. The platforms keep the
// operating system's own text with it, which FormatMessageA gives back (only
// FORMAT_MESSAGE_FROM_SYSTEM, with IGNORE_INSERTS; no arguments).
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, char *lpBuffer,
                     DWORD nSize, void *Arguments);

#endif
