#pragma once
// The trace of the bridge's traffic, one line per output report: the report,
// the reply that came back, and what that reply means. The evaluation board
// window and the command-line program write the same lines.

#include "VirtualBridge.h"

#include <QString>

namespace virtualboard {

// "00 70 41 41": each byte as two upper-case hexadecimal digits.
QString hexReport(const Report& report);

// What a reply report says: a NACK status, no status (nothing, or a zero
// status), or any other status as an acknowledgement.
Verdict verdictOf(const Report& reply);

// "00 70 41 41 -> 00 01 41 41  acknowledged"; the reply reads "(nothing)"
// when none came, the verdict "NACK" or "no answer" when it was not an
// acknowledgement.
QString traceLine(const Report& output, const Report& reply, Verdict verdict);

}  // namespace virtualboard
