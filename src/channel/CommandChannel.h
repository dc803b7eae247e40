// Command lines to the unit, raw blocks of data, and the collection of the
// unit's replies.
#ifndef COMMANDCHANNEL_H_
#define COMMANDCHANNEL_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#define DATA_CHUNK_SIZE 10240
// Bytes a reply may bring beyond the length of the text it is compared with
// before the line counts as one that never stops.
#define REPLY_MARGIN 64

BOOL sendCommand(const char *commandToSend, BOOL isEchoON, BOOL validateResponse, const char *expectedResponse);
BOOL sendData(const uint8_t *dataToSend, int dataToSendLength, BOOL validateResponse, const char *expectedResponse);

// Writes one framed command line ("%%" unless echo is exactly 1, the text,
// "\n\r") built in gDataBuffer. Says nothing; FALSE when the write failed.
BOOL writeCommandLine(const char *commandToSend, BOOL isEchoON);
// Reads until one whole read window passes in silence and gives the joined
// reply, valid until the next collection. Stops early once more bytes have
// come than the expected text's length plus REPLY_MARGIN, or, when
// stopWhenLonger is exactly 1, once the text is longer than the expected one.
const char *collectResponse(const char *expectedResponse, BOOL stopWhenLonger);
// How many bytes the last collection took, zero bytes included: 0 when the
// unit said nothing back.
size_t lastCollectedBytes(void);

// The exact comparison every exchange uses: whole text, nothing trimmed. A
// reply whose collection was stopped early matches nothing.
BOOL responseMatches(const char *expectedResponse);

#endif
