#include "update/VersionReply.h"

#include <cctype>
#include <cstdio>

int parseVersionReply(const char *text, VersionReply *reply)
{
    int wordEnd = 0;
    const int nbr =
        sscanf(text, "%d.%d.%d %7s%n", &reply->fw_ver, &reply->fw_rev, &reply->fw_sub, reply->model, &wordEnd);
    if (nbr < 4) {
        return nbr < 0 ? 0 : nbr;
    }
    // "%7s" stops after seven characters; an eighth that is not white space
    // means the word did not fit.
    const char after = text[wordEnd];
    if (after != '\0' && !isspace(static_cast<unsigned char>(after))) {
        reply->model[0] = '\0';
        return 3;
    }
    const int more = sscanf(text + wordEnd, "%d.%d %d", &reply->fpga_ver, &reply->fpga_rev, &reply->fpga_type);
    return nbr + (more < 0 ? 0 : more);
}
