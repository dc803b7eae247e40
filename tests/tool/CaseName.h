// Parameterised cases named by their own `name` field.
#ifndef TESTS_CASENAME_H_
#define TESTS_CASENAME_H_

#include <gtest/gtest.h>

#include <string>

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case> &param)
{
    return param.param.name;
}

#endif
