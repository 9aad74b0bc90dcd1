// On Windows every user may open a HID device that no program holds: access
// is denied by a program or a policy, never cured by a rule to install.

#include "OpenFailure.h"

namespace bridge {

std::string whyDenied(const std::string& error)
{
    return "access to it is denied (" + error
        + "); close any program that may be using it, then plug the bridge in again";
}

}  // namespace bridge
