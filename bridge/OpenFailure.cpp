#include "OpenFailure.h"

namespace bridge {

std::string whyNotOpened(const ScanResult& scan)
{
    if (scan.openFailure.empty())
        return {};
    const std::string prefix = "the bridge is plugged in, but ";
    if (scan.permissionDenied)
        return prefix + whyDenied(scan.openFailure);
    if (scan.inUse)
        return prefix + "in use by another program (" + scan.openFailure
            + "); close that program, then plug the bridge in again";
    return prefix + "cannot be opened: " + scan.openFailure;
}

}  // namespace bridge
