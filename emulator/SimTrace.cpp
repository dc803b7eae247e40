#include "SimTrace.h"

#include <time.h>

int64_t monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

Trace::~Trace()
{
    if (file_ != nullptr) {
        fclose(file_);
    }
}

bool Trace::open(const std::string &path, int64_t startUs)
{
    startUs_ = startUs;
    file_ = fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void Trace::line(int64_t nowUs, const std::string &text)
{
    if (file_ == nullptr) {
        return;
    }
    fprintf(file_, "%10.3f %s\n", static_cast<double>(nowUs - startUs_) / 1000.0, text.c_str());
    fflush(file_);
}
