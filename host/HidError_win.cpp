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

// Not in every SDK's winerror.h (mingw-w64 10 lacks it).
constexpr DWORD kErrorNoSuchDevice = 0x1B1;

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

// Asked only of a failed read or write on a handle that was open.
FailureMeaning meaningOf(const HidFailure& failure)
{
    switch (winapiCode(failure.message).value_or(ERROR_SUCCESS)) {
    case ERROR_DEVICE_NOT_CONNECTED:  // 0x48F, the usual answer for an unplugged HID device
    case ERROR_DEVICE_REMOVED:        // 0x651
    case kErrorNoSuchDevice:
        return FailureMeaning::Gone;
    // 0x1F: Windows' answer to a transfer the device was pulled in the middle
    // of, and wine's for a write to a device that has gone; but also a
    // stalled or refused output report, the device still there (wine's too).
    case ERROR_GEN_FAILURE:
    // 5: wine's answer to every read and write on a device being removed, a
    // read already pending included (STATUS_DELETE_PENDING); but also every
    // read and write on a handle opened without rights, which hidapi falls
    // back to when another program holds the device (claimReadWrite keeps
    // such a handle from being made here).
    case ERROR_ACCESS_DENIED:
        return FailureMeaning::AskTheListing;
    default:
        return FailureMeaning::Stays;
    }
}

// Asked only of a failed open.
bool meansDenied(const HidFailure& failure)
{
    return winapiCode(failure.message) == DWORD{ERROR_ACCESS_DENIED};
}

}  // namespace bridge
