// What each worker has sent and the supervisor has not taken yet, shared by
// both platforms' worker layers (which read the pipes) and
// WorkerProcess_TakeOutput (which hands it over).
#ifndef WORKEROUTPUT_H_
#define WORKEROUTPUT_H_

#include <cstddef>

// Room for one more worker's output; its number, which is the worker's.
int WorkerOutput_Open(void);
void WorkerOutput_Append(int worker, int stream, const char *bytes, size_t length);
// Forgets every worker's output.
void WorkerOutput_Forget(void);

#endif
