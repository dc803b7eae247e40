// A file to write that holds nothing anybody could lose: one created here and
// now, never an existing file and never through a link. Each platform
// provides it (posix/ with open's O_EXCL and O_NOFOLLOW, windows/ with
// _O_EXCL, which creates as CREATE_NEW does).
#ifndef NEWFILE_H_
#define NEWFILE_H_

#include <cstdio>

// The file, open for binary writing; nullptr with errno set when it cannot be
// had (EEXIST: something stands at `path` already). On POSIX an existing
// character device (/dev/null, /dev/full) is taken too: it keeps no earlier
// text.
FILE *NewFile_Open(const char *path);

#endif
