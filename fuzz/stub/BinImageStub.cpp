// Fuzz build only: three one-record texts stand in for the images; the
// targets feed their own texts and only need the buffers the catalogue's
// first entry is copied into.
#include "BinImage.h"

namespace {
const char END_OF_FILE[] = ":00000001FF\r\n";
}

const autogen_files AUTOGEN_FILES[3] = {
    {"stub.hex", 8, END_OF_FILE, static_cast<int>(sizeof END_OF_FILE - 1)},
    {"stub_tx.mcs", 11, END_OF_FILE, static_cast<int>(sizeof END_OF_FILE - 1)},
    {"stub_rx.mcs", 11, END_OF_FILE, static_cast<int>(sizeof END_OF_FILE - 1)},
};
