// The program's one serial port: open by number, line settings and time-outs
// from two module records, synchronous reads and writes.
#ifndef COMPORTAPI_H_
#define COMPORTAPI_H_

#include "base/ReadWindows.h"

#include <windows.h>

#define RX_SIZE 8192
#define TX_SIZE 8192
// MAX_WAIT_READ (base/ReadWindows.h): the read windows at start.
#define BAUD_RATE 9600

// The device path of a port number: "\\.\COM" and up to eight digits.
#define COM_PATH_SIZE 16

extern HANDLE g_hCOM;
extern COMMTIMEOUTS g_cto;
extern DCB g_dcb;

// 8N1, 9600 baud, DTR and RTS on, CTS output flow control on: what g_dcb
// holds when the program starts.
DCB ComPortAPI_DefaultLineSettings(void);
// Both read windows MAX_WAIT_READ, no per-byte time, a write window of
// WRITE_STALL_TIMEOUT_MS: what g_cto holds when the program starts.
COMMTIMEOUTS ComPortAPI_DefaultTimeouts(void);

// A write the line did not take whole within its write window.
struct WriteStall {
    int taken;  // bytes the line took
    int asked;
    DWORD windowMs;
};

BOOL ComPortAPI_OpenCOM(int nId);
BOOL ComPortAPI_CloseCOM(void);
BOOL ComPortAPI_ReadCOM(void *buffer, int nBytesToRead, int *pBytesRead);
// FALSE when the write failed or the line did not take it whole.
BOOL ComPortAPI_WriteCOM(void *buffer, int nBytesToWrite, int *pBytesWritten);
// TRUE (and, unless null, what it took) when the last write since the last
// open came back short: the line stopped taking bytes.
BOOL ComPortAPI_LastWriteStalled(WriteStall *stall);
// TRUE (and, unless null, the system's code) when the last write since the
// last open failed outright: the port went away, or the system refused it.
BOOL ComPortAPI_LastWriteFailed(DWORD *error);
BOOL ComPortAPI_SetReadingTimeoutInMs(int timeoutInMs);
BOOL ComPortAPI_SetBaudRate(int baudrate);
BOOL ComPortAPI_SetHardwareFlowControl(BOOL isEnable);

// Opens \\.\COMn with the arguments every open of a port uses (exclusive,
// existing only, synchronous). INVALID_HANDLE_VALUE when the port is absent,
// held elsewhere, or its number does not fit the path.
HANDLE ComPortAPI_OpenDevice(int nId);

// "\\.\COMn" into name; FALSE when the number does not fit.
BOOL ComPortAPI_ComName(int nId, char name[COM_PATH_SIZE]);

// The tool's way to a device by its path (platform/SerialDevice.h): opened,
// set and logged as a COM port is, under that path.
BOOL ComPortAPI_OpenNamed(const char *device);
HANDLE ComPortAPI_OpenNamedDevice(const char *device);

#endif
