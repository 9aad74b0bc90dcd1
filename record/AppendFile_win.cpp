#include "AppendFile.h"

#include <QString>

#include <windows.h>

namespace record {
namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

QString lastError() { return qt_error_string(static_cast<int>(GetLastError())); }

}  // namespace

QString AppendFile::open(const QString& path)
{
    close();
    QString native = path;
    native.replace(QLatin1Char('/'), QLatin1Char('\\'));
    // Shared with every other reader and writer, as a log is.
    const HANDLE file
        = CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lastError();
    if (GetFileType(file) == FILE_TYPE_PIPE) {
        // A log is a file: a pipe holds its writer once nobody reads it.
        CloseHandle(file);
        return QStringLiteral("a pipe, not a file");
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return {};
}

bool AppendFile::endsInsideALine() const
{
    const HANDLE file = handleOf(handle_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0)
        return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD read = 0;
    return ReadFile(file, &last, 1, &read, &at) && read == 1 && last != '\n';
}

QString AppendFile::append(const QByteArray& bytes)
{
    const HANDLE file = handleOf(handle_);
    // Both offsets all ones: written at the end of the file as it is then, in
    // one step, as a handle opened for appending only would.
    OVERLAPPED end{};
    end.Offset = 0xFFFFFFFF;
    end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, &end);
    if (ok && written == static_cast<DWORD>(bytes.size()))
        return {};
    const QString why = ok ? qt_error_string(ERROR_DISK_FULL) : lastError();
    if (written > 0) {
        // Cut off the part written, the file's end being that part's end.
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file, &size) && size.QuadPart >= written) {
            FILE_END_OF_FILE_INFO info{};
            info.EndOfFile.QuadPart = size.QuadPart - written;
            SetFileInformationByHandle(file, FileEndOfFileInfo, &info, sizeof info);
        }
    }
    return why;
}

void AppendFile::close()
{
    if (handle_ != kClosed)
        CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

}  // namespace record
