#include "console/StatusLines.h"

#include <cctype>

namespace {

std::string g_line;      // as the console shows it
size_t g_cursor = 0;     // where the next character lands
std::string g_reported;  // what the log already has of this line
int g_tenth = -1;        // the last tenth of a percentage shown; -1: no percentage

std::string shown(size_t length)
{
    std::string text = g_line.substr(0, length);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// The text as shown, when the log does not have it yet.
std::string unreported(size_t length)
{
    std::string text = shown(length);
    if (text.empty() || text == g_reported) {
        return "";
    }
    g_reported = text;
    return text;
}

void newLine(void)
{
    g_line.clear();
    g_cursor = 0;
    g_reported.clear();
    g_tenth = -1;
}

// The percentage just drawn in front of the cursor, or -1.
int percentageBeforeCursor(void)
{
    size_t digits = g_cursor - 1;
    while (digits > 0 && isdigit(static_cast<unsigned char>(g_line[digits - 1]))) {
        --digits;
    }
    const size_t count = g_cursor - 1 - digits;
    if (count == 0 || count > 3) {
        return -1;
    }
    return std::stoi(g_line.substr(digits, count));
}

void put(char c, std::vector<std::string> &lines)
{
    if (g_cursor < g_line.size()) {
        g_line[g_cursor] = c;
    } else {
        g_line.push_back(c);
    }
    ++g_cursor;
    const int percentage = c == '%' ? percentageBeforeCursor() : -1;
    if (percentage < 0 || percentage / 10 <= g_tenth) {
        return;
    }
    const bool first = g_tenth < 0;
    g_tenth = percentage / 10;
    // A transfer that starts at 1 % says so at 10 %, not at once.
    std::string text = first && g_tenth == 0 ? "" : unreported(g_cursor);
    if (!text.empty()) {
        lines.push_back(text);
    }
}

}  // namespace

void statusLines_reset(void)
{
    newLine();
}

std::vector<std::string> statusLines_feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char c : bytes) {
        switch (c) {
        case '\n': {
            const std::string text = unreported(g_line.size());
            if (!text.empty()) {
                lines.push_back(text);
            }
            newLine();
            break;
        }
        case '\r': g_cursor = 0; break;
        case '\b':
            if (g_cursor > 0) {
                --g_cursor;
            }
            break;
        default: put(c, lines);
        }
    }
    return lines;
}

std::string statusLines_pending(void)
{
    return g_tenth >= 0 ? "" : unreported(g_line.size());
}

std::string statusLines_finish(void)
{
    const std::string text = unreported(g_line.size());
    newLine();
    return text;
}
