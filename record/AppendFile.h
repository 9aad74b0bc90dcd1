#pragma once
// A file that lines are appended to, each in one write at the file's end as
// it is at that moment, so two programs appending to one file never write over
// each other or tear each other's lines: O_APPEND on Linux, an append-only
// write on Windows. A write the disk has room for only part of leaves nothing:
// the part written is cut off again. Platform code: AppendFile_linux.cpp,
// AppendFile_win.cpp.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace record {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path` for appending, creating it when missing. Returns why it
    // could not, or an empty text.
    QString open(const QString& path);
    bool isOpen() const { return handle_ != kClosed; }
    // True when the file now holds something that does not end with a line
    // end: the fragment of a line a crash left.
    bool endsInsideALine() const;
    // Appends `bytes` in one write; on failure none of them stays in the file.
    // Returns why they could not be written, or an empty text.
    QString append(const QByteArray& bytes);
    void close();

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a file descriptor, or a Windows HANDLE
};

}  // namespace record
