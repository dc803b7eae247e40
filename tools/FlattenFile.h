// Flattening of an Intel HEX file from disk into a binary file.
#ifndef FLATTENFILE_H_
#define FLATTENFILE_H_

// 0 when OUT holds the image; otherwise a message was printed to stderr and
// OUT was left untouched (or removed if a write failed half-way).
int flattenHexFile(const char *inPath, const char *outPath);

#endif
