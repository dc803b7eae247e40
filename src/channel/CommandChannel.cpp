#include "channel/CommandChannel.h"

#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "serial/ComPortAPI.h"

#include <cstdio>
#include <cstring>

namespace {

// The joined reply. Static, not on the stack: a Windows program gets 1 MiB of
// stack and this alone is nearly that.
char responseReceivedCopy[DATA_BUFFER_SIZE];
size_t responseLength = 0;
// The collection stopped before the line went silent: the reply cannot equal
// any text.
bool responseCutShort = false;
// Every byte the last collection took, the zero bytes the copy leaves out
// included.
size_t responseBytes = 0;

// Appends one received chunk (up to its first zero byte); false once the
// reply buffer is full.
bool appendChunk(const char *chunk)
{
    const size_t room = DATA_BUFFER_SIZE - 1 - responseLength;
    const size_t length = strlen(chunk);
    const size_t taken = length < room ? length : room;
    memcpy(responseReceivedCopy + responseLength, chunk, taken);
    responseLength += taken;
    responseReceivedCopy[responseLength] = '\0';
    return length <= room && responseLength < DATA_BUFFER_SIZE - 1;
}

// Each read asks for one byte more than the budget has left, so a reply that
// stays within the budget ends its reads by the time-outs, as it always did.
int bytesToAskFor(size_t budgetLeft)
{
    return budgetLeft + 1 < DATA_BUFFER_SIZE - 1 ? static_cast<int>(budgetLeft + 1) : DATA_BUFFER_SIZE - 1;
}

// The reply as kept, and why it may differ from what came over the line.
void logReply(size_t received)
{
    if (!UpdateLog_WantsEvents()) {
        return;
    }
    char note[64] = "";
    if (received != responseLength) {
        snprintf(note, sizeof note, "%llu bytes on the line", static_cast<unsigned long long>(received));
    }
    if (responseCutShort) {
        strcat(note, note[0] == '\0' ? "cut short" : ", cut short");
    }
    UpdateLog_Bytes("reply", std::string_view(responseReceivedCopy, responseLength), note[0] == '\0' ? nullptr : note);
}

}  // namespace

BOOL writeCommandLine(const char *commandToSend, BOOL isEchoON)
{
    snprintf(gDataBuffer, DATA_BUFFER_SIZE, "%s%s\n\r", isEchoON == TRUE ? "" : "%%", commandToSend);
    int written = 0;
    const int length = static_cast<int>(strlen(gDataBuffer));
    const BOOL ok = ComPortAPI_WriteCOM(gDataBuffer, length, &written) ? TRUE : FALSE;
    UpdateLog_Bytes("sent", std::string_view(gDataBuffer, static_cast<size_t>(length)), ok ? nullptr : "write FAILED");
    return ok;
}

const char *collectResponse(const char *expectedResponse, BOOL stopWhenLonger)
{
    responseLength = 0;
    responseCutShort = false;
    responseReceivedCopy[0] = '\0';
    const size_t expectedLength = strlen(expectedResponse);
    // Every byte counts here, zero bytes included: a line that never stops
    // (a device streaming text or zeros) cannot hold the exchange.
    const size_t budget = expectedLength + REPLY_MARGIN;
    size_t received = 0;
    for (;;) {
        int n = 0;
        ComPortAPI_ReadCOM(gDataBuffer, bytesToAskFor(budget - received), &n);
        gDataBuffer[n] = '\0';
        if (n == 0) {
            break;
        }
        received += static_cast<size_t>(n);
        const bool room = appendChunk(gDataBuffer);
        // A reply already longer than the expected text can never equal it.
        if (!room || received > budget || (stopWhenLonger == TRUE && responseLength > expectedLength)) {
            responseCutShort = true;
            break;
        }
    }
    responseBytes = received;
    logReply(received);
    return responseReceivedCopy;
}

size_t lastCollectedBytes(void)
{
    return responseBytes;
}

BOOL responseMatches(const char *expectedResponse)
{
    return !responseCutShort && strcmp(responseReceivedCopy, expectedResponse) == 0 ? TRUE : FALSE;
}

BOOL sendCommand(const char *commandToSend, BOOL isEchoON, BOOL validateResponse, const char *expectedResponse)
{
    if (!writeCommandLine(commandToSend, isEchoON)) {
        puts("\r\nError occurred when sending data !\r");
        return FALSE;
    }
    if (expectedResponse == nullptr) {
        return TRUE;
    }
    collectResponse(expectedResponse, validateResponse);
    if (validateResponse == TRUE) {
        return responseMatches(expectedResponse);
    }
    return TRUE;
}

BOOL sendData(const uint8_t *dataToSend, int dataToSendLength, BOOL validateResponse, const char *expectedResponse)
{
    printf("1%%");
    int dataSent = 0;
    int percentage = 0;
    while (dataSent != dataToSendLength) {
        const int remaining = dataToSendLength - dataSent;
        const int chunk = remaining > DATA_CHUNK_SIZE ? DATA_CHUNK_SIZE : remaining;
        int written = 0;
        const int64_t startedMs = UpdateLog_Now();
        const BOOL ok = ComPortAPI_WriteCOM(const_cast<uint8_t *>(dataToSend + dataSent), chunk, &written);
        UpdateLog_Event("data", "%d bytes in %lld ms%s", chunk, static_cast<long long>(UpdateLog_Now() - startedMs),
                        ok ? "" : ", write FAILED");
        if (!ok) {
            return FALSE;
        }
        dataSent += chunk;
        if (dataSent != dataToSendLength) {
            printf(percentage <= 9 ? "\b\b" : "\b\b\b");
            percentage = static_cast<int>(static_cast<int64_t>(dataSent) * 100 / dataToSendLength);
            printf("%d%%", percentage);
        }
    }
    if (dataToSendLength == 0) {
        return TRUE;
    }
    printf("\b\b\b");
    printf("100%%");
    if (expectedResponse == nullptr) {
        return TRUE;
    }
    const char *received = collectResponse(expectedResponse, validateResponse);
    if (validateResponse == TRUE && !responseMatches(expectedResponse)) {
        printf("\r\nExpected : %s  received : %s\r\n", expectedResponse, received);
        puts("\r\nError: Expected response did  not matched !\r");
        return FALSE;
    }
    return TRUE;
}
