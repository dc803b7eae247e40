// The whole content of a file, as bytes ("" when it cannot be read).
#ifndef TESTS_READFILE_H_
#define TESTS_READFILE_H_

#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

#endif
