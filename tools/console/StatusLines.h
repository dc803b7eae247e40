// The technician's console turned into status lines for the update log:
// a line as it stands once finished (after "\r" and "\b" redraws), and a
// line that shows a percentage once at each new tenth of it.
#ifndef STATUSLINES_H_
#define STATUSLINES_H_

#include <string>
#include <string_view>
#include <vector>

// One line as a screen shows it while it is drawn.
struct ScreenLine {
    std::string shown;
    size_t cursor = 0;  // where the next character lands
};

// Draws one character: a backspace takes the cursor one column back, a
// carriage return to the start, anything else replaces what stands there.
void screenLine_put(ScreenLine &line, char c);
// `raw` (without its "\n") as it stands once drawn.
std::string screenLine_of(std::string_view raw);

// Forgets the line in progress.
void statusLines_reset(void);
// Takes console bytes; gives the lines they finished or took to a new tenth.
std::vector<std::string> statusLines_feed(std::string_view bytes);
// The line in progress when it holds text not reported yet and shows no
// percentage (a label waiting for its status word); empty otherwise.
std::string statusLines_pending(void);
// The line in progress, percentage or not, when not reported yet: the last
// words of a run.
std::string statusLines_finish(void);

#endif
