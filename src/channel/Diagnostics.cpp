#include "channel/Diagnostics.h"

#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "serial/ComPortAPI.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *const SEND_FAILED_MESSAGE = "Error occurred when sending data !\r\n";

// Stands in for a busy loop whose length depended on the processor.
constexpr DWORD PROGRESS_PAUSE_MS = 100;

BOOL failAfterWrite(void)
{
    dipsplayLastMessageToUserBeforeExit(SEND_FAILED_MESSAGE);
    ComPortAPI_CloseCOM();
    return FALSE;
}

BOOL writeBlockPiece(int from, int count)
{
    int written = 0;
    return ComPortAPI_WriteCOM(gDataBuffer + from, count, &written);
}

}  // namespace

BOOL DEBUG_send_512kb(void)
{
    const int totalBytesToSend = DIAGNOSTIC_BLOCK_SIZE;
    printf("\n\rSending command fw -h 1234567 ...");
    strcpy(gDataBuffer, "fw -h 1234567\n\r");
    int written = 0;
    if (!ComPortAPI_WriteCOM(gDataBuffer, static_cast<int>(strlen(gDataBuffer)), &written)) {
        return failAfterWrite();
    }
    puts("OK\r");
    printf("%d bytes(s) sent.\r\n", written);
    printf("\n\rSending 512 kb of data ...");
    // Each prepared piece goes out as the image transfer sends its pieces.
    for (int i = 1; i <= totalBytesToSend; ++i) {
        gDataBuffer[i - 1] = static_cast<char>(rand() % 100);
        if (i % DATA_CHUNK_SIZE == 0) {
            printf("...%d %%", static_cast<int>(static_cast<int64_t>(i) * 100 / totalBytesToSend));
            if (!writeBlockPiece(i - DATA_CHUNK_SIZE, DATA_CHUNK_SIZE)) {
                return failAfterWrite();
            }
        }
    }
    const int tail = totalBytesToSend % DATA_CHUNK_SIZE;
    if (tail != 0 && !writeBlockPiece(totalBytesToSend - tail, tail)) {
        return failAfterWrite();
    }
    ComPortAPI_CloseCOM();
    dipsplayLastMessageToUserBeforeExit("");
    return TRUE;
}

BOOL DEBUG_send_512kb_2(void)
{
    const int totalBytesToSend = DIAGNOSTIC_BLOCK_SIZE;
    printf("\n\rSending 512 kb of data ...");
    printf(".....");
    for (int i = 1; i <= totalBytesToSend; ++i) {
        gDataBuffer[i - 1] = static_cast<char>(rand() % 100);
        if (i % DATA_CHUNK_SIZE == 0) {
            const int percentage = static_cast<int>(static_cast<int64_t>(i) * 100 / totalBytesToSend);
            printf("%d%%", percentage);
            Sleep(PROGRESS_PAUSE_MS);
            printf(percentage <= 9 ? "\b\b" : "\b\b\b");
        }
    }
    printf("100%%");
    return TRUE;
}
