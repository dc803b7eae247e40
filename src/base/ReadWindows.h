// The read windows of every exchange with the unit, in milliseconds: each
// reply ends once one whole window passes in silence; and the window every
// write keeps to. The emulated unit and the tests take their timing from here
// too.
#ifndef READWINDOWS_H_
#define READWINDOWS_H_

// The serial module's own, in force until the update sets others: the probe
// of the port search runs with it.
#define MAX_WAIT_READ 500

#define QUERY_READ_TIMEOUT_MS 1000     // "%fw -v" and "%fw -p"
#define FPGA_READY_TIMEOUT_MS 10000    // "Ready" after the FPGA upload command
#define MCU_READY_TIMEOUT_MS 5000      // "Ready" after the firmware upload command
#define DATA_REPLY_TIMEOUT_MS 1000     // "SUCCESS" after each image
#define CLOSING_READ_TIMEOUT_MS 11000  // the unit's closing text after its reboot

// A write the line has not taken whole by then (a unit holding CTS low, a far
// end that stopped reading) fails its exchange. A command line or a piece of
// an image takes under a second on the wire at the search's slowest rate.
#define WRITE_STALL_TIMEOUT_MS 60000

#endif
