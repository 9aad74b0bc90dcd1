// Preloaded into the scenarios: a simulated hidraw node is a FUSE file, whose
// fstat() gives a regular file with no device number. For those files only
// (a FUSE file opened as /dev/hidrawN), fstat() answers as for the character
// device the kernel would have made, so hidapi finds the node's sysfs entry.

#include "Bridge.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Fstat = int (*)(int, struct stat*);

int hidrawMinor(int fd)
{
    char link[64];
    char target[256];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return -1;
    target[n] = '\0';
    int minor = -1;
    char rest = 0;
    if (std::sscanf(target, "/dev/hidraw%d%c", &minor, &rest) != 1)
        return -1;
    return minor;
}

}  // namespace

extern "C" int fstat(int fd, struct stat* st)
{
    static const Fstat real = reinterpret_cast<Fstat>(dlsym(RTLD_NEXT, "fstat"));
    const int result = real(fd, st);
    const char* major = std::getenv(hidraw_sim::kMajorVariable);
    if (result != 0 || !major || !S_ISREG(st->st_mode) || ::major(st->st_dev) != 0)
        return result;
    const int minor = hidrawMinor(fd);
    if (minor >= 0) {
        st->st_mode = S_IFCHR | (st->st_mode & 07777);
        st->st_rdev = makedev(static_cast<unsigned>(std::atoi(major)), static_cast<unsigned>(minor));
    }
    return result;
}
