// The image a unit must receive for one embedded text, flattened as the
// updater flattens it.
#ifndef TESTS_FLATTENEDIMAGE_H_
#define TESTS_FLATTENEDIMAGE_H_

#include "base/ProgramState.h"
#include "image/ImageFlattening.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

// Works in the program's buffers, which it allocates and releases: call it
// while none are held.
inline std::vector<uint8_t> flattenedImage(ImageIndex index)
{
    std::vector<uint8_t> image;
    if (!allocateProgramBuffers()) {
        return image;
    }
    char *text = newWritableCopyOfImageText(index);
    if (ValidateFwAndConcatenateData(text)) {
        image.assign(gDataConcatenated, gDataConcatenated + gDataConcatenatedLenght);
    }
    free(text);
    releaseProgramBuffers();
    return image;
}

#endif
