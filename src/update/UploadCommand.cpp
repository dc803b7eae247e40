#include "update/UploadCommand.h"

#include <cstdio>

void buildUploadCommand(char *commandToSend, size_t size, const char *command, uint32_t checksum, int length)
{
    snprintf(commandToSend, size, "%s%u %d", command, checksum, length);
}
