// The console is captured at the file descriptor level (descriptors 0 and 1
// moved onto temporary files), which works the same with glibc and with the
// Windows C runtime: no stream of the C library is replaced.
#include "SimConsole.h"

#include "SimEvents.h"
#include "TempFolder.h"

#include "platform/KeyPress.h"

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

// Whatever the program prints reaches the capture file at once, as on the
// real platforms, so each piece can be stamped with the virtual time.
struct UnbufferedOutput {
    UnbufferedOutput() { setvbuf(stdout, nullptr, _IONBF, 0); }
} unbufferedOutput;

std::unique_ptr<TempFolder> folder;
int fileCount = 0;

FILE *captureFile = nullptr;  // descriptor 1 is a duplicate of it while capturing
std::string captureFilePath;
std::string inputFilePath;
int realStdoutFd = -1;
int realStdinFd = -1;
bool suspended = false;
bool collecting = false;
long collectedLength = 0;
std::string captured;
int keyWaits = 0;

std::string newFilePath(const char *kind)
{
    if (!folder) {
        folder = std::make_unique<TempFolder>();
    }
    return folder->path(std::string(kind) + std::to_string(++fileCount));
}

void removeFile(std::string &path)
{
    if (!path.empty()) {
        remove(path.c_str());
        path.clear();
    }
}

}  // namespace

// Moves what has been printed since the last call into the text and the event
// log. Called before every event is recorded and when a read begins, so the
// log keeps the order and the time at which things happened.
void simConsole_collect()
{
    if (captureFile == nullptr || collecting) {
        return;
    }
    collecting = true;
    fflush(stdout);
    // Read through a handle of its own: moving the writers' shared offset
    // races with a thread of the program that prints meanwhile, where the
    // C runtime emulates appending by a seek before each write (Windows).
    std::string fresh;
    if (FILE *reader = fopen(captureFilePath.c_str(), "rb")) {
        fseek(reader, collectedLength, SEEK_SET);
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, reader)) > 0;) {
            fresh.append(buffer, got);
        }
        fclose(reader);
    }
    collectedLength += static_cast<long>(fresh.size());
    if (!fresh.empty()) {
        captured += fresh;
        simEvents_record(SimEventKind::Console, 0, fresh);
    }
    collecting = false;
}

void simConsole_begin(const std::string &input)
{
    simConsole_end();
    captured.clear();
    collectedLength = 0;
    keyWaits = 0;

    inputFilePath = newFilePath("stdin");
    FILE *inputFile = fopen(inputFilePath.c_str(), "wb");
    fwrite(input.data(), 1, input.size(), inputFile);
    fclose(inputFile);
    // Opened afresh, so descriptor 0 starts at the first byte. No seek on the
    // stream: glibc may answer a seek from its buffer, with the old input.
    inputFile = fopen(inputFilePath.c_str(), "rb");
    realStdinFd = dup(0);
    dup2(fileno(inputFile), 0);
    fclose(inputFile);
    clearerr(stdin);

    captureFilePath = newFilePath("stdout");
    // Appending: a thread of the program (the tool's console capture) may
    // write while a collection reads from an earlier offset.
    captureFile = fopen(captureFilePath.c_str(), "a+b");
    fflush(stdout);
    realStdoutFd = dup(1);
    dup2(fileno(captureFile), 1);
}

void simConsole_end()
{
    if (captureFile != nullptr) {
        simConsole_collect();
        fflush(stdout);
        dup2(realStdoutFd, 1);
        close(realStdoutFd);
        realStdoutFd = -1;
        suspended = false;
        fclose(captureFile);
        captureFile = nullptr;
        removeFile(captureFilePath);
    }
    if (realStdinFd >= 0) {
        // Leaves the stream's buffer empty, so the next input is read from
        // whatever descriptor 0 is then, not from what is left of this one.
        while (getchar() != EOF) {
        }
        clearerr(stdin);
        dup2(realStdinFd, 0);
        close(realStdinFd);
        realStdinFd = -1;
        clearerr(stdin);
        removeFile(inputFilePath);
    }
}

void simConsole_suspend()
{
    if (captureFile != nullptr && !suspended) {
        simConsole_collect();
        fflush(stdout);
        dup2(realStdoutFd, 1);
        suspended = true;
    }
}

void simConsole_resume()
{
    if (suspended) {
        fflush(stdout);
        dup2(fileno(captureFile), 1);
        suspended = false;
    }
}

std::string simConsole_text()
{
    simConsole_collect();
    return captured;
}

int simConsole_keyWaits()
{
    return keyWaits;
}

int readSingleKey(void)
{
    ++keyWaits;
    simEvents_record(SimEventKind::KeyWait, 0, "");
    return '\r';
}
