// hidapi's Windows backend sets no errno. It records a failed Win32 call as
// "<operation>: (0x%08X) <system message>", the number being GetLastError()'s
// code at the failure; the message after it is localised, the code is not.
// (GetLastError() itself cannot be asked afterwards: hidapi makes further
// calls before it returns.)

#include "HidapiHost.h"

#include <cwchar>
#include <optional>

#include <windows.h>

namespace bridge {
namespace {

// The Win32 error code in a message of hidapi's Windows backend, if any.
std::optional<DWORD> winapiCode(const wchar_t* message)
{
    if (!message)
        return std::nullopt;
    const wchar_t* at = std::wcsstr(message, L": (0x");
    if (!at)
        return std::nullopt;
    at += 5;
    DWORD code = 0;
    for (int i = 0; i < 8; ++i, ++at) {
        const wchar_t c = *at;
        int digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else if (c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else
            return std::nullopt;
        code = code * 16 + static_cast<DWORD>(digit);
    }
    if (*at != L')')
        return std::nullopt;
    return code;
}

}  // namespace

// Asked only of a failed read or write on a handle that was open. No code
// settles it: 0x48F (not connected), 0x651 (removed) and 0x1B1 (no such
// device) are Windows' answers for an unplugged HID device, but also come
// while a device is reset or its driver restarted, the device still listed;
// 0x1F comes for a device pulled during a transfer and for a stalled or
// refused output report alike (wine's too); 5 is wine's answer to every
// read and write on a device being removed, and also to those on a handle
// opened without rights. Whether the host still lists the device decides.
FailureMeaning meaningOf(const HidFailure&) { return FailureMeaning::AskTheListing; }

// Asked only of a failed open.
bool meansDenied(const HidFailure& failure)
{
    return winapiCode(failure.message) == DWORD{ERROR_ACCESS_DENIED};
}

}  // namespace bridge
