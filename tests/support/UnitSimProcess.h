// OrvaneUnitSim in a child process: ready once it has printed the path of its
// pseudo-terminal (its COM link exists by then), stopped by its id.
#ifndef TESTS_UNITSIMPROCESS_H_
#define TESTS_UNITSIMPROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

class UnitSimProcess {
public:
    // Starts `binary` with `args` and waits up to 5 s for its first line.
    UnitSimProcess(const std::string &binary, std::vector<std::string> args);
    ~UnitSimProcess() { stop(); }
    UnitSimProcess(const UnitSimProcess &) = delete;
    UnitSimProcess &operator=(const UnitSimProcess &) = delete;

    bool ready() const { return !ptyPath_.empty(); }
    const std::string &ptyPath() const { return ptyPath_; }

    // Its exit status after `signal` (SIGTERM or SIGINT); -1 when it had to be
    // killed or did not exit normally.
    int stop(int signal = SIGTERM);
    // Sends it a signal that does not end it (SIGSTOP, SIGCONT); false when
    // it is not running.
    bool signal(int signal) const;

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string ptyPath_;
};

#endif
