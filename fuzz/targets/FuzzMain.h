// What every target does with a check's verdict: a broken property is a
// crash, so libFuzzer keeps the input and stops.
#ifndef FUZZMAIN_H_
#define FUZZMAIN_H_

#include <cstdio>
#include <cstdlib>
#include <string>

inline void failOnProblem(const std::string &problem)
{
    if (!problem.empty()) {
        fprintf(stderr, "\nproperty broken: %s\n", problem.c_str());
        abort();
    }
}

#endif
