#include "StartTexts.h"

#include <QString>

#include <cstdio>

#include <windows.h>

namespace app {
namespace {

// As QCommandLineParser decides for a window program: the streams when there
// is a console or they were handed over (redirected, or a program's pipes).
bool streamsAreRead()
{
    if (GetConsoleWindow())
        return true;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESTDHANDLES) != 0;
}

void box(const QString& title, const QString& text, UINT icon)
{
    if (text.isEmpty())
        return;
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.trimmed().utf16()),
                reinterpret_cast<const wchar_t*>(title.utf16()), MB_OK | icon);
}

}  // namespace

void showStartTexts(const QString& title, const QString& out, const QString& err)
{
    if (streamsAreRead()) {
        std::fputs(out.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        std::fputs(err.toLocal8Bit().constData(), stderr);
        return;
    }
    box(title, out, MB_ICONINFORMATION);
    box(title, err, MB_ICONERROR);
}

}  // namespace app
