// info: each embedded image, its figures and the command that would announce it.
#include "commands/Commands.h"

#include "base/ProgramState.h"
#include "firmware/BinImage.h"
#include "image/ImageFlattening.h"
#include "update/UploadCommand.h"

#include <cstdio>
#include <cstdlib>

ImageFigures embeddedImageFigures(ImageIndex index)
{
    ImageFigures figures;
    char *text = newWritableCopyOfImageText(index);
    if (text == nullptr) {
        return figures;
    }
    figures.valid = ValidateFwAndConcatenateData(text) != FALSE;
    free(text);
    if (figures.valid) {
        figures.imageLength = gDataConcatenatedLenght;
        figures.checksum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
    }
    return figures;
}

namespace {

// False when the image is not a valid Intel HEX text.
bool printImageInfo(ImageIndex index)
{
    const autogen_files &entry = AUTOGEN_FILES[index];
    const ImageFigures figures = embeddedImageFigures(index);
    printf("%s\n", entry.filePath);
    printf("  text length  : %d\n", entry.fileDataLength);
    if (!figures.valid) {
        printf("  not a valid Intel HEX text\n");
        return false;
    }
    char command[UPLOAD_COMMAND_SIZE];
    buildUploadCommand(command, sizeof command, IMAGE_CATALOGUE[index].uploadCommand, figures.checksum,
                       figures.imageLength);
    printf("  image length : %d\n", figures.imageLength);
    printf("  checksum     : %u\n", figures.checksum);
    printf("  upload       : %s\n", command);
    return true;
}

}  // namespace

ToolOutcome runInfo(void)
{
    bool valid = true;
    for (int index = 0; index < IMAGE_COUNT; ++index) {
        valid = printImageInfo(static_cast<ImageIndex>(index)) && valid;
    }
    return valid ? ToolOutcome::Done : ToolOutcome::Failed;
}
