// Whether a console text ends with the words a run must end with.
#ifndef TESTS_ENDSWITH_H_
#define TESTS_ENDSWITH_H_

#include <string>

inline bool endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

#endif
