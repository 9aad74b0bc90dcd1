// The claim is the open hidapi's Windows backend tries first (reading and
// writing, shared with other readers and writers, overlapped), made before
// it: while this handle lives, no program can open the device without sharing
// it, so hidapi's own open of the same kind cannot fail for that reason and
// fall back to a handle without rights.

#include "HidapiHost.h"

#include <cstdio>
#include <string>

#include <windows.h>

namespace bridge {
namespace {

std::wstring wide(const std::string& utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// "CreateFile: (0x00000020) <the system's text>", as hidapi words its own.
std::string describe(DWORD code)
{
    char head[32];
    std::snprintf(head, sizeof head, "CreateFile: (0x%08lX) ", static_cast<unsigned long>(code));
    std::string text = head;
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (message) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), utf8.data(), size, nullptr,
                            nullptr);
        LocalFree(message);
        while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' '))
            utf8.pop_back();
        text += utf8;
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

}  // namespace

ReadWriteClaim claimReadWrite(const std::string& path)
{
    ReadWriteClaim claim;
    const HANDLE handle
        = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        claim.held = std::shared_ptr<void>(handle, CloseHandle);
        return claim;
    }
    const DWORD code = GetLastError();
    claim.error = describe(code);
    claim.inUse = code == ERROR_SHARING_VIOLATION;
    claim.permissionDenied = code == ERROR_ACCESS_DENIED;
    return claim;
}

}  // namespace bridge
