#include "base/Catalogue.h"

#include "firmware/BinImage.h"

static_assert(sizeof AUTOGEN_FILES / sizeof AUTOGEN_FILES[0] == IMAGE_COUNT, "one catalogue row per embedded text");

const CatalogueEntry IMAGE_CATALOGUE[IMAGE_COUNT] = {
    {"microcontroller firmware", FIRMWARE_UPLOAD_COMMAND, nullptr, nullptr, DEVICE_NONE,
     AUTOGEN_FILES[IMAGE_MCU_FIRMWARE].filePath},
    {"TX FPGA configuration", FPGA_UPLOAD_COMMAND, "TX", VALIDATE_TX_PRODUCT_ID_STRING, DEVICE_XC7A35_484,
     AUTOGEN_FILES[IMAGE_TX_FPGA].filePath},
    {"RX FPGA configuration", FPGA_UPLOAD_COMMAND, "RX", VALIDATE_RX_PRODUCT_ID_STRING, DEVICE_XC7A35_484,
     AUTOGEN_FILES[IMAGE_RX_FPGA].filePath},
};

const ImageIndex FPGA_IMAGES[FPGA_IMAGE_COUNT] = {IMAGE_TX_FPGA, IMAGE_RX_FPGA};
