#include "web/Encoder.h"

#include <cstdint>

namespace {

constexpr unsigned char base64_enc_map[64] = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V',
    'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r',
    's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

constexpr unsigned char PAD_VALUE = 64;
constexpr unsigned char INVALID_VALUE = 127;

// Built from the alphabet so the two tables cannot disagree.
constexpr struct DecodeMap {
    unsigned char value[128];
    constexpr DecodeMap() : value()
    {
        for (unsigned char &entry : value) {
            entry = INVALID_VALUE;
        }
        for (unsigned char i = 0; i < 64; ++i) {
            value[base64_enc_map[i]] = i;
        }
        value[static_cast<unsigned char>('=')] = PAD_VALUE;
    }
} base64_dec_map;

bool isCrLfAt(const unsigned char *src, int slen, int i)
{
    return slen - i >= 2 && src[i] == '\r' && src[i + 1] == '\n';
}

// First pass: every character checked, the significant ones counted.
int countSignificant(const unsigned char *src, int slen, int *count)
{
    int c = 0;
    int j = 0;
    for (int i = 0; i < slen; ++i) {
        if (isCrLfAt(src, slen, i) || src[i] == '\n') {
            continue;
        }
        if (src[i] == '=' && ++j > 2) {
            return -1;
        }
        if (src[i] > 127 || base64_dec_map.value[src[i]] == INVALID_VALUE) {
            return -1;
        }
        if (base64_dec_map.value[src[i]] < 64 && j != 0) {
            return -1;
        }
        ++c;
    }
    *count = c;
    return 0;
}

}  // namespace

int base64_encode(unsigned char *dst, int *dlen, const unsigned char *src, int slen)
{
    if (slen == 0) {
        return 0;
    }
    if (slen < 0) {
        return -1;
    }
    // Worked out in 64 bits: the text of a buffer near 2 GB outgrows an int.
    const int64_t bits = static_cast<int64_t>(slen) * 8;
    int64_t n = bits / 6;
    switch (bits - n * 6) {
    case 2: n += 3; break;
    case 4: n += 2; break;
    default: break;
    }
    if (n + 1 > INT32_MAX) {
        return -1;
    }
    if (*dlen < n + 1) {
        *dlen = static_cast<int>(n + 1);
        return -1;
    }
    const int whole = (slen / 3) * 3;
    unsigned char *p = dst;
    int i = 0;
    for (; i < whole; i += 3) {
        const unsigned char c1 = src[i], c2 = src[i + 1], c3 = src[i + 2];
        *p++ = base64_enc_map[c1 >> 2];
        *p++ = base64_enc_map[((c1 & 3) << 4) | (c2 >> 4)];
        *p++ = base64_enc_map[((c2 & 15) << 2) | (c3 >> 6)];
        *p++ = base64_enc_map[c3 & 63];
    }
    if (i < slen) {
        const unsigned char c1 = src[i];
        const unsigned char c2 = (i + 1 < slen) ? src[i + 1] : 0;
        *p++ = base64_enc_map[c1 >> 2];
        *p++ = base64_enc_map[((c1 & 3) << 4) | (c2 >> 4)];
        *p++ = (i + 1 < slen) ? base64_enc_map[(c2 & 15) << 2] : '=';
        *p++ = '=';
    }
    *p = 0;
    *dlen = static_cast<int>(p - dst);
    return 0;
}

int base64_decode(unsigned char *dst, int *dlen, const unsigned char *src, int slen)
{
    int c = 0;
    if (countSignificant(src, slen, &c) != 0) {
        return -1;
    }
    if (c == 0) {
        return 0;
    }
    const int needed = static_cast<int>((static_cast<int64_t>(c) * 6 + 7) / 8);
    if (*dlen < needed) {
        *dlen = needed;
        return -1;
    }
    uint32_t x = 0;
    int j = 3;
    int k = 0;
    unsigned char *p = dst;
    for (int i = 0; i < slen; ++i) {
        if (src[i] == '\r' || src[i] == '\n') {
            continue;
        }
        const unsigned char v = base64_dec_map.value[src[i]];
        if (v == PAD_VALUE) {
            --j;
        }
        x = (x << 6) | (v & 63);
        if (++k == 4) {
            k = 0;
            if (j > 0)
                *p++ = static_cast<unsigned char>(x >> 16);
            if (j > 1)
                *p++ = static_cast<unsigned char>(x >> 8);
            if (j > 2)
                *p++ = static_cast<unsigned char>(x);
        }
    }
    *dlen = static_cast<int>(p - dst);
    return 0;
}
