// Pieces of the console transcript of an update, built from the texts the
// technician sees, for exact comparisons.
#ifndef TESTS_UPDATETRANSCRIPT_H_
#define TESTS_UPDATETRANSCRIPT_H_

#include <string>

namespace transcript {

inline const std::string BANNER = "\n\rYou are about to upload the firmware version 1.0.5"
                                  "\n\r\n\rDetecting COM port and Baud Rate..................";

inline std::string found(int com, int baud)
{
    return "OK\r\nCOM PORT Number : " + std::to_string(com) + "\r\nBaud rate       : " + std::to_string(baud) +
           " \r\n\r\n";
}

inline const std::string VERSIONS = "Checking firmware version ..............  1.00.04 \r\n"
                                    "Checking fpga version ..................  SDI6G 1.04  device:1\r\n";

inline const std::string CHECKING_PRODUCT = "Checking product .......... ";

inline std::string productOk(const std::string &variant)
{
    return variant + " OK\r\nDexrig 6V IZA DOVOVUDI ZARE RIZOR " + variant + "\r\n>>\r\n";
}

inline const std::string PREPARING_FPGA = "Preparing to Upload Programmable Logic ............ ";
inline const std::string SENDING_FPGA = "Sending Programmable Logic data ................... ";
inline const std::string PREPARING_MCU = "Preparing to Upload Firmware ...................... ";
inline const std::string SENDING_MCU = "Sending data ...................................... ";
inline const std::string REBOOTING = "Please wait while the unit is rebooting ........... ";
inline const std::string SUCCESS_LINE = "\n\r\n\rThe update was successful, the unit is now operational\r\n";
// The tool's own line after it: the unit's firmware asked again.
inline const std::string READ_BACK_LINE = "Firmware before: 1.00.04, after: 1.00.05\r\n";
inline const std::string NOT_SUCCESSFUL = "\n\rERROR: The update was not successful.\r\n";
inline const std::string PRESS_ANY_KEY = "\r\nPress any key to exit";

// The percentages of a transfer of `length` bytes in 10,240-byte pieces.
inline std::string progress(int length)
{
    std::string shown = "1%";
    int percentage = 0;
    int sent = 0;
    for (; length - sent > 10240;) {
        sent += 10240;
        shown += percentage <= 9 ? "\b\b" : "\b\b\b";
        percentage = static_cast<int>(static_cast<long long>(sent) * 100 / length);
        shown += std::to_string(percentage) + "%";
    }
    return length == 0 ? shown : shown + "\b\b\b100%";
}

// 46 values three seconds apart, "100%", and "100%" again after the reads.
inline std::string rebootDisplay()
{
    std::string shown;
    for (int i = 0; i < 46; ++i) {
        const std::string value = std::to_string(i * 100 / 46);
        shown += std::string(3 - value.size(), ' ') + value + "%\b\b\b\b";
    }
    return shown + "100%\b\b\b\b100%";
}

inline std::string uploads(int fpgaLength, int mcuLength)
{
    return PREPARING_FPGA + "OK\r\n" + SENDING_FPGA + progress(fpgaLength) + "OK\r\n" + PREPARING_MCU + "OK\r\n" +
           SENDING_MCU + progress(mcuLength) + " OK\n\r\n\r" + REBOOTING + rebootDisplay();
}

}  // namespace transcript

#endif
