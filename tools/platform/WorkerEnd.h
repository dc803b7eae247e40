// How a worker's end is read, shared by both platforms' worker layers: an
// exit status that stands for a death, and the words for a death.
#ifndef WORKEREND_H_
#define WORKEREND_H_

#include "platform/WorkerProcess.h"

// A worker that exited with `code`: a death when the code is the tool's
// abort status or an exception's NTSTATUS (Windows), otherwise an exit.
WorkerStatus WorkerEnd_OfExit(unsigned long code);

// A death the system caused (a signal, an exception), in words; each
// platform's worker layer has its own.
std::string WorkerEnd_DescribeSystemDeath(int code);

#endif
