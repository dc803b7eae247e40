// make_images OUTDIR
//
// Writes synthetic stand-ins for the three vendor image files the updater
// embeds. The vendor files cannot live in this repository, so these copy what
// the updater actually depends on: record layout, text length, address ranges,
// the absence of 0xFF in the payload and the image checksums. The payload is
// made to look like the real thing (Thumb-style code, Xilinx configuration
// packets) so that nothing downstream can get away with treating it as filler.
//
// Output is fully deterministic: fixed seeds, integer arithmetic only.

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Modulo bias is irrelevant for synthetic content; determinism is what counts.
    std::uint32_t below(std::uint64_t n) { return static_cast<std::uint32_t>(next() % n); }
    bool permille(std::uint32_t p) { return below(1000) < p; }
    std::uint32_t word() { return static_cast<std::uint32_t>(next() >> 32); }

private:
    std::uint64_t state_;
};

bool clean16(std::uint32_t v)
{
    return (v & 0xFFu) != 0xFFu && ((v >> 8) & 0xFFu) != 0xFFu;
}
bool clean32(std::uint32_t v)
{
    return clean16(v & 0xFFFFu) && clean16(v >> 16);
}

// Replaces any 0xFF byte; used where content is random anyway.
std::uint32_t scrub32(std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8) {
        if (((v >> shift) & 0xFFu) == 0xFFu)
            v &= ~(0x80u << shift);
    }
    return v;
}

std::uint64_t byteSum(std::span<const std::uint8_t> bytes)
{
    std::uint64_t s = 0;
    for (auto b : bytes)
        s += b;
    return s;
}

// Moves the byte sum of `image` to `target` by nudging non-zero bytes inside
// [first, last). Zero bytes stay zero so sparse areas keep their shape, and
// nothing is ever pushed to 0xFF. Returns how many bytes were touched.
std::size_t steerSum(Bytes &image, std::size_t first, std::size_t last, std::uint64_t target, SplitMix64 &rng)
{
    std::int64_t diff = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(byteSum(image));
    std::int64_t room = 0;
    for (std::size_t i = first; i < last; ++i) {
        if (image[i] != 0)
            room += diff > 0 ? 0xFE - image[i] : image[i] - 1;
    }
    if (room < (diff < 0 ? -diff : diff))
        throw std::runtime_error("not enough adjustable bytes to reach the byte sum");

    std::size_t touched = 0;
    while (diff != 0) {
        std::size_t i = first + rng.below(last - first);
        int b = image[i];
        if (b == 0)
            continue;
        std::int64_t step = diff > 0 ? std::min<std::int64_t>(diff, 0xFE - b) : -std::min<std::int64_t>(-diff, b - 1);
        if (step == 0)
            continue;
        image[i] = static_cast<std::uint8_t>(b + step);
        diff -= step;
        ++touched;
    }
    return touched;
}

// ---------------------------------------------------------------- Intel HEX

void appendHexByte(std::string &out, std::uint8_t b)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0x0F]);
}

void appendRecord(std::string &out, std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data)
{
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        appendHexByte(out, b);
        sum = static_cast<std::uint8_t>(sum + b);
    };
    out.push_back(':');
    put(static_cast<std::uint8_t>(data.size()));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset));
    put(type);
    for (auto b : data)
        put(b);
    appendHexByte(out, static_cast<std::uint8_t>(0x100 - sum));
    out += "\r\n";
}

struct Segment {
    std::uint32_t address;
    Bytes bytes;
};

std::string toIntelHex(const std::vector<Segment> &segments, std::optional<std::uint32_t> start)
{
    std::string out;
    std::optional<std::uint16_t> upper;
    for (const auto &seg : segments) {
        std::size_t i = 0;
        while (i < seg.bytes.size()) {
            const std::uint32_t addr = seg.address + static_cast<std::uint32_t>(i);
            const auto hi = static_cast<std::uint16_t>(addr >> 16);
            if (upper != hi) {
                const std::array<std::uint8_t, 2> ela{static_cast<std::uint8_t>(hi >> 8),
                                                      static_cast<std::uint8_t>(hi)};
                appendRecord(out, 4, 0, ela);
                upper = hi;
            }
            // Records never straddle a 64 KiB boundary: the upper address would be wrong.
            const std::size_t n = std::min<std::size_t>({16, seg.bytes.size() - i, 0x10000u - (addr & 0xFFFFu)});
            appendRecord(out, 0, static_cast<std::uint16_t>(addr),
                         std::span<const std::uint8_t>(seg.bytes).subspan(i, n));
            i += n;
        }
    }
    if (start) {
        const std::array<std::uint8_t, 4> s{static_cast<std::uint8_t>(*start >> 24),
                                            static_cast<std::uint8_t>(*start >> 16),
                                            static_cast<std::uint8_t>(*start >> 8), static_cast<std::uint8_t>(*start)};
        appendRecord(out, 5, 0, s);
    }
    appendRecord(out, 1, 0, {});
    return out;
}

// ------------------------------------------------------ microcontroller image

constexpr std::uint32_t kMcuCodeBase = 0x80008000;
constexpr std::size_t kMcuCodeLen = 0x11E78;  // up to 0x80019E77
constexpr std::uint32_t kMcuTableBase = 0x8001A000;
constexpr std::size_t kMcuTableLen = 0x2B94;  // up to 0x8001CB93, erased word last
constexpr std::uint32_t kMcuEntry = 0x80008008;
constexpr std::size_t kMcuFlatLen = 0x1CB90;  // top address byte dropped, erased word excluded
constexpr std::uint64_t kMcuSum = 15'945'713;

// Content mix of the code area, set so its byte statistics sit close to the
// total the tables have to make up.
constexpr std::uint32_t kStringPermille = 90;
constexpr std::uint32_t kRodataPermille = 150;
constexpr std::uint32_t kLiteralPercent = 12;

// Real immediates and offsets cluster near zero; a skewed draw keeps the
// byte statistics closer to compiled code than a flat one would.
std::uint32_t smallImm(SplitMix64 &r, std::uint32_t limit)
{
    return r.below(r.below(limit) + 1);
}

// Every draw gets its own statement: the operands of one expression may be
// evaluated in any order, and another compiler would then write other files.
std::uint16_t randomThumbOp(SplitMix64 &r)
{
    for (;;) {
        const std::uint32_t rd = r.below(8);
        const std::uint32_t rn = r.below(8);
        const std::uint32_t rm = r.below(8);
        const std::uint32_t sub = r.below(4);  // sub-opcode bits
        const std::uint32_t form = r.below(16);
        const std::uint32_t imm5 = smallImm(r, 32);
        const std::uint32_t imm8 = smallImm(r, 256);
        std::uint32_t op = 0;
        switch (form) {
        case 0: op = 0x2000u | rd << 8 | imm8; break;                                   // MOVS imm
        case 1: op = 0x2800u | rn << 8 | imm8; break;                                   // CMP imm
        case 2: op = ((sub & 1) ? 0x3000u : 0x3800u) | rd << 8 | (imm8 & 0x3F); break;  // ADDS/SUBS imm8
        case 3:
        case 4: op = ((sub & 1) ? 0x6800u : 0x6000u) | imm5 << 6 | rn << 3 | rd; break;  // LDR/STR imm
        case 5: op = 0x7000u | (sub & 1) << 11 | imm5 << 6 | rn << 3 | rd; break;        // STRB/LDRB
        case 6: op = 0x8000u | (sub & 1) << 11 | imm5 << 6 | rn << 3 | rd; break;        // STRH/LDRH
        case 7: op = 0x1800u | sub << 9 | rm << 6 | rn << 3 | rd; break;                 // ADDS/SUBS
        case 8: op = (sub % 3) << 11 | imm5 << 6 | rm << 3 | rd; break;                  // shifts
        case 9:
        case 10: op = 0x4000u | (imm8 & 0x0F) << 6 | rm << 3 | rd; break;          // ALU register
        case 11: op = 0x4600u | rd << 4 | rm << 1 | (sub & 1); break;              // MOV high
        case 12: op = 0x9000u | (sub & 1) << 11 | rd << 8 | (imm8 & 0x3F); break;  // SP-relative
        case 13: op = 0xB200u | sub << 6 | rm << 3 | rd; break;                    // extend
        case 14: op = 0xA800u | rd << 8 | (imm8 & 0x3F); break;                    // ADD rd, SP
        default: op = 0x4280u | rm << 3 | rn; break;                               // CMP register
        }
        if (clean16(op))
            return static_cast<std::uint16_t>(op);
    }
}

constexpr std::array<std::string_view, 24> kNouns{
    "tx pll",   "rx pll",  "sdi link",   "genlock",   "ref clock", "sfp",      "fan",      "temp sensor",
    "flash",    "fpga tx", "fpga rx",    "i2c bus",   "spi bus",   "eeprom",   "psu rail", "audio",
    "timecode", "crc",     "frame sync", "video std", "uart",      "watchdog", "boot",     "update"};
constexpr std::array<std::string_view, 16> kStates{"locked",  "unlocked", "lost",     "ok",       "fault",   "timeout",
                                                   "ready",   "busy",     "error %u", "retry %u", "at %d C", "mode %s",
                                                   "0x%08lx", "done",     "missing",  "overrun"};

std::string randomMessage(SplitMix64 &r)
{
    std::string s(kNouns[r.below(kNouns.size())]);
    s += ' ';
    s += kStates[r.below(kStates.size())];
    if (r.permille(150))
        s += "\r\n";
    return s;
}

class ThumbImage {
public:
    ThumbImage(std::uint32_t base, SplitMix64 &rng) : base_(base), r_(rng) {}

    std::uint32_t here() const { return base_ + static_cast<std::uint32_t>(code_.size()); }
    std::size_t size() const { return code_.size(); }
    Bytes &bytes() { return code_; }

    void h16(std::uint32_t v)
    {
        code_.push_back(static_cast<std::uint8_t>(v));
        code_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void w32(std::uint32_t v)
    {
        h16(v & 0xFFFFu);
        h16(v >> 16);
    }
    void alignWord()
    {
        if (code_.size() % 4 != 0)
            h16(0xBF00);  // NOP
    }
    void put32At(std::size_t pos, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            code_[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    // Thumb-2 BL; returns false when the encoding would carry an 0xFF byte.
    bool bl(std::uint32_t target)
    {
        const auto offset = static_cast<std::int32_t>((target & ~1u) - (here() + 4));
        const auto o = static_cast<std::uint32_t>(offset);
        const std::uint32_t s = (o >> 24) & 1, i1 = (o >> 23) & 1, i2 = (o >> 22) & 1;
        const std::uint32_t j1 = (~(i1 ^ s)) & 1, j2 = (~(i2 ^ s)) & 1;
        const std::uint32_t first = 0xF000u | s << 10 | ((o >> 12) & 0x3FFu);
        const std::uint32_t second = 0xD000u | j1 << 13 | j2 << 11 | ((o >> 1) & 0x7FFu);
        if (!clean16(first) || !clean16(second))
            return false;
        h16(first);
        h16(second);
        return true;
    }

    std::uint32_t randomConstant()
    {
        for (;;) {
            std::uint32_t v = 0;
            switch (r_.below(8)) {
            case 0:
            case 1: {
                const std::uint32_t block = r_.below(0x30);
                v = 0x40000000u + (block << 10) + (smallImm(r_, 0x40) << 2);
                break;
            }
            case 2: v = 0x20000000u + (r_.below(0x4000) << 2); break;
            case 3: v = functions_.empty() ? 0u : functions_[r_.below(functions_.size())]; break;
            case 4: v = strings_.empty() ? 0u : strings_[r_.below(strings_.size())]; break;
            case 5: v = 1u << r_.below(32); break;
            case 6: v = smallImm(r_, 0x10000); break;
            default: v = 0xE000E100u + (r_.below(0x40) << 2); break;
            }
            if (clean32(v))
                return v;
        }
    }

    void function()
    {
        alignWord();
        functions_.push_back(here() | 1);
        std::vector<std::pair<std::size_t, std::uint32_t>> literals;  // LDR position, value

        auto loadLiteral = [&](std::uint32_t rt, std::uint32_t value) {
            literals.emplace_back(code_.size(), value);
            h16(0x4800u | rt << 8);  // offset patched once the pool is placed
        };

        const std::uint32_t kind = r_.below(10);
        if (kind == 0) {  // register getter
            loadLiteral(0, randomConstant());
            h16(0x6800u | smallImm(r_, 32) << 6);
            h16(0x4770);         // BX LR
        } else if (kind == 1) {  // constant return
            h16(0x2000u | smallImm(r_, 256));
            h16(0x4770);
        } else {
            static constexpr std::array<std::uint32_t, 6> regLists{0xF0, 0x70, 0x30, 0x10, 0xF8, 0x38};
            const std::uint32_t regs = regLists[r_.below(regLists.size())];
            const bool frame = r_.permille(300);
            const std::uint32_t frameWords = 1 + r_.below(0x20);
            h16(0xB500u | regs);
            if (frame)
                h16(0xB080u | frameWords);
            const std::uint32_t count = 8 + r_.below(r_.below(100) + 1);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t pick = r_.below(100);
                if (pick < 8 && functions_.size() > 1) {
                    if (!bl(functions_[r_.below(functions_.size() - 1)]))
                        h16(randomThumbOp(r_));
                } else if (pick < 8 + kLiteralPercent && literals.size() < 16) {
                    const std::uint32_t rt = r_.below(8);
                    loadLiteral(rt, randomConstant());
                } else if (pick < 14 + kLiteralPercent) {
                    const std::uint32_t cond = r_.below(14);
                    const std::uint32_t disp = r_.permille(700) ? 1 + r_.below(20) : 0x100 - 2 - r_.below(24);
                    h16(0xD000u | cond << 8 | disp);
                } else if (pick < 16 + kLiteralPercent) {
                    h16(0xE000u | (1 + r_.below(30)));
                } else {
                    h16(randomThumbOp(r_));
                }
            }
            if (frame)
                h16(0xB000u | frameWords);
            h16(0xBD00u | regs);
        }

        if (literals.empty())
            return;
        alignWord();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pool;  // value, address
        for (const auto &lit : literals) {
            const std::size_t pos = lit.first;
            const std::uint32_t value = lit.second;
            auto it = std::find_if(pool.begin(), pool.end(), [value](const auto &p) { return p.first == value; });
            std::uint32_t addr = 0;
            if (it != pool.end()) {
                addr = it->second;
            } else {
                addr = here();
                w32(value);
                pool.emplace_back(value, addr);
            }
            const std::uint32_t pc = (base_ + static_cast<std::uint32_t>(pos) + 4) & ~3u;
            const std::uint32_t imm = (addr - pc) / 4;
            if (imm > 0xFF)
                throw std::logic_error("literal pool out of reach");
            code_[pos] = static_cast<std::uint8_t>(imm);
        }
    }

    // Small constant arrays the compiler parks between functions: ids, flags,
    // pointers, mostly narrow values in wide slots.
    void rodataBlock(std::size_t limit)
    {
        alignWord();
        const std::uint32_t n = 2 + r_.below(24);
        for (std::uint32_t i = 0; i < n && code_.size() + 8 <= limit; ++i) {
            h16(scrub32(1 + smallImm(r_, 0x200)));
            code_.push_back(static_cast<std::uint8_t>(r_.below(16)));
            code_.push_back(0);
            w32(r_.permille(400) ? randomConstant() : scrub32(smallImm(r_, 0x1000)));
        }
    }

    void stringBlock(std::size_t limit)
    {
        const std::uint32_t n = 1 + r_.below(6);
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::string s = randomMessage(r_);
            if (code_.size() + s.size() + 1 > limit)
                break;
            strings_.push_back(here());
            code_.insert(code_.end(), s.begin(), s.end());
            code_.push_back(0);
        }
        while (code_.size() % 4 != 0 && code_.size() < limit)
            code_.push_back(0);
    }

    const std::vector<std::uint32_t> &functions() const { return functions_; }

private:
    std::uint32_t base_;
    SplitMix64 &r_;
    Bytes code_;
    std::vector<std::uint32_t> functions_;
    std::vector<std::uint32_t> strings_;
};

Bytes makeMcuCode(SplitMix64 &rng)
{
    ThumbImage img(kMcuCodeBase, rng);
    constexpr std::size_t kVectors = 46;

    // Boot header: initial stack pointer, then the entry point (Thumb bit set).
    img.w32(0x20010000);
    img.w32(kMcuEntry | 1);
    // Entry: hop over the vector table that sits right behind it.
    const std::size_t tableAt = img.size() + 4;
    const std::uint32_t entryPc = img.here() + 4;
    const std::uint32_t afterTable = kMcuCodeBase + static_cast<std::uint32_t>(tableAt + kVectors * 4);
    img.h16(0xE000u | ((afterTable - entryPc) >> 1));
    img.h16(0xBF00);
    for (std::size_t i = 0; i < kVectors; ++i)
        img.w32(0);

    // Default handler spins in place (B .).
    const std::uint32_t spin = img.here() | 1;
    img.h16(0xE7FE);
    img.h16(0xBF00);

    constexpr std::size_t trailerLen = 8;
    constexpr std::size_t codeLimit = kMcuCodeLen - trailerLen;
    while (img.size() + 1200 < codeLimit) {
        img.function();
        if (rng.permille(kStringPermille))
            img.stringBlock(codeLimit);
        if (rng.permille(kRodataPermille))
            img.rodataBlock(codeLimit);
    }
    while (img.size() + 40 < codeLimit)
        img.stringBlock(codeLimit);
    while (img.size() < codeLimit)
        img.bytes().push_back(0);

    // Image length and build number close the code area, as the boot loader expects.
    img.w32(static_cast<std::uint32_t>(kMcuCodeLen));
    img.w32(0x0105003D);

    // Fill the vector table: reserved slots zero, most interrupts on the default handler.
    const auto &fns = img.functions();
    for (std::size_t i = 0; i < kVectors; ++i) {
        std::uint32_t v = spin;
        const bool reserved = (i >= 5 && i <= 8) || i == 11;
        if (reserved) {
            v = 0;
        } else if (rng.permille(450)) {
            const std::uint32_t f = fns[rng.below(fns.size())];
            if (clean32(f))
                v = f;
        }
        img.put32At(tableAt + i * 4, v);
    }
    return std::move(img.bytes());
}

void put16(Bytes &b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes &b, std::uint32_t v)
{
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}

// Constant tables behind the code: texts, register init lists, curves, video
// timings, and last a block of calibration bytes whose values carry the table
// area to `budget` (its byte sum). numericStart tells where the texts end, so
// any further steering leaves them readable.
Bytes makeMcuTables(SplitMix64 &r, std::uint64_t budget, std::size_t &numericStart)
{
    constexpr std::size_t len = kMcuTableLen - 4;  // the erased word is appended by the caller
    constexpr std::size_t calibrationLen = 1024;
    Bytes t;
    t.insert(t.end(), {'T', 'B', 'L', '1'});
    put16(t, 0x0105);
    put16(t, 0);
    put32(t, static_cast<std::uint32_t>(kMcuTableLen));
    put32(t, 0x00000003);

    for (int i = 0; i < 40; ++i) {
        const std::string s = randomMessage(r);
        t.insert(t.end(), s.begin(), s.end());
        t.push_back(0);
    }
    while (t.size() % 4 != 0)
        t.push_back(0);
    numericStart = t.size();

    while (t.size() < len - calibrationLen) {
        switch (r.below(4)) {
        case 0: {  // register init list: address, value, mask
            const std::uint32_t n = 8 + r.below(24);
            const std::uint32_t block = 0x40000000u + (r.below(0x30) << 10);
            for (std::uint32_t i = 0; i < n; ++i) {
                put32(t, block + (i << 2));
                const std::uint32_t value = smallImm(r, 0x10000);
                put32(t, scrub32(value << (r.below(3) * 8)));
                put32(t, scrub32(0x0000FFFEu >> r.below(16)));
            }
            break;
        }
        case 1: {  // quarter-wave table, integer circle recurrence (no libm, same on every host)
            std::int32_t x = 0x3FFF, y = 0;
            const std::uint32_t n = 64 + 64 * r.below(3);
            for (std::uint32_t i = 0; i < n; ++i) {
                x -= y >> 6;
                y += x >> 6;
                const auto v = static_cast<std::uint32_t>(0x8000 + y);
                put16(t, (v & 0xFFu) == 0xFFu ? v - 1 : v);
            }
            break;
        }
        case 2: {  // gain curve, monotonic 1..254
            const std::uint32_t n = 128 + r.below(128);
            std::uint32_t acc = 1;
            for (std::uint32_t i = 0; i < n; ++i) {
                acc = std::min<std::uint32_t>(254, acc + r.below(3));
                t.push_back(static_cast<std::uint8_t>(acc));
            }
            break;
        }
        default: {  // video timing descriptors
            struct Std {
                std::uint32_t w, h, tw, th, rate;
            };
            static constexpr std::array<Std, 6> stds{{{1920, 1080, 2200, 1125, 2997},
                                                      {1920, 1080, 2640, 1125, 2500},
                                                      {1280, 720, 1650, 750, 5994},
                                                      {3840, 2160, 4400, 2250, 2997},
                                                      {3840, 2160, 5280, 2250, 2500},
                                                      {720, 486, 858, 525, 2997}}};
            for (const auto &s : stds) {
                put16(t, s.w);
                put16(t, s.h);
                put16(t, s.tw);
                put16(t, s.th);
                put16(t, s.rate);
                t.push_back(static_cast<std::uint8_t>(r.below(4)));
                t.push_back(static_cast<std::uint8_t>(1 + r.below(8)));
                put32(t, s.tw * s.th * s.rate / 100 / 1000);  // pixel clock, kHz
            }
            break;
        }
        }
    }
    t.resize(len - calibrationLen);

    // Each byte heads for the mean still needed, with some spread; the last
    // ones close the gap exactly unless the target is out of reach.
    auto remaining = static_cast<std::int64_t>(budget) - static_cast<std::int64_t>(byteSum(t));
    for (std::size_t left = calibrationLen; left > 0; --left) {
        const std::int64_t jitter = left > 2 ? static_cast<std::int64_t>(r.below(81)) - 40 : 0;
        const auto b = std::clamp<std::int64_t>(remaining / static_cast<std::int64_t>(left) + jitter, 1, 254);
        t.push_back(static_cast<std::uint8_t>(b));
        remaining -= b;
    }
    return t;
}

struct Built {
    std::string text;
    std::size_t steered = 0;
};

Built buildMcu()
{
    SplitMix64 rng(0x4D43550105ULL);
    Bytes code = makeMcuCode(rng);

    // Sums run over the flattened view: 0xFF where nothing is programmed.
    constexpr std::size_t gapLen = kMcuTableBase - (kMcuCodeBase + kMcuCodeLen);
    const std::uint64_t fixed = ((kMcuCodeBase & 0xFFFFu) + gapLen) * 0xFFu + byteSum(code);
    if (fixed >= kMcuSum)
        throw std::logic_error("code area alone exceeds the byte sum");
    std::size_t numericStart = 0;
    Bytes tables = makeMcuTables(rng, kMcuSum - fixed, numericStart);

    Bytes flat(kMcuCodeBase & 0xFFFFu, 0xFF);
    flat.insert(flat.end(), code.begin(), code.end());
    flat.insert(flat.end(), gapLen, 0xFF);
    const std::size_t tablesAt = flat.size();
    flat.insert(flat.end(), tables.begin(), tables.end());
    if (flat.size() != kMcuFlatLen)
        throw std::logic_error("microcontroller layout does not add up");

    Built out;
    out.steered = steerSum(flat, tablesAt + numericStart, flat.size(), kMcuSum, rng);
    std::copy(flat.begin() + static_cast<std::ptrdiff_t>(tablesAt), flat.end(), tables.begin());
    // The last word of the table area is left erased.
    tables.insert(tables.end(), 4, 0xFF);

    out.text = toIntelHex({{kMcuCodeBase, std::move(code)}, {kMcuTableBase, std::move(tables)}}, kMcuEntry);
    return out;
}

// ------------------------------------------------------------- FPGA images

constexpr std::uint32_t kNoop = 0x20000000;
constexpr std::uint32_t kFrameWords = 101;

constexpr std::uint32_t writeReg(std::uint32_t reg, std::uint32_t count)
{
    return 0x30000000u | reg << 13 | count;
}
enum Reg : std::uint32_t {
    CRC = 0x00,
    FAR = 0x01,
    FDRI = 0x02,
    CMD = 0x04,
    CTL0 = 0x05,
    MASK = 0x06,
    COR0 = 0x09,
    IDCODE = 0x0C,
    COR1 = 0x0E,
    WBSTAR = 0x10,
    TIMER = 0x11,
    RBCRC = 0x13,
    CTL1 = 0x18
};

struct FpgaVariant {
    std::uint64_t seed;
    std::size_t imageBytes;  // summed part; one more no-op word follows it
    std::uint64_t sum;
    std::uint32_t cor0;
};

struct ColumnKind {
    std::uint32_t frames;
    bool dense;  // block RAM content: whole words of data
    std::uint32_t weight;
};

std::uint32_t wordBytes(std::uint32_t w)
{
    return (w & 0xFF) + ((w >> 8) & 0xFF) + ((w >> 16) & 0xFF) + (w >> 24);
}

// Frame data whose fill rate follows the budget still open per remaining
// frame, so the byte total lands near the budget by itself; a trim then sets
// or clears single words, leaving less than one word's worth to byte steering.
void appendFrames(std::vector<std::uint32_t> &words, std::size_t frameCount, std::uint64_t budget, SplitMix64 &r)
{
    static constexpr std::array<ColumnKind, 6> kinds{{{36, false, 60},    // CLB
                                                      {42, false, 10},    // IOI
                                                      {28, false, 8},     // DSP
                                                      {28, false, 8},     // BRAM interconnect
                                                      {30, false, 4},     // clocking
                                                      {128, true, 10}}};  // BRAM content
    std::uint32_t totalWeight = 0;
    for (const auto &k : kinds)
        totalWeight += k.weight;

    const std::size_t first = words.size();
    std::uint64_t running = 0;
    std::size_t done = 0;
    // Byte sum per frame that a column at full usage and p = 1000 yields on
    // average over the column mix, scaled by the share of used columns.
    constexpr std::uint64_t kNominal = 6000;
    const std::size_t padFrames = 2;  // trailing pad frames stay empty
    std::array<std::uint32_t, kFrameWords> frame{};

    while (done < frameCount) {
        std::uint32_t pick = r.below(totalWeight);
        const ColumnKind *kind = &kinds[0];
        for (const auto &k : kinds) {
            if (pick < k.weight) {
                kind = &k;
                break;
            }
            pick -= k.weight;
        }
        const std::uint32_t usage = r.permille(200) ? 0 : 300 + r.below(700);
        const std::size_t n = std::min<std::size_t>(kind->frames, frameCount - done);

        for (std::size_t f = 0; f < n; ++f, ++done) {
            frame.fill(0);
            const std::size_t left = frameCount - padFrames - std::min(done, frameCount - padFrames);
            const std::uint64_t open = budget > running ? budget - running : 0;
            const std::uint64_t need = left == 0 ? 0 : open / left;
            const auto p = static_cast<std::uint32_t>(std::min<std::uint64_t>(1000, usage * need / kNominal));
            if (left > 0 && r.permille(p)) {
                if (kind->dense) {
                    for (std::uint32_t i = 0; i < kFrameWords; ++i) {
                        std::uint32_t w = r.word();
                        w &= r.permille(500) ? 0x00FF00FFu : 0xFFFFFFFFu;  // narrow memories leave bytes clear
                        frame[i] = r.permille(200) ? 0 : w;
                    }
                } else {
                    const std::uint32_t hits = 1 + r.below(48);
                    for (std::uint32_t i = 0; i < hits; ++i) {
                        const std::uint32_t at = r.below(kFrameWords);
                        frame[at] |= r.word() & r.word() & r.word();  // order-free: & commutes
                    }
                }
                // The middle word carries the frame ECC: 13 bits, derived from the rest.
                std::uint32_t ecc = 0;
                for (std::uint32_t i = 0; i < kFrameWords; ++i) {
                    if (i != 50)
                        ecc = (ecc * 31 + frame[i]) ^ (ecc >> 7);
                }
                frame[50] = ecc & 0x1FFFu;
            }
            for (auto &w : frame) {
                w = scrub32(w);
                running += wordBytes(w);
                words.push_back(w);
            }
        }
    }

    // Trim: clear words when over, add sparse words beside existing data when
    // under. The ECC word and empty frames are left alone.
    const std::size_t span = frameCount * kFrameWords;
    auto diff = static_cast<std::int64_t>(budget) - static_cast<std::int64_t>(running);
    for (std::size_t tries = 0; (diff > 255 || diff < -255) && tries < 64 * span; ++tries) {
        const std::size_t at = r.below(span);
        if (at % kFrameWords == 50)
            continue;
        std::uint32_t &w = words[first + at];
        if (diff < 0) {
            if (w != 0 && wordBytes(w) <= -diff) {
                diff += wordBytes(w);
                w = 0;
            }
        } else if (w == 0 && at % kFrameWords != 0 && words[first + at - 1] != 0) {
            const std::uint32_t v = scrub32(diff > 2000 ? r.word() : r.word() & r.word() & r.word());
            if (v != 0 && wordBytes(v) <= diff) {
                diff -= wordBytes(v);
                w = v;
            }
        }
    }
}

Built buildFpga(const FpgaVariant &v)
{
    SplitMix64 rng(v.seed);
    auto crcWord = [&] {
        for (;;) {
            const std::uint32_t w = rng.word();
            if (clean32(w))
                return w;
        }
    };

    // The usual 0xFFFFFFFF dummy and pad words are no-ops here: the image must not contain 0xFF.
    std::vector<std::uint32_t> head{0x000000BB,
                                    0x11220044,
                                    kNoop,
                                    kNoop,
                                    0xAA995566,
                                    kNoop,
                                    writeReg(TIMER, 1),
                                    0,
                                    writeReg(WBSTAR, 1),
                                    0,
                                    writeReg(CMD, 1),
                                    0x00000000,
                                    kNoop,
                                    writeReg(CMD, 1),
                                    0x00000007,
                                    kNoop,
                                    kNoop,
                                    writeReg(RBCRC, 1),
                                    0,
                                    writeReg(COR0, 1),
                                    v.cor0,
                                    writeReg(COR1, 1),
                                    0,
                                    writeReg(IDCODE, 1),
                                    0x0362D093,
                                    writeReg(CMD, 1),
                                    0x00000009,
                                    kNoop,
                                    writeReg(MASK, 1),
                                    0x00000401,
                                    writeReg(CTL0, 1),
                                    0x00000501,
                                    writeReg(MASK, 1),
                                    0,
                                    writeReg(CTL1, 1),
                                    0};
    head.insert(head.end(), 8, kNoop);
    head.insert(head.end(), {writeReg(FAR, 1), 0, writeReg(CMD, 1), 0x00000001, kNoop, writeReg(FDRI, 0),
                             0 /* type-2 count, below */});

    std::vector<std::uint32_t> tail{writeReg(CRC, 1), crcWord(), kNoop, kNoop, writeReg(CMD, 1), 0x0000000A, kNoop,
                                    writeReg(CMD, 1), 0x00000003};
    tail.insert(tail.end(), 100, kNoop);
    tail.insert(tail.end(), {writeReg(CMD, 1), 0x00000005, kNoop, writeReg(FAR, 1), 0x03BE0000, writeReg(MASK, 1),
                             0x00000501, writeReg(CTL0, 1), 0x00000501, writeReg(CRC, 1), crcWord(), kNoop, kNoop,
                             writeReg(CMD, 1), 0x0000000D, kNoop, kNoop});

    const std::size_t totalWords = v.imageBytes / 4;
    const std::size_t frames = (totalWords - head.size() - tail.size()) / kFrameWords;
    const std::size_t frameWords = frames * kFrameWords;
    head.back() = 0x50000000u | static_cast<std::uint32_t>(frameWords);
    tail.insert(tail.end(), totalWords - head.size() - tail.size() - frameWords, kNoop);

    auto wordSum = [](std::span<const std::uint32_t> ws) {
        std::uint64_t s = 0;
        for (auto w : ws)
            s += wordBytes(w);
        return s;
    };
    const std::uint64_t fixed = wordSum(head) + wordSum(tail);
    if (fixed >= v.sum)
        throw std::logic_error("packet overhead exceeds the byte sum");

    std::vector<std::uint32_t> words = head;
    appendFrames(words, frames, v.sum - fixed, rng);
    words.insert(words.end(), tail.begin(), tail.end());

    Bytes image;
    image.reserve(words.size() * 4 + 4);
    for (auto w : words) {
        image.push_back(static_cast<std::uint8_t>(w >> 24));
        image.push_back(static_cast<std::uint8_t>(w >> 16));
        image.push_back(static_cast<std::uint8_t>(w >> 8));
        image.push_back(static_cast<std::uint8_t>(w));
    }
    Built out;
    const std::size_t framesAt = head.size() * 4;
    out.steered = steerSum(image, framesAt, framesAt + frameWords * 4, v.sum, rng);
    // One more no-op closes the file, outside the summed image.
    image.insert(image.end(), {0x20, 0x00, 0x00, 0x00});
    out.text = toIntelHex({{0, std::move(image)}}, std::nullopt);
    return out;
}

// ------------------------------------------------------------ self-check

struct Record {
    std::uint8_t type;
    std::uint32_t address;  // absolute, for data records
    Bytes data;
    std::string_view line;
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;  // lower case is rejected on purpose
}

// Independent reading of the text, so a writer bug cannot hide behind itself.
std::vector<Record> parseHex(std::string_view text, std::vector<std::string> &errors)
{
    std::vector<Record> records;
    std::uint32_t upper = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find("\r\n", pos);
        if (eol == std::string_view::npos) {
            errors.push_back("text does not end with CR LF");
            break;
        }
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 2;
        if (line.size() < 11 || line[0] != ':' || line.size() % 2 == 0) {
            errors.push_back("malformed line: " + std::string(line));
            continue;
        }
        Bytes raw;
        bool ok = true;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const int hi = hexValue(line[i]), lo = hexValue(line[i + 1]);
            if (hi < 0 || lo < 0)
                ok = false;
            raw.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        std::uint8_t sum = 0;
        for (auto b : raw)
            sum = static_cast<std::uint8_t>(sum + b);
        if (!ok || raw[0] + 5u != raw.size() || sum != 0) {
            errors.push_back("bad record: " + std::string(line));
            continue;
        }
        Record rec{raw[3], 0, Bytes(raw.begin() + 4, raw.end() - 1), line};
        const std::uint32_t offset = static_cast<std::uint32_t>(raw[1]) << 8 | raw[2];
        if (rec.type == 4 && rec.data.size() == 2)
            upper = static_cast<std::uint32_t>(rec.data[0]) << 8 | rec.data[1];
        rec.address = upper << 16 | offset;
        records.push_back(std::move(rec));
    }
    return records;
}

struct Range {
    std::uint32_t first;
    std::uint32_t end;  // exclusive
};

struct Expectation {
    std::string_view file;
    std::size_t textBytes;
    std::size_t records, ela, data, startRecords;
    std::string_view firstLine;
    std::string_view startLine;  // empty when there is none
    std::vector<Range> coverage;
    std::vector<std::pair<std::uint32_t, std::size_t>> shortRecords;  // address, length, in order
    std::array<std::uint8_t, 4> lastRecordBytes;
    std::size_t flatLen;
    std::uint64_t sum;
    std::uint32_t checksum;
    bool fpga;
};

std::vector<std::string> check(const std::string &text, const Expectation &e)
{
    std::vector<std::string> errors;
    auto expect = [&](bool cond, const std::string &what) {
        if (!cond)
            errors.push_back(what);
    };
    expect(text.size() == e.textBytes,
           "text is " + std::to_string(text.size()) + " bytes, want " + std::to_string(e.textBytes));

    const auto records = parseHex(text, errors);
    std::size_t ela = 0, data = 0, start = 0, eof = 0;
    for (const auto &r : records) {
        switch (r.type) {
        case 0: ++data; break;
        case 1: ++eof; break;
        case 4: ++ela; break;
        case 5: ++start; break;
        default: errors.push_back("unexpected record type " + std::to_string(r.type));
        }
    }
    expect(records.size() == e.records, "record count " + std::to_string(records.size()));
    expect(ela == e.ela, "extended linear address records: " + std::to_string(ela));
    expect(data == e.data, "data records: " + std::to_string(data));
    expect(start == e.startRecords, "start address records: " + std::to_string(start));
    expect(eof == 1, "end-of-file records: " + std::to_string(eof));
    if (records.size() < 3)
        return errors;
    expect(records.front().line == e.firstLine, "first line " + std::string(records.front().line));
    expect(records.back().line == ":00000001FF", "last line " + std::string(records.back().line));
    if (!e.startLine.empty())
        expect(records[records.size() - 2].line == e.startLine,
               "start record " + std::string(records[records.size() - 2].line));

    Bytes flat(e.flatLen, 0xFF);
    std::vector<Range> covered;
    std::size_t shortSeen = 0;
    const Record *last = nullptr;
    std::uint32_t prevEnd = 0;
    for (const auto &r : records) {
        if (r.type != 0)
            continue;
        expect(last == nullptr || r.address >= prevEnd, "data out of order at " + std::to_string(r.address));
        const auto end = r.address + static_cast<std::uint32_t>(r.data.size());
        if (r.data.size() != 16) {
            const bool listed =
                shortSeen < e.shortRecords.size() && e.shortRecords[shortSeen] == std::pair(r.address, r.data.size());
            expect(listed, "unexpected short record: " + std::string(r.line));
            ++shortSeen;
        }
        if (!covered.empty() && covered.back().end == r.address)
            covered.back().end = end;
        else
            covered.push_back({r.address, end});
        last = &r;
        prevEnd = end;
    }
    expect(shortSeen == e.shortRecords.size(), "short record count " + std::to_string(shortSeen));
    expect(covered.size() == e.coverage.size(), "data ranges: " + std::to_string(covered.size()));
    for (std::size_t i = 0; i < std::min(covered.size(), e.coverage.size()); ++i)
        expect(covered[i].first == e.coverage[i].first && covered[i].end == e.coverage[i].end,
               "data range " + std::to_string(i) + " misplaced");
    expect(last != nullptr && last->data.size() == 4 &&
               std::equal(last->data.begin(), last->data.end(), e.lastRecordBytes.begin()),
           "last data record content");

    std::size_t strayFF = 0;
    for (const auto &r : records) {
        if (r.type != 0 || &r == last)
            continue;
        for (std::size_t i = 0; i < r.data.size(); ++i) {
            const std::size_t at = (r.address & 0x00FFFFFFu) + i;  // top address byte dropped
            strayFF += r.data[i] == 0xFF;
            if (at < flat.size())
                flat[at] = r.data[i];
            else
                errors.push_back("data beyond the summed image at " + std::to_string(r.address));
        }
    }
    expect(strayFF == 0, std::to_string(strayFF) + " stray 0xFF data bytes");
    const std::uint64_t sum = byteSum(flat);
    expect(sum == e.sum, "byte sum " + std::to_string(sum) + ", want " + std::to_string(e.sum));
    expect(static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(sum)) == e.checksum, "checksum mismatch");

    if (e.fpga) {
        static constexpr std::array<std::uint8_t, 8> busWidth{0x00, 0x00, 0x00, 0xBB, 0x11, 0x22, 0x00, 0x44};
        static constexpr std::array<std::uint8_t, 4> sync{0xAA, 0x99, 0x55, 0x66};
        expect(std::equal(busWidth.begin(), busWidth.end(), flat.begin()), "bus width pattern missing");
        const auto it = std::search(flat.begin(), flat.begin() + 64, sync.begin(), sync.end());
        expect(it != flat.begin() + 64 && (it - flat.begin()) % 4 == 0, "sync word missing");
        expect(flat[flat.size() - 4] == 0x20 && flat[flat.size() - 1] == 0x00, "image does not end in a no-op");
    }
    return errors;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_images OUTDIR\n";
        return 2;
    }
    const std::filesystem::path outDir = argv[1];

    const std::vector<Expectation> expectations{
        {"M731946_MCU_6G-SDI_61_1_05.hex",
         237'718,
         5'286,
         2,
         5'282,
         1,
         ":0200000480007A",
         ":0400000580008008EF",
         {{0x80008000, 0x80019E78}, {0x8001A000, 0x8001CB94}},
         {{0x80019E70, 8}, {0x8001CB90, 4}},
         {0xFF, 0xFF, 0xFF, 0xFF},
         kMcuFlatLen,
         kMcuSum,
         4'279'021'583u,
         false},
        {"M731946_TX_XC7A35_1_05.mcs",
         2'968'118,
         65'970,
         17,
         65'952,
         0,
         ":020000040000FA",
         "",
         {{0, 0x1019F4}},
         {{0x1019F0, 4}},
         {0x20, 0, 0, 0},
         1'055'216,
         13'525'293,
         4'281'442'003u,
         true},
        {"M731946_RX_XC7A35_1_05.mcs",
         3'154'210,
         70'106,
         18,
         70'087,
         0,
         ":020000040000FA",
         "",
         {{0, 0x111C64}},
         {{0x111C60, 4}},
         {0x20, 0, 0, 0},
         1'121'376,
         19'160'039,
         4'275'807'257u,
         true},
    };

    try {
        std::vector<Built> built;
        built.push_back(buildMcu());
        built.push_back(buildFpga({0x5458A735ULL, 1'055'216, 13'525'293, 0x02003FE5}));
        built.push_back(buildFpga({0x5258A735ULL, 1'121'376, 19'160'039, 0x02003FE5}));

        bool failed = false;
        if (built[1].text == built[2].text) {
            std::cerr << "transmitter and receiver images are identical\n";
            failed = true;
        }
        for (std::size_t i = 0; i < built.size(); ++i) {
            for (const auto &err : check(built[i].text, expectations[i])) {
                std::cerr << expectations[i].file << ": " << err << '\n';
                failed = true;
            }
        }
        if (failed)
            return 1;

        std::filesystem::create_directories(outDir);
        for (std::size_t i = 0; i < built.size(); ++i) {
            const auto path = outDir / expectations[i].file;
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(built[i].text.data(), static_cast<std::streamsize>(built[i].text.size()));
            f.close();
            if (!f) {
                std::cerr << "cannot write " << path.string() << '\n';
                return 1;
            }
            std::cout << expectations[i].file << ": " << built[i].text.size() << " bytes, checksum "
                      << expectations[i].checksum << ", " << built[i].steered << " bytes adjusted\n";
        }
    } catch (const std::exception &ex) {
        std::cerr << "make_images: " << ex.what() << '\n';
        return 1;
    }
    return 0;
}
