#include "SimTest.h"

#include "serial/ComPortAPI.h"

namespace {

class SerialPort : public SimTest {};

}  // namespace

TEST_F(SerialPort, AbsentHeldAndTooLongNumbersFailWithTheOpeningMessage)
{
    simPort_setHeld(2);
    EXPECT_FALSE(ComPortAPI_OpenCOM(1));
    EXPECT_EQ(g_hCOM, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ComPortAPI_OpenCOM(2));
    EXPECT_FALSE(ComPortAPI_OpenCOM(123456789));
    EXPECT_EQ(simConsole_text(), "ERROR: Opening COM1 failed !ERROR: Opening COM2 failed !"
                                 "ERROR: Opening COM123456789 failed !");
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(SerialPort, PortsAboveNineOpenTheSameWayAndEightDigitsStillFit)
{
    simPort_setSilent(12);
    simPort_setSilent(12345678);
    EXPECT_TRUE(ComPortAPI_OpenCOM(12));
    EXPECT_TRUE(ComPortAPI_CloseCOM());
    EXPECT_TRUE(ComPortAPI_OpenCOM(12345678));
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(SerialPort, RefusedConfigurationClosesThePortAgain)
{
    simPort_setSilent(4);
    simPort_refuseConfiguration(4);
    EXPECT_FALSE(ComPortAPI_OpenCOM(4));
    EXPECT_EQ(simConsole_text(), "ERROR: COM4 configuration failed !");
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(SerialPort, SilentReadReturnsNothingAfterTheTotalWindow)
{
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    char buffer[16];
    int count = 99;
    EXPECT_TRUE(ComPortAPI_ReadCOM(buffer, 16, &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(simClock_nowUs(), 500000);
}

TEST_F(SerialPort, SettersStoreFirstApplyAfterAndNeverRollBack)
{
    // Nothing open: the new rate is refused by the platform yet kept.
    EXPECT_FALSE(ComPortAPI_SetBaudRate(57600));
    EXPECT_EQ(g_dcb.BaudRate, 57600u);
    EXPECT_TRUE(ComPortAPI_SetBaudRate(57600));
    EXPECT_FALSE(ComPortAPI_SetReadingTimeoutInMs(1000));
    EXPECT_EQ(g_cto.ReadIntervalTimeout, 1000u);
    EXPECT_EQ(g_cto.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(g_cto.WriteTotalTimeoutConstant, static_cast<DWORD>(WRITE_STALL_TIMEOUT_MS));
    EXPECT_EQ(g_cto.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_FALSE(ComPortAPI_SetHardwareFlowControl(FALSE));
    EXPECT_EQ(g_dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(g_dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(g_dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));

    // The next open applies everything staged.
    simPort_setSilent(3);
    ASSERT_TRUE(ComPortAPI_OpenCOM(3));
    EXPECT_EQ(simPort_currentBaud(3), 57600);
    char buffer[4];
    int count = 0;
    ComPortAPI_ReadCOM(buffer, 4, &count);
    EXPECT_EQ(simClock_nowUs(), 1000000);

    // A rate the port refuses stays in the record; asking again changes nothing.
    EXPECT_FALSE(ComPortAPI_SetBaudRate(12345));
    EXPECT_EQ(g_dcb.BaudRate, 12345u);
    EXPECT_TRUE(ComPortAPI_SetBaudRate(12345));
    EXPECT_EQ(simPort_currentBaud(3), 57600);
    EXPECT_TRUE(ComPortAPI_SetBaudRate(9600));
    EXPECT_EQ(simPort_currentBaud(3), 9600);
}

TEST_F(SerialPort, ClosingWithNothingOpenStillSaysTrue)
{
    EXPECT_TRUE(ComPortAPI_CloseCOM());
}
