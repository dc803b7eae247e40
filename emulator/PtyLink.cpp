#include "PtyLink.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace {

struct Speed {
    speed_t code;
    int baud;
};

const Speed SPEEDS[] = {
    {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B2000000, 2000000}, {B4000000, 4000000},
};

bool speedCode(int baud, speed_t *code)
{
    for (const Speed &s : SPEEDS) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

// Removes the entry only while it still points at `target`.
void removeLink(const fs::path &link, const std::string &target)
{
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(link, error)) && fs::read_symlink(link, error).string() == target) {
        fs::remove(link, error);
    }
}

}  // namespace

void Fd::reset()
{
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = -1;
}

bool lineRateExists(int baud)
{
    speed_t code = 0;
    return speedCode(baud, &code);
}

int hostBaud(int master)
{
    termios t{};
    if (tcgetattr(master, &t) != 0) {
        return 0;
    }
    const speed_t code = cfgetospeed(&t);
    for (const Speed &s : SPEEDS) {
        if (s.code == code) {
            return s.baud;
        }
    }
    return 0;
}

void holdHostWrites(int slave, bool hold)
{
    tcflow(slave, hold ? TCOOFF : TCOON);
}

bool openUnitLine(int baud, UnitLine *line)
{
    int masterFd = -1, slaveFd = -1;
    if (openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) != 0) {
        fprintf(stderr, "OrvaneUnitSim: openpty: %s\n", strerror(errno));
        return false;
    }
    line->master.adopt(masterFd);
    line->slave.adopt(slaveFd);
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    const char *slaveName = ttyname(slaveFd);
    if (slaveName == nullptr) {
        fprintf(stderr, "OrvaneUnitSim: ttyname: %s\n", strerror(errno));
        return false;
    }
    line->slavePath = slaveName;
    termios t{};
    speed_t code = B9600;
    speedCode(baud, &code);
    if (tcgetattr(masterFd, &t) != 0 || (cfmakeraw(&t), cfsetspeed(&t, code)) != 0 ||
        tcsetattr(masterFd, TCSANOW, &t) != 0) {
        fprintf(stderr, "OrvaneUnitSim: cannot set the line up: %s\n", strerror(errno));
        return false;
    }
    return true;
}

ComLink::ComLink(const std::string &folder, int com)
{
    const fs::path devices = fs::path(folder) / "dosdevices";
    std::error_code error;
    fs::create_directories(devices, error);
    path_ = devices / ("com" + std::to_string(com));
}

ComLink::~ComLink()
{
    if (!target_.empty()) {
        removeLink(path_, target_);
    }
}

bool ComLink::pointAt(const std::string &target)
{
    const fs::path temporary = path_.string() + ".new-" + std::to_string(getpid());
    std::error_code error;
    fs::remove(temporary, error);
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        fs::remove(temporary, error);
        return false;
    }
    target_ = target;
    return true;
}
