// hidapi's hidraw backend fails with errno set by the system call that failed,
// except for one case: a read whose poll() reports the descriptor broken
// (POLLERR/POLLHUP) returns -1 with errno untouched. hidraw reports that only
// for a device that has been removed, so "no errno" after a failure means gone.

#include "HidapiHost.h"

#include <cerrno>

namespace bridge {

// Each of these means only that the device has gone: no need to ask the listing.
FailureMeaning meaningOf(const HidFailure& failure)
{
    switch (failure.savedErrno) {
    case 0:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ESHUTDOWN:
        return FailureMeaning::Gone;
    default:
        return FailureMeaning::Stays;
    }
}

bool meansDenied(const HidFailure& failure)
{
    return failure.savedErrno == EACCES || failure.savedErrno == EPERM;
}

}  // namespace bridge
