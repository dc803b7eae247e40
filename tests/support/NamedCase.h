// The cases of a parameterised test carry a name: test listings and failure
// messages show it instead of the case's bytes, and CaseName makes it the
// test's own name (characters a test name cannot hold become '_').
#ifndef TESTS_NAMEDCASE_H_
#define TESTS_NAMEDCASE_H_

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

// The base of every case: {"name", the case's own members...}.
struct NamedCase {
    const char *name;
};

inline std::ostream &operator<<(std::ostream &out, const NamedCase &c)
{
    return out << c.name;
}

struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case> &info) const
    {
        std::string name = info.param.name;
        for (char &c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    }
};

#endif
