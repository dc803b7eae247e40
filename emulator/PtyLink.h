// The unit's line: a raw pseudo-terminal, both sides of it, and the COM entry
// FOLDER/dosdevices/comN that leads the host to it.
//
// The slave side stays open in here for the whole run. Without that, reads on
// the master fail with EIO whenever the host has the port closed (it opens and
// closes it many times), and the line settings the host made could be lost
// between its opens. Holding an fd opened before the host's TIOCEXCL does not
// stand in the host's way, and this program never flocks it.
#ifndef PTYLINK_H_
#define PTYLINK_H_

#include <filesystem>
#include <string>

// A file descriptor of ours, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void adopt(int fd)
    {
        reset();
        fd_ = fd;
    }
    void reset();

private:
    int fd_;
};

struct UnitLine {
    Fd master, slave;
    std::string slavePath;
};

// True when the line can be set to `baud` (termios has a code for it).
bool lineRateExists(int baud);

// The rate the host has set on its side (0 when unknown). On Linux the
// master reports the slave's settings.
int hostBaud(int master);

// Holds the host's writes on the line (the pseudo-terminal takes none of them
// while held; `slave` is our own fd of the slave side) or lets them go again.
// The pseudo-terminal takes some 20 KB at once, more than a second of a fast
// line: a paced unit holds the host while bytes wait, as a real line's driver
// finishes a write only as the wire carries it.
void holdHostWrites(int slave, bool hold);

// A raw pseudo-terminal at the unit's rate, so that a tool which does not set
// the rate itself can talk to it by hand (the host sets its own). False, with
// the reason printed, when there is none.
bool openUnitLine(int baud, UnitLine *line);

// FOLDER/dosdevices/comN; the folder is made when missing. The entry goes
// with this object, but only while it still points where this one left it.
class ComLink {
public:
    ComLink(const std::string &folder, int com);
    ~ComLink();
    ComLink(const ComLink &) = delete;
    ComLink &operator=(const ComLink &) = delete;
    const std::filesystem::path &path() const { return path_; }
    // Points the entry at `target`, replacing whatever was there without a
    // moment in which the name is missing (a missing COM entry would send the
    // host to the machine's own /dev/ttyS ports). False, with errno set, when
    // it cannot; the entry then stays as it was.
    bool pointAt(const std::string &target);

private:
    std::filesystem::path path_;
    std::string target_;
};

#endif
