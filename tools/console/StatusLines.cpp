#include "console/StatusLines.h"

#include <cctype>

namespace {

ScreenLine g_screen;     // the line as the console shows it
std::string g_reported;  // what the log already has of this line
int g_tenth = -1;        // the last tenth of a percentage shown; -1: no percentage

std::string shown(size_t length)
{
    std::string text = g_screen.shown.substr(0, length);
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
    g_screen = ScreenLine{};
    g_reported.clear();
    g_tenth = -1;
}

// The percentage just drawn in front of the cursor, or -1.
int percentageBeforeCursor(void)
{
    const std::string &line = g_screen.shown;
    size_t digits = g_screen.cursor - 1;
    while (digits > 0 && isdigit(static_cast<unsigned char>(line[digits - 1]))) {
        --digits;
    }
    const size_t count = g_screen.cursor - 1 - digits;
    if (count == 0 || count > 3) {
        return -1;
    }
    return std::stoi(line.substr(digits, count));
}

// A "%" was just drawn: a line at a new tenth is reported.
void notePercentage(std::vector<std::string> &lines)
{
    const int percentage = percentageBeforeCursor();
    if (percentage < 0 || percentage / 10 <= g_tenth) {
        return;
    }
    const bool first = g_tenth < 0;
    g_tenth = percentage / 10;
    // A transfer that starts at 1 % says so at 10 %, not at once.
    std::string text = first && g_tenth == 0 ? "" : unreported(g_screen.cursor);
    if (!text.empty()) {
        lines.push_back(text);
    }
}

}  // namespace

void screenLine_put(ScreenLine &line, char c)
{
    if (c == '\r') {
        line.cursor = 0;
    } else if (c == '\b') {
        line.cursor = line.cursor > 0 ? line.cursor - 1 : 0;
    } else if (line.cursor < line.shown.size()) {
        line.shown[line.cursor++] = c;
    } else {
        line.shown.push_back(c);
        ++line.cursor;
    }
}

std::string screenLine_of(std::string_view raw)
{
    ScreenLine line;
    for (const char c : raw) {
        screenLine_put(line, c);
    }
    return line.shown;
}

void statusLines_reset(void)
{
    newLine();
}

std::vector<std::string> statusLines_feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char c : bytes) {
        if (c == '\n') {
            const std::string text = unreported(g_screen.shown.size());
            if (!text.empty()) {
                lines.push_back(text);
            }
            newLine();
            continue;
        }
        screenLine_put(g_screen, c);
        if (c == '%') {
            notePercentage(lines);
        }
    }
    return lines;
}

std::string statusLines_pending(void)
{
    return g_tenth >= 0 ? "" : unreported(g_screen.shown.size());
}

std::string statusLines_finish(void)
{
    const std::string text = unreported(g_screen.shown.size());
    newLine();
    return text;
}
