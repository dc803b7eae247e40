// Where \\.\COMn leads on a POSIX machine: the current folder's
// dosdevices/comN when it has one, else the machine's own /dev/ttyS<n-1>, and
// no port at all when the path does not fit the caller's buffer.
#include "NamedCase.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"

#include "platform/posix/DevicePath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

const std::string NO_PORT = "no port";

struct PathCase : NamedCase {
    int com;
    bool entry;        // dosdevices/comN is there (a link to nothing)
    std::size_t room;  // the caller's path buffer
    std::string leadsTo;
};

class ComDevicePath : public ::testing::TestWithParam<PathCase> {
protected:
    TempFolder folder;
};

}  // namespace

TEST_P(ComDevicePath, LeadsToItsOwnEntryOrTheMachinesPort)
{
    const PathCase &c = GetParam();
    // Every other port keeps its entry: only the port's own counts.
    ASSERT_TRUE(shadowComPorts(folder.path()));
    if (!c.entry) {
        ASSERT_EQ(unlink(comPortLink(folder.path(), c.com).c_str()), 0);
    }
    const InFolder inside(folder.path());
    std::vector<char> path(c.room, '\0');
    const bool found = posix_comDevicePath(static_cast<unsigned long>(c.com), path.data(), path.size());
    EXPECT_EQ(found ? std::string(path.data()) : NO_PORT, c.leadsTo);
}

INSTANTIATE_TEST_SUITE_P(Posix, ComDevicePath,
                         ::testing::Values(PathCase{"com1_without_an_entry", 1, false, 64, "/dev/ttyS0"},
                                           PathCase{"com12_without_an_entry", 12, false, 64, "/dev/ttyS11"},
                                           PathCase{"com12_with_an_entry", 12, true, 64, "dosdevices/com12"},
                                           PathCase{"entry_that_just_fits", 12, true, 17, "dosdevices/com12"},
                                           // Cut short, the paths would be COM1's entry and COM2's port.
                                           PathCase{"entry_too_long_for_the_buffer", 12, true, 16, NO_PORT},
                                           PathCase{"machine_port_too_long_for_the_buffer", 12, false, 11, NO_PORT}),
                         CaseName());
