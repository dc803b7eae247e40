// The end of an Intel HEX text as the tool's flatten requires it: a text cut
// at a line boundary flattens without complaint, so a truncated download
// would pass for a whole one.
#ifndef HEXTEXTEND_H_
#define HEXTEXTEND_H_

#include <string>

struct HexTextEnd {
    int line = 0;       // the line at fault; 0 for a text of blank lines only
    std::string fault;  // empty: the text ends as it must
};

// Whether the text's last line that is not blank is its one end-of-file
// record. Line ends are CR LF, LF or a lone CR.
HexTextEnd hexTextEnd(const char *text);

#endif
