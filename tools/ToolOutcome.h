// The tool's exit statuses. Scripts and production lines rely on them: keep
// the numbers.
#ifndef TOOLOUTCOME_H_
#define TOOLOUTCOME_H_

#define TOOL_EXIT_CONFIRMED 0    // the command did its work (update: the unit confirmed it)
#define TOOL_EXIT_FAILED 1       // the update failed: an exchange went wrong
#define TOOL_EXIT_USAGE 2        // bad usage: an unknown word, a missing or wrong value
#define TOOL_EXIT_UNCONFIRMED 3  // both images accepted, but no confirmation after the reboot
#define TOOL_EXIT_NO_UNIT 4      // no unit found, or the port or rate cannot be used

#endif
