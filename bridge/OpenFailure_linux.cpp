// On Linux the hidraw node's owner and mode decide who may open the bridge;
// the package's udev rule gives it to the user at the seat.

#include "OpenFailure.h"

namespace bridge {

std::string whyDenied(const std::string& error)
{
    return "this user may not open it (" + error
        + "); install the udev rule 70-krl7741-bridge.rules and plug the bridge in again";
}

}  // namespace bridge
