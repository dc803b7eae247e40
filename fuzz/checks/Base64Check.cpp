#include "FuzzChecks.h"

#include "web/Encoder.h"

#include <vector>

namespace {

// Bytes behind the capacity given to a coder; any change to them is a write
// past that capacity, whatever sanitizer the build has.
constexpr size_t GUARD_SIZE = 32;

uint8_t guardByte(size_t i)
{
    return static_cast<uint8_t>(0xA5 ^ (i * 37));
}

// A destination of `capacity` bytes followed by the guard.
struct Guarded {
    explicit Guarded(int capacity) : bytes(static_cast<size_t>(capacity) + GUARD_SIZE, 0xEE), size(capacity)
    {
        for (size_t i = 0; i < GUARD_SIZE; ++i) {
            bytes[static_cast<size_t>(capacity) + i] = guardByte(i);
        }
    }
    unsigned char *data() { return bytes.data(); }
    bool guardIntact() const
    {
        for (size_t i = 0; i < GUARD_SIZE; ++i) {
            if (bytes[static_cast<size_t>(size) + i] != guardByte(i)) {
                return false;
            }
        }
        return true;
    }
    std::vector<unsigned char> bytes;
    int size;
};

struct Outcome {
    int result = 0;
    int dlen = 0;
    std::vector<unsigned char> out;  // the first dlen bytes on success
};

// One call into a destination of exactly `capacity` bytes; empty problem text
// unless the call wrote past the capacity.
std::string decodeInto(int capacity, const std::vector<unsigned char> &text, Outcome *outcome)
{
    Guarded dst(capacity);
    outcome->dlen = capacity;
    outcome->result = base64_decode(dst.data(), &outcome->dlen, text.data(), static_cast<int>(text.size()));
    if (!dst.guardIntact()) {
        return "base64_decode wrote past the capacity it was given";
    }
    if (outcome->result == 0 && outcome->dlen >= 0 && outcome->dlen <= capacity) {
        outcome->out.assign(dst.data(), dst.data() + outcome->dlen);
    }
    return "";
}

bool hasSignificant(const std::vector<unsigned char> &text)
{
    for (unsigned char c : text) {
        if (c != '\r' && c != '\n') {
            return true;
        }
    }
    return false;
}

// Arbitrary text into an arbitrary capacity, then the retries the "too small"
// report invites.
std::string checkDecode(const std::vector<unsigned char> &text, int capacity)
{
    Outcome first;
    std::string problem = decodeInto(capacity, text, &first);
    if (!problem.empty()) {
        return problem;
    }
    if (first.result != 0 && first.result != -1) {
        return "base64_decode gave neither 0 nor -1";
    }
    if (first.result == 0) {
        if (first.dlen < 0 || first.dlen > capacity) {
            return "base64_decode reported more bytes than the capacity";
        }
    } else if (first.dlen != capacity && first.dlen <= capacity) {
        return "base64_decode reported a needed capacity it already had";
    }

    // The text holds at most one byte per character, so its length is always
    // room enough: the verdict there is the text's own.
    const int ample = static_cast<int>(text.size()) + 4;
    Outcome roomy;
    problem = decodeInto(ample, text, &roomy);
    if (!problem.empty()) {
        return problem;
    }
    if (first.result == 0 && roomy.result != 0) {
        return "base64_decode accepted a text with little room but refused it with ample room";
    }
    if (first.result == 0 && hasSignificant(text) && first.out != roomy.out) {
        return "base64_decode gave different bytes for different capacities";
    }
    if (first.result == -1 && first.dlen > capacity) {
        // Refused for room only: the size it asked for must do.
        Outcome retry;
        problem = decodeInto(first.dlen, text, &retry);
        if (!problem.empty()) {
            return problem;
        }
        if (retry.result != 0) {
            return "base64_decode refused the capacity it had asked for";
        }
        if (roomy.result != 0 || retry.out != roomy.out) {
            return "base64_decode gave different bytes for the capacity it had asked for";
        }
    }
    return "";
}

bool isAlphabet(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The text wrapped as mail and web forms do, every `width` characters, with
// line ends alternating between CR LF and a bare LF so that one decode
// exercises both.
std::vector<unsigned char> wrapped(const std::vector<unsigned char> &text, size_t width)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && i % width == 0) {
            if ((i / width) % 2 == 1) {
                out.push_back('\r');
            }
            out.push_back('\n');
        }
        out.push_back(text[i]);
    }
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

// Decodes an encoder's text into exactly `capacity` bytes; it must be accepted.
std::string decodeValid(const std::vector<unsigned char> &text, int capacity, std::vector<unsigned char> *plain)
{
    Outcome done;
    const std::string problem = decodeInto(capacity, text, &done);
    if (!problem.empty()) {
        return problem;
    }
    if (done.result != 0) {
        return "base64_decode refused an encoder's text";
    }
    *plain = done.out;
    return "";
}

std::string checkRoundTrip(const std::vector<unsigned char> &plain)
{
    if (plain.empty()) {
        return "";
    }
    const int slen = static_cast<int>(plain.size());
    // Four characters per started group of three bytes, and the terminator.
    const int expectedNeed = static_cast<int>((plain.size() + 2) / 3 * 4 + 1);

    Guarded none(0);
    int need = 0;
    if (base64_encode(none.data(), &need, plain.data(), slen) != -1 || !none.guardIntact()) {
        return "base64_encode did not refuse a zero capacity cleanly";
    }
    if (need != expectedNeed) {
        return "base64_encode asked for a capacity other than the text's length plus one";
    }
    Guarded short1(need - 1);
    int shortLen = need - 1;
    if (base64_encode(short1.data(), &shortLen, plain.data(), slen) != -1 || !short1.guardIntact() ||
        shortLen != need) {
        return "base64_encode did not refuse a capacity one byte short cleanly";
    }

    Guarded dst(need);
    int dlen = need;
    if (base64_encode(dst.data(), &dlen, plain.data(), slen) != 0) {
        return "base64_encode refused the capacity it had asked for";
    }
    if (!dst.guardIntact()) {
        return "base64_encode wrote past the capacity it was given";
    }
    if (dlen != need - 1 || dst.data()[dlen] != 0) {
        return "base64_encode's text is not of the announced length and zero-terminated";
    }
    const std::vector<unsigned char> text(dst.data(), dst.data() + dlen);
    const size_t pads = plain.size() % 3 == 0 ? 0 : 3 - plain.size() % 3;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool padPlace = i >= text.size() - pads;
        if (padPlace ? text[i] != '=' : !isAlphabet(text[i])) {
            return "base64_encode wrote a character outside the alphabet or a misplaced pad";
        }
    }

    // Asked with no room, the decoder names the capacity it needs; line ends
    // do not count, so the wrapped form needs the same.
    Outcome probe;
    std::string problem = decodeInto(0, text, &probe);
    if (!problem.empty()) {
        return problem;
    }
    if (probe.result != -1 || probe.dlen < slen) {
        return "base64_decode did not ask for enough room for an encoder's text";
    }
    for (const std::vector<unsigned char> &form : {text, wrapped(text, 76)}) {
        std::vector<unsigned char> back;
        problem = decodeValid(form, probe.dlen, &back);
        if (!problem.empty()) {
            return problem;
        }
        if (back != plain) {
            return "base64_decode(base64_encode(data)) differs from the data";
        }
    }
    return "";
}

}  // namespace

std::string checkBase64(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return "";
    }
    const std::vector<unsigned char> payload(data + 2, data + size);
    // Up to a little more than the text's length, which always suffices:
    // larger capacities behave alike and only cost time.
    const int capacity = (data[0] | (data[1] << 8)) % static_cast<int>(payload.size() + 8);
    std::string problem = checkDecode(payload, capacity);
    if (problem.empty()) {
        problem = checkRoundTrip(payload);
    }
    return problem;
}
