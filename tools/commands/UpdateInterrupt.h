// Ctrl-C, the console closing or a request to terminate during a single
// update: the run still ends by saying so (its JSON object, its log's
// verdict). The modules block in serial reads for seconds at a time, so the
// interrupt only raises a flag, and a thread of its own ends the run.
#ifndef UPDATEINTERRUPT_H_
#define UPDATEINTERRUPT_H_

// From here on an interrupt calls `finish` on the watching thread, then ends
// the process with the interrupted outcome's exit status.
void updateInterrupt_watch(void (*finish)(void));
// The run has come to its own end: an interrupt changes nothing any more.
// Waits, and never returns, while an interrupt is ending the run.
void updateInterrupt_stopWatching(void);

#endif
