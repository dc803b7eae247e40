// The unit's answer to "%fw -v": firmware and FPGA versions, model word and
// FPGA device code.
#ifndef VERSIONREPLY_H_
#define VERSIONREPLY_H_

struct VersionReply {
    int fw_ver = 0, fw_rev = 0, fw_sub = 0;
    char model[8] = {};
    int fpga_ver = 0, fpga_rev = 0;
    int fpga_type = -1;
};

// Reads "%d.%d.%d %s %d.%d %d" from a reply whose line ends are already
// spaces; gives the number of fields taken (0 to 7). A model word longer than
// seven characters leaves the reply unparsed from there on.
int parseVersionReply(const char *text, VersionReply *reply);

#endif
