#pragma once
// Why a bridge that is plugged in could not be opened, and what the user can
// do about it, in the terms of the system the program runs on.

#include "BridgeLink.h"

#include <string>

namespace bridge {

// One sentence, lower case, without a final stop ("the bridge is plugged in,
// but ..."); empty when the scan met no bridge it could not open.
std::string whyNotOpened(const ScanResult& scan);

// The part only the system can say: this user may not open it, and what to
// do (OpenFailure_linux.cpp, OpenFailure_win.cpp). `error` is the host's reason.
std::string whyDenied(const std::string& error);

}  // namespace bridge
