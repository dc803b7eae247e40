// The check that a unit received an image intact: the bytes it stored against
// OrvaneFwTool's flattening of the Intel HEX file the image came from.
#ifndef TESTS_RECEIVEDIMAGE_H_
#define TESTS_RECEIVEDIMAGE_H_

#include <string>

// "" when `receivedFile` holds exactly the flattening of `hexFile`; otherwise
// what differs, in words (a megabyte of binary helps nobody). The flattening
// is written into `workFolder`.
std::string receivedImageDifference(const std::string &tool, const std::string &hexFile,
                                    const std::string &receivedFile, const std::string &workFolder);

#endif
