// dialog_reader.exe <program> [arguments...]: starts the program as a click
// in Explorer would, with no console and no standard handles handed over,
// and reads each message box it shows as a person would, by what is on the
// screen: one line "<title>|<text>" each (UTF-8), then presses its OK
// button; once the program has ended, "exit <status>". Gives up after 60 s
// ("timeout"). The installed programs' scenarios run it under wine
// (tests/hidraw/wine_test.cpp, WinePanel).

#include <windows.h>

#include <set>
#include <string>

namespace {

void say(const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
              nullptr);
}

std::wstring textOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct Search {
    DWORD process;
    std::set<HWND>* seen;
};

// Reads and closes each message box of the process not read before.
BOOL CALLBACK readBox(HWND window, LPARAM data)
{
    const Search& search = *reinterpret_cast<const Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    if (process != search.process || std::wstring(kind) != L"#32770" || !IsWindowVisible(window)
        || !search.seen->insert(window).second)
        return TRUE;
    // A message box's text is the static control 0xFFFF.
    const HWND text = GetDlgItem(window, 0xFFFF);
    say(textOf(window) + L"|" + (text ? textOf(text) : L"(no text)"));
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

std::wstring quoted(const wchar_t* argument)
{
    std::wstring out = L"\"";
    for (const wchar_t* c = argument; *c; ++c)
        out += *c == L'"' ? L"\\\"" : std::wstring(1, *c);
    return out + L"\"";
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count < 2) {
        say(L"usage: dialog_reader.exe <program> [arguments...]");
        return 64;
    }
    std::wstring line;
    for (int i = 1; i < count; ++i)
        line += (i > 1 ? L" " : L"") + quoted(arguments[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &started)) {
        say(L"not started: " + std::to_wstring(GetLastError()));
        return 1;
    }
    std::set<HWND> seen;
    Search search{started.dwProcessId, &seen};
    const ULONGLONG until = GetTickCount64() + 60000;
    while (WaitForSingleObject(started.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount64() > until) {
            TerminateProcess(started.hProcess, 1);
            say(L"timeout");
            return 1;
        }
        EnumWindows(readBox, reinterpret_cast<LPARAM>(&search));
    }
    DWORD status = 0;
    GetExitCodeProcess(started.hProcess, &status);
    say(L"exit " + std::to_wstring(status));
    return 0;
}
