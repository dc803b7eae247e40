#include "update/ConsoleInput.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t ANSWER_SIZE = 32;

// One line of input, at most ANSWER_SIZE - 1 characters of it kept; the rest
// of a longer line is read and dropped. FALSE at the end of input with
// nothing read.
BOOL readAnswerLine(char *answer, bool *tooLong)
{
    size_t length = 0;
    *tooLong = false;
    int c = getchar();
    if (c == EOF) {
        return FALSE;
    }
    for (; c != EOF && c != '\n'; c = getchar()) {
        if (length + 1 < ANSWER_SIZE) {
            answer[length++] = static_cast<char>(c);
        } else {
            *tooLong = true;
        }
    }
    answer[length] = '\0';
    return TRUE;
}

// A whole line that is one decimal integer within an int, white space around it allowed.
bool parseDecimal(const char *answer, int *value)
{
    char *end = nullptr;
    errno = 0;
    const long parsed = strtol(answer, &end, 10);
    if (end == answer || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    while (isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

}  // namespace

BOOL readDecimalAnswer(int *value, const char *prompt)
{
    char answer[ANSWER_SIZE];
    bool tooLong = false;
    while (readAnswerLine(answer, &tooLong)) {
        if (!tooLong && parseDecimal(answer, value)) {
            return TRUE;
        }
        printf("%s", prompt);
    }
    return FALSE;
}
