// The claim is the open hidapi's Windows backend tries first (reading and
// writing, shared with other readers and writers, overlapped), made before
// it: while this handle lives, no program can open the device without sharing
// it, so hidapi's own open of the same kind cannot fail for that reason and
// fall back to a handle without rights.

#include "HidapiHost.h"

#include <cwchar>
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

std::string utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

}  // namespace

std::wstring winapiFailure(const wchar_t* call, unsigned long code)
{
    wchar_t head[64];
    std::swprintf(head, 64, L"%ls: (0x%08lX) ", call, code);
    std::wstring text = head;
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (message) {
        text.append(message, length);
        LocalFree(message);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

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
    claim.error = utf8(winapiFailure(L"CreateFile", code));
    claim.code = code;
    claim.inUse = code == ERROR_SHARING_VIOLATION;
    claim.permissionDenied = code == ERROR_ACCESS_DENIED;
    return claim;
}

}  // namespace bridge
