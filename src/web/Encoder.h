// Base64 (RFC 4648 alphabet) encoding and decoding into caller buffers.
#ifndef ENCODER_H_
#define ENCODER_H_

#include <cstddef>

// Both return 0 on success and -1 on any failure; *dlen is the capacity of dst
// on entry and the length produced (or the capacity needed) on return.
int base64_encode(unsigned char *dst, int *dlen, const unsigned char *src, int slen);
int base64_decode(unsigned char *dst, int *dlen, const unsigned char *src, int slen);

#endif
