// The upload command that announces an image to the unit.
#ifndef UPLOADCOMMAND_H_
#define UPLOADCOMMAND_H_

#include <cstddef>
#include <cstdint>

#define UPLOAD_COMMAND_SIZE 100

// command (ending in a space: the catalogue's uploadCommand), then checksum,
// a space and length.
void buildUploadCommand(char *commandToSend, size_t size, const char *command, uint32_t checksum, int length);

#endif
