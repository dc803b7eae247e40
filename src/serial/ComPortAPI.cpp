#include "serial/ComPortAPI.h"

#include "base/UpdateLog.h"

#include <cstdio>
#include <string>

DCB ComPortAPI_DefaultLineSettings(void)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = BAUD_RATE;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.fDummy2 = 0;
    dcb.wReserved = 0;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0x3F;
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x10;
    dcb.wReserved1 = 0;
    return dcb;
}

COMMTIMEOUTS ComPortAPI_DefaultTimeouts(void)
{
    COMMTIMEOUTS cto{};
    cto.ReadIntervalTimeout = MAX_WAIT_READ;
    cto.ReadTotalTimeoutMultiplier = 0;
    cto.ReadTotalTimeoutConstant = MAX_WAIT_READ;
    cto.WriteTotalTimeoutMultiplier = 0;
    cto.WriteTotalTimeoutConstant = WRITE_STALL_TIMEOUT_MS;
    return cto;
}

HANDLE g_hCOM = nullptr;
COMMTIMEOUTS g_cto = ComPortAPI_DefaultTimeouts();
DCB g_dcb = ComPortAPI_DefaultLineSettings();

namespace {

// What the open port is called in log lines and messages ("COM3", or a
// device's path), and whether one is open.
std::string g_openLabel = "COM0";
bool g_portOpen = false;

// The last write came back short, and what it took.
BOOL g_writeStalled = FALSE;
WriteStall g_stall{};
// The last write failed outright, and the system's code for it.
BOOL g_writeFailed = FALSE;
DWORD g_writeError = 0;

std::string comLabel(int nId)
{
    return "COM" + std::to_string(nId);
}

// An open or close line: the port and the line settings it has.
void logPort(const char *kind, const std::string &label, BOOL succeeded)
{
    const unsigned long rate = g_dcb.BaudRate;
    const char *cts = g_dcb.fOutxCtsFlow ? "on" : "off";
    if (succeeded) {
        UpdateLog_Event(kind, "%s at %lu baud, CTS flow control %s", label.c_str(), rate, cts);
    } else {
        UpdateLog_Failure(kind, "%s failed at %lu baud, CTS flow control %s", label.c_str(), rate, cts);
    }
}

// With no port open a setter only stages its value for the next open.
const char *settingOutcome(BOOL applied)
{
    return !g_portOpen ? " (staged)" : applied ? "" : " (refused)";
}

HANDLE openExclusive(LPCSTR name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
}

// The port as the program uses it, on the handle just opened (or not).
BOOL openPort(HANDLE handle, const std::string &label)
{
    g_writeStalled = FALSE;
    g_writeFailed = FALSE;
    g_hCOM = handle;
    if (g_hCOM == INVALID_HANDLE_VALUE) {
        logPort("open", label, FALSE);
        printf("ERROR: Opening %s failed !", label.c_str());
        return FALSE;
    }
    SetupComm(g_hCOM, RX_SIZE, TX_SIZE);
    if (!SetCommTimeouts(g_hCOM, &g_cto) || !SetCommState(g_hCOM, &g_dcb)) {
        logPort("open", label, FALSE);
        printf("ERROR: %s configuration failed !", label.c_str());
        CloseHandle(g_hCOM);
        return FALSE;
    }
    PurgeComm(g_hCOM, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    EscapeCommFunction(g_hCOM, SETDTR);
    g_openLabel = label;
    g_portOpen = true;
    logPort("open", label, TRUE);
    return TRUE;
}

}  // namespace

BOOL ComPortAPI_ComName(int nId, char name[COM_PATH_SIZE])
{
    // A number too long for the path is a port that cannot exist.
    const int length = snprintf(name, COM_PATH_SIZE, "\\\\.\\COM%d", nId);
    return length >= 0 && length < COM_PATH_SIZE ? TRUE : FALSE;
}

HANDLE ComPortAPI_OpenDevice(int nId)
{
    char szCOM[COM_PATH_SIZE];
    return ComPortAPI_ComName(nId, szCOM) ? openExclusive(szCOM) : INVALID_HANDLE_VALUE;
}

HANDLE ComPortAPI_OpenNamedDevice(const char *device)
{
    return openExclusive(device);
}

BOOL ComPortAPI_OpenCOM(int nId)
{
    return openPort(ComPortAPI_OpenDevice(nId), comLabel(nId));
}

BOOL ComPortAPI_OpenNamed(const char *device)
{
    return openPort(ComPortAPI_OpenNamedDevice(device), device);
}

BOOL ComPortAPI_CloseCOM(void)
{
    CloseHandle(g_hCOM);
    logPort("close", g_openLabel, TRUE);
    g_openLabel = comLabel(0);
    g_portOpen = false;
    return TRUE;
}

BOOL ComPortAPI_ReadCOM(void *buffer, int nBytesToRead, int *pBytesRead)
{
    DWORD count = 0;
    const BOOL result = ReadFile(g_hCOM, buffer, static_cast<DWORD>(nBytesToRead), &count, nullptr);
    *pBytesRead = static_cast<int>(count);
    return result;
}

BOOL ComPortAPI_WriteCOM(void *buffer, int nBytesToWrite, int *pBytesWritten)
{
    DWORD count = 0;
    const BOOL result = WriteFile(g_hCOM, buffer, static_cast<DWORD>(nBytesToWrite), &count, nullptr);
    g_writeFailed = result ? FALSE : TRUE;
    g_writeError = result ? 0 : GetLastError();
    *pBytesWritten = static_cast<int>(count);
    // The write window passed with bytes the line did not take.
    g_writeStalled = result && count < static_cast<DWORD>(nBytesToWrite) ? TRUE : FALSE;
    if (g_writeStalled) {
        const DWORD windowMs =
            g_cto.WriteTotalTimeoutMultiplier * static_cast<DWORD>(nBytesToWrite) + g_cto.WriteTotalTimeoutConstant;
        g_stall = WriteStall{static_cast<int>(count), nBytesToWrite, windowMs};
        return FALSE;
    }
    return result;
}

BOOL ComPortAPI_LastWriteStalled(WriteStall *stall)
{
    if (g_writeStalled && stall != nullptr) {
        *stall = g_stall;
    }
    return g_writeStalled;
}

BOOL ComPortAPI_LastWriteFailed(DWORD *error)
{
    if (g_writeFailed && error != nullptr) {
        *error = g_writeError;
    }
    return g_writeFailed;
}

// The three setters store first and apply afterwards, and never roll back:
// a value staged while no port is open is what the next open applies.
BOOL ComPortAPI_SetReadingTimeoutInMs(int timeoutInMs)
{
    if (g_cto.ReadIntervalTimeout == static_cast<DWORD>(timeoutInMs)) {
        return TRUE;
    }
    g_cto.ReadIntervalTimeout = static_cast<DWORD>(timeoutInMs);
    g_cto.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutInMs);
    const BOOL applied = SetCommTimeouts(g_hCOM, &g_cto) ? TRUE : FALSE;
    UpdateLog_Event("set", "read time-out %d ms%s", timeoutInMs, settingOutcome(applied));
    return applied;
}

BOOL ComPortAPI_SetBaudRate(int baudrate)
{
    if (g_dcb.BaudRate == static_cast<DWORD>(baudrate)) {
        return TRUE;
    }
    g_dcb.BaudRate = static_cast<DWORD>(baudrate);
    const BOOL applied = SetCommState(g_hCOM, &g_dcb) ? TRUE : FALSE;
    UpdateLog_Event("set", "rate %d baud%s", baudrate, settingOutcome(applied));
    return applied;
}

BOOL ComPortAPI_SetHardwareFlowControl(BOOL isEnable)
{
    if (g_dcb.fOutxCtsFlow == static_cast<DWORD>(isEnable != 0)) {
        return TRUE;
    }
    g_dcb.fOutxCtsFlow = static_cast<DWORD>(isEnable != 0);
    const BOOL applied = SetCommState(g_hCOM, &g_dcb) ? TRUE : FALSE;
    UpdateLog_Event("set", "CTS flow control %s%s", isEnable ? "on" : "off", settingOutcome(applied));
    return applied;
}
