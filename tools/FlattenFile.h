// Flattening of an Intel HEX file from disk into a binary file.
#ifndef FLATTENFILE_H_
#define FLATTENFILE_H_

// 0 when OUT holds the image, after one line on stdout: OUT, the image length
// and its checksum. Otherwise 1 after a message on stderr (for an invalid
// text: the line and what is wrong with it), with OUT untouched, or removed
// if a write failed half-way. OUT may not be IN, under any path.
int flattenHexFile(const char *inPath, const char *outPath);

#endif
