// The clock of a run and its trace: one line per event, with the
// milliseconds since the start.
#ifndef SIMTRACE_H_
#define SIMTRACE_H_

#include <cstdint>
#include <cstdio>
#include <string>

// Microseconds of the monotonic clock: the unit's time and the trace's.
int64_t monotonicUs();

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;
    // False, with errno set, when the file cannot be written.
    bool open(const std::string &path, int64_t startUs);
    bool on() const { return file_ != nullptr; }
    // Nothing without a file.
    void line(int64_t nowUs, const std::string &text);

private:
    FILE *file_ = nullptr;
    int64_t startUs_ = 0;
};

#endif
