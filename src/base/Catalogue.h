// The embedded images, one row each: what the image is, how the unit is told
// it comes, which unit takes it and which FPGA device it is built for. The
// texts themselves are the generated AUTOGEN_FILES, in the same order.
#ifndef CATALOGUE_H_
#define CATALOGUE_H_

// FPGA device codes the unit reports in its version reply.
#define DEVICE_NONE 0x00
#define DEVICE_XC7A35_484 0x01
#define DEVICE_XC7A50_484 0x02
#define DEVICE_XC7A75_484 0x03
#define DEVICE_XC7A100_484 0x04
#define DEVICE_XC7A200_S484 0x05
#define DEVICE_XC7A200_F484 0x06
#define DEVICE_XC7A75_676 0x07
#define DEVICE_XC7A100_676 0x08
#define DEVICE_XC7A15_484 0x09

// The unit's whole reply to "%fw -p", line end and prompt included.
#define VALIDATE_TX_PRODUCT_ID_STRING "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>"
#define VALIDATE_RX_PRODUCT_ID_STRING "Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\r\n>>"

// Each announces an image; checksum, a space and the length follow.
#define FPGA_UPLOAD_COMMAND "%fw -l "
#define FIRMWARE_UPLOAD_COMMAND "%fw -h "

enum ImageIndex {
    IMAGE_MCU_FIRMWARE,  // every unit takes it, after its FPGA configuration
    IMAGE_TX_FPGA,
    IMAGE_RX_FPGA,
    IMAGE_COUNT
};

struct CatalogueEntry {
    const char *role;             // for people reading a listing or a log
    const char *uploadCommand;    // FPGA_UPLOAD_COMMAND or FIRMWARE_UPLOAD_COMMAND
    const char *variant;          // "TX" or "RX"; null for the firmware
    const char *productIdentity;  // the unit that takes it says this; null for the firmware
    int deviceCode;               // the FPGA device it is built for; DEVICE_NONE for the firmware
    const char *fileName;         // the file it was embedded from
};

extern const CatalogueEntry IMAGE_CATALOGUE[IMAGE_COUNT];

// The FPGA configurations, in the order the unit is asked about them.
#define FPGA_IMAGE_COUNT 2
extern const ImageIndex FPGA_IMAGES[FPGA_IMAGE_COUNT];

#endif
