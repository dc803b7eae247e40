#include "base/ErrorText.h"

std::string ErrorText_Of(DWORD code)
{
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                   nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    if (!reason.empty() && reason.back() == '.') {
        reason.pop_back();
    }
    return reason.empty() ? "error " + std::to_string(code) : reason;
}
