#include "FuzzChecks.h"

#include "base/ProgramState.h"
#include "image/ImageFlattening.h"

#include <vector>

std::string checkFlatten(const uint8_t *data, size_t size)
{
    if (gDataConcatenated == nullptr) {
        return "the program buffers are not allocated";
    }
    const std::string text = textBeforeFirstZero(data, size);
    // As the program hands it over: a writable copy with zeros behind it, in a
    // block of exactly that size so that ASan sees any access beyond.
    std::vector<char> copy(text.size() + 1 + BUFFER_GUARD_SIZE, '\0');
    memcpy(copy.data(), text.data(), text.size());

    const BOOL result = ValidateFwAndConcatenateData(copy.data());
    if (result != TRUE && result != FALSE) {
        return "ValidateFwAndConcatenateData gave neither TRUE nor FALSE";
    }
    // A refused text says where and why; a record it names lies in the text.
    const char *record = flatteningFailedRecord();
    if ((flatteningFailure() == nullptr) != (result == TRUE)) {
        return "the failure record does not match the result";
    }
    if (record != nullptr && (result == TRUE || record < copy.data() || record > copy.data() + text.size())) {
        return "the failing record lies outside the text";
    }
    if (gDataConcatenatedLenght < 0 || gDataConcatenatedLenght > CONCAT_BUFFER_SIZE) {
        return "gDataConcatenatedLenght is outside the image space";
    }
    for (size_t i = 0; i < BUFFER_GUARD_SIZE; ++i) {
        if (gDataConcatenated[CONCAT_BUFFER_SIZE + i] != 0) {
            return "a byte behind the image space was written";
        }
    }
    // The split cuts the text in place; the zeros behind it are not its to touch.
    for (size_t i = text.size(); i < copy.size(); ++i) {
        if (copy[i] != '\0') {
            return "the zeros behind the text were written";
        }
    }
    return "";
}
