// A simulated hidraw device node: a FUSE file system whose one file, mounted
// on a regular file such as /dev/hidraw0, answers open, read, write, poll and
// the HID ioctls as the kernel's hidraw driver does for a USB HID bridge with
// a KRL7741 chip behind it.
//
//   hidraw_bridge_node <mount point> <control fd> <mode, octal>
//
// The control socket (SOCK_SEQPACKET, one command per message) steers the
// bridge; the node says "ready" once mounted and ends when the socket closes.
//   chip, delay, silent, answer: what the bridge answers (BridgeBehaviour.h)
//   writefail <errno>   writes fail with this error (0: they succeed)
//   hold 1              writes are held unanswered, as the kernel holds a
//                       write to a USB device that takes no output reports
//   hold 0 [<errno>]    the held writes end: taken by the bridge, or failed
//                       with this error (usbhid gives up after 5 s: ETIMEDOUT)
//   held                answers with the number of writes held
//   send <ms> <hex>     an input report the bridge sends of its own, in <ms>
//   gone                the device is unplugged; answers "ok"
//   written             answers with every report received, in hex, blank-separated
//   opens               answers with the number of open files

#define FUSE_USE_VERSION 35

#include "Bridge.h"
#include "BridgeBehaviour.h"

#include <fuse_lowlevel.h>

#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using hidraw_sim::Report;

// The kernel's per-file ring of HIDRAW_BUFFER_SIZE (64) slots holds 63 reports.
constexpr std::size_t kQueueSize = 64;
constexpr std::size_t kMaxReport = 16384;

struct OpenFile {
    std::deque<Report> queue;
    std::deque<std::pair<fuse_req_t, std::size_t>> waiting;  // blocked reads
    fuse_pollhandle* poll = nullptr;
    bool nonblocking = false;
};

struct Node {
    unsigned mode = 0600;
    bool gone = false;
    hidraw_sim::BridgeBehaviour behaviour;
    int writeFailure = 0;
    bool holding = false;
    struct HeldWrite {
        fuse_req_t req;
        std::size_t size;  // as written, report id included
        Report report;
    };
    std::vector<HeldWrite> held;  // writes not answered yet
    std::map<std::uint64_t, OpenFile> files;
    std::uint64_t nextFile = 1;
    std::multimap<Clock::time_point, Report> scheduled;  // input reports on their way
    std::vector<Report> written;
};

Node node;

void wake(OpenFile& file)
{
    if (file.poll) {
        fuse_lowlevel_notify_poll(file.poll);
        fuse_pollhandle_destroy(file.poll);
        file.poll = nullptr;
    }
}

void answerWaiting(OpenFile& file)
{
    while (!file.waiting.empty() && (!file.queue.empty() || node.gone)) {
        auto [req, size] = file.waiting.front();
        file.waiting.pop_front();
        fuse_req_interrupt_func(req, nullptr, nullptr);
        if (file.queue.empty()) {
            fuse_reply_err(req, EIO);
            continue;
        }
        const Report report = std::move(file.queue.front());
        file.queue.pop_front();
        fuse_reply_buf(req, reinterpret_cast<const char*>(report.data()), std::min(size, report.size()));
    }
}

// Every open file gets every report; a full queue drops the new one. The HID
// core drops a report shorter than the descriptor's before hidraw sees it.
void deliver(const Report& report)
{
    if (report.size() < hidraw_sim::kInputReportSize)
        return;
    for (auto& [id, file] : node.files) {
        if (file.queue.size() < kQueueSize - 1)
            file.queue.push_back(report);
        answerWaiting(file);
        wake(file);
    }
}

// What the bridge does with an output report: asks the chip and reports its answer.
void bridgeReceives(const Report& output)
{
    node.written.push_back(output);
    if (auto reply = node.behaviour.replyTo(output))
        node.scheduled.emplace(Clock::now() + node.behaviour.delay, std::move(*reply));
}

// Ends every held write: taken by the bridge (error 0), or failed.
void endHeld(int error)
{
    node.holding = false;
    for (auto& [req, size, report] : node.held) {
        if (error != 0) {
            fuse_reply_err(req, error);
            continue;
        }
        bridgeReceives(report);
        fuse_reply_write(req, size);
    }
    node.held.clear();
}

// The pulled device's pending transfers are cut short (ESHUTDOWN), its
// readers woken.
void unplug()
{
    endHeld(ESHUTDOWN);
    node.gone = true;
    node.scheduled.clear();
    for (auto& [id, file] : node.files) {
        answerWaiting(file);
        wake(file);
    }
}

OpenFile* fileOf(const fuse_file_info* fi)
{
    const auto it = node.files.find(fi->fh);
    return it == node.files.end() ? nullptr : &it->second;
}

void onGetattr(fuse_req_t req, fuse_ino_t, fuse_file_info*)
{
    struct stat st = {};
    st.st_ino = FUSE_ROOT_ID;
    st.st_mode = S_IFREG | node.mode;
    st.st_nlink = 1;
    fuse_reply_attr(req, &st, 0);
}

void onOpen(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    if (node.gone) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    // A stream: no position, no page cache, so a waiting read does not hold up a write.
    fi->direct_io = 1;
    fi->nonseekable = 1;
    fi->keep_cache = 0;
    fi->fh = node.nextFile++;
    node.files[fi->fh].nonblocking = (fi->flags & O_NONBLOCK) != 0;
    fuse_reply_open(req, fi);
}

void onRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    if (OpenFile* file = fileOf(fi)) {
        for (auto& [waiting, size] : file->waiting)
            fuse_reply_err(waiting, EBADF);
        if (file->poll)
            fuse_pollhandle_destroy(file->poll);
        node.files.erase(fi->fh);
    }
    fuse_reply_err(req, 0);
}

void interrupted(fuse_req_t req, void*)
{
    for (auto& [id, file] : node.files) {
        const auto it = std::find_if(file.waiting.begin(), file.waiting.end(),
                                     [req](const auto& w) { return w.first == req; });
        if (it != file.waiting.end()) {
            file.waiting.erase(it);
            fuse_reply_err(req, EINTR);
            return;
        }
    }
}

void onRead(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info* fi)
{
    OpenFile* file = fileOf(fi);
    if (!file) {
        fuse_reply_err(req, EBADF);
        return;
    }
    if (file->queue.empty()) {
        if (file->nonblocking || (fi->flags & O_NONBLOCK)) {
            fuse_reply_err(req, node.gone ? EIO : EAGAIN);
            return;
        }
        if (node.gone) {
            fuse_reply_err(req, EIO);
            return;
        }
        file->waiting.emplace_back(req, size);
        fuse_req_interrupt_func(req, interrupted, nullptr);
        return;
    }
    file->waiting.emplace_back(req, size);
    answerWaiting(*file);
}

void onWrite(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t, fuse_file_info*)
{
    if (node.gone) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    if (size < 2 || size > kMaxReport) {
        fuse_reply_err(req, EINVAL);
        return;
    }
    if (node.writeFailure) {
        fuse_reply_err(req, node.writeFailure);
        return;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buf);
    // Report id 0 means an unnumbered report: the id is not sent.
    const std::size_t skip = bytes[0] == 0 ? 1 : 0;
    Report report(bytes + skip, bytes + size);
    if (node.holding) {
        node.held.push_back({req, size, std::move(report)});
        return;
    }
    bridgeReceives(report);
    fuse_reply_write(req, size);
}

void onPoll(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* ph)
{
    OpenFile* file = fileOf(fi);
    if (!file) {
        if (ph)
            fuse_pollhandle_destroy(ph);
        fuse_reply_err(req, EBADF);
        return;
    }
    if (ph) {
        if (file->poll)
            fuse_pollhandle_destroy(file->poll);
        file->poll = ph;
    }
    unsigned events = POLLOUT | POLLWRNORM;
    if (!file->queue.empty())
        events |= POLLIN | POLLRDNORM;
    if (node.gone)
        events |= POLLERR | POLLHUP;
    fuse_reply_poll(req, events);
}

void onIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void*, fuse_file_info*, unsigned flags,
             const void*, size_t, size_t outSize)
{
    if (flags & FUSE_IOCTL_COMPAT) {
        fuse_reply_err(req, ENOSYS);
        return;
    }
    if (node.gone) {
        fuse_reply_err(req, ENODEV);
        return;
    }
    switch (cmd) {
    case HIDIOCGRDESCSIZE: {
        const int size = sizeof hidraw_sim::kReportDescriptor;
        fuse_reply_ioctl(req, 0, &size, sizeof size);
        return;
    }
    case HIDIOCGRDESC: {
        hidraw_report_descriptor descriptor{};
        descriptor.size = sizeof hidraw_sim::kReportDescriptor;
        std::memcpy(descriptor.value, hidraw_sim::kReportDescriptor, descriptor.size);
        fuse_reply_ioctl(req, 0, &descriptor, std::min(outSize, sizeof descriptor));
        return;
    }
    case HIDIOCGRAWINFO: {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = static_cast<__s16>(hidraw_sim::kVendorId);
        info.product = static_cast<__s16>(hidraw_sim::kProductId);
        fuse_reply_ioctl(req, 0, &info, sizeof info);
        return;
    }
    default:
        fuse_reply_err(req, ENOTTY);
    }
}

void onFlush(fuse_req_t req, fuse_ino_t, fuse_file_info*) { fuse_reply_err(req, 0); }

void reply(int control, const std::string& text) { send(control, text.data(), text.size(), MSG_NOSIGNAL); }

// Returns false when the control socket has closed.
bool command(int control)
{
    char buffer[4096];
    const ssize_t n = recv(control, buffer, sizeof buffer, 0);
    if (n <= 0)
        return n < 0 && errno == EINTR;
    std::istringstream in(std::string(buffer, static_cast<std::size_t>(n)));
    std::string verb;
    in >> verb;
    if (node.behaviour.command(verb, in))
        return true;
    if (verb == "writefail") {
        in >> node.writeFailure;
    } else if (verb == "send") {
        int ms = 0;
        std::string hex;
        in >> ms >> hex;
        node.scheduled.emplace(Clock::now() + std::chrono::milliseconds(ms), hidraw_sim::fromHex(hex));
    } else if (verb == "hold") {
        bool hold = false;
        int error = 0;
        in >> hold >> error;
        if (hold)
            node.holding = true;
        else
            endHeld(error);
    } else if (verb == "held") {
        reply(control, std::to_string(node.held.size()));
    } else if (verb == "gone") {
        unplug();
        reply(control, "ok");
    } else if (verb == "written") {
        std::string all;
        for (const Report& r : node.written)
            all += (all.empty() ? "" : " ") + hidraw_sim::toHex(r);
        reply(control, all.empty() ? "-" : all);
    } else if (verb == "opens") {
        reply(control, std::to_string(node.files.size()));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <mount point> <control fd> <mode>\n", argv[0]);
        return 2;
    }
    const char* mountPoint = argv[1];
    const int control = std::atoi(argv[2]);
    node.mode = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 8));

    fuse_lowlevel_ops ops{};
    ops.getattr = onGetattr;
    ops.open = onOpen;
    ops.release = onRelease;
    ops.read = onRead;
    ops.write = onWrite;
    ops.poll = onPoll;
    ops.ioctl = onIoctl;
    ops.flush = onFlush;

    char program[] = "hidraw_bridge_node";
    char option[] = "-o";
    char options[] = "allow_other,default_permissions,fsname=hidraw,subtype=hidraw";
    char* args[] = {program, option, options, nullptr};
    fuse_args fargs = FUSE_ARGS_INIT(3, args);
    fuse_session* session = fuse_session_new(&fargs, &ops, sizeof ops, nullptr);
    if (!session || fuse_session_mount(session, mountPoint) != 0) {
        reply(control, "failed");
        return 1;
    }
    reply(control, "ready");

    fuse_buf buf{};
    for (;;) {
        int timeout = -1;
        if (!node.scheduled.empty()) {
            const auto wait
                = std::chrono::ceil<std::chrono::milliseconds>(node.scheduled.begin()->first - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, wait.count()));
        }
        pollfd fds[] = {{fuse_session_fd(session), POLLIN, 0}, {control, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        while (!node.scheduled.empty() && node.scheduled.begin()->first <= Clock::now()) {
            const Report report = node.scheduled.begin()->second;
            node.scheduled.erase(node.scheduled.begin());
            deliver(report);
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!command(control))
                break;
        }
        if (fds[0].revents & POLLIN) {
            const int n = fuse_session_receive_buf(session, &buf);
            if (n == -EINTR || n == -EAGAIN)
                continue;
            if (n <= 0)
                break;
            fuse_session_process_buf(session, &buf);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            break;
        }
    }
    std::free(buf.mem);
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    return 0;
}
