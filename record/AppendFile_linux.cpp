#include "AppendFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace record {

QString AppendFile::open(const QString& path)
{
    close();
    // Readable too, to look at the file's last byte; a file this user may
    // only write to is appended to all the same.
    const QByteArray name = QFile::encodeName(path);
    // A log is a file: a pipe or a socket holds its writer once nobody reads
    // it, so neither is taken. Opened without waiting, so that a pipe with no
    // reader is refused rather than waited on. A device that never holds a
    // write (/dev/null, /dev/full for a full disk) is taken as a file is.
    constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(name.constData(), O_RDWR | kFlags, 0666);
    if (fd < 0 && errno == EACCES)
        fd = ::open(name.constData(), O_WRONLY | kFlags, 0666);
    if (fd < 0)
        return errno == ENXIO ? QStringLiteral("a pipe, not a file") : qt_error_string(errno);
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        return QStringLiteral("a pipe, not a file");
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    handle_ = fd;
    return {};
}

bool AppendFile::endsInsideALine() const
{
    const int fd = static_cast<int>(handle_);
    struct stat st = {};
    char last = '\n';
    return ::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1
        && last != '\n';
}

QString AppendFile::append(const QByteArray& bytes)
{
    const int fd = static_cast<int>(handle_);
    const ssize_t n = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n == bytes.size())
        return {};
    if (n < 0)
        return qt_error_string(errno);
    // Part of it went in (a regular file does that only when the disk or the
    // file's size limit is reached). The descriptor stands at the end of that
    // part: cut it off, unless something else was appended after it meanwhile.
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat st = {};
    if (end >= n && ::fstat(fd, &st) == 0 && st.st_size == end)
        (void)::ftruncate(fd, end - n);
    return qt_error_string(ENOSPC);
}

void AppendFile::close()
{
    if (handle_ != kClosed)
        ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

}  // namespace record
