// The status texts of an update as the technician sees them. The driver
// prints them and the tool that watches many updates at once reads a
// worker's progress from them, so both take them from here.
#ifndef STATUSLABELS_H_
#define STATUSLABELS_H_

#define DETECTING_PORT_LABEL "Detecting COM port and Baud Rate.................."
#define PORT_FOUND_TEXT "COM PORT Number : "

// Identification: the two version lines (label, then the values) and the
// product check, whose status word follows on the same line.
#define FIRMWARE_VERSION_LABEL "Checking firmware version ..............  "
#define FPGA_VERSION_LABEL "Checking fpga version ..................  "
#define CHECKING_PRODUCT_LABEL "Checking product .......... "

// The five labels of the uploads and the reboot wait, 52 characters each so
// that the status words behind them line up.
#define PREPARING_FPGA_LABEL "Preparing to Upload Programmable Logic ............ "
#define SENDING_FPGA_LABEL "Sending Programmable Logic data ................... "
#define PREPARING_FIRMWARE_LABEL "Preparing to Upload Firmware ...................... "
#define SENDING_FIRMWARE_LABEL "Sending data ...................................... "
#define REBOOTING_LABEL "Please wait while the unit is rebooting ........... "
#define STATUS_LABEL_LENGTH 52

#define UNIT_NOT_READY_TEXT "FAILED [Unit not ready]\r"
#define UNKNOWN_PRODUCT_TEXT "FAILED, Unknown product\r"
#define FPGA_DATA_INVALID_TEXT "\r\nERROR: Programmable Logic data is not valid !\r"
#define FIRMWARE_DATA_INVALID_TEXT "\r\nERROR: uC Firmware data is not valid !\r"
#define UPDATE_SUCCESSFUL_TEXT "\n\r\n\rThe update was successful, the unit is now operational\r"
#define UPDATE_NOT_SUCCESSFUL_TEXT "\n\rERROR: The update was not successful.\r\n"

#endif
