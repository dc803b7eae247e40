// Command lines to the unit, raw blocks of data, and the collection of the
// unit's replies.
#ifndef COMMANDCHANNEL_H_
#define COMMANDCHANNEL_H_

#include <windows.h>

#include <cstdint>

#define DATA_CHUNK_SIZE 10240

BOOL sendCommand(const char *commandToSend, BOOL isEchoON, BOOL validateResponse, const char *expectedResponse);
BOOL sendData(const uint8_t *dataToSend, int dataToSendLength, BOOL validateResponse, const char *expectedResponse);

// Writes one framed command line ("%%" unless echo is exactly 1, the text,
// "\n\r") built in gDataBuffer. Says nothing; FALSE when the write failed.
BOOL writeCommandLine(const char *commandToSend, BOOL isEchoON);
// Reads until one whole read window passes in silence (or the reply fills its
// buffer) and gives the joined reply, valid until the next collection.
const char *collectResponse(void);
// The exact comparison every exchange uses: whole text, nothing trimmed. A
// reply cut short at its buffer's end matches nothing.
BOOL responseMatches(const char *expectedResponse);

#endif
