#include "Gadget.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kernel_guest {

namespace {

const fs::path kGadgets = "/sys/kernel/config/usb_gadget";

std::string readFile(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string hex4(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        poll(nullptr, 0, 5);
    }
    return true;
}

Gadget::Gadget(int controller, const GadgetSpec& spec)
    : controller_(controller), dir_(kGadgets / ("krl" + std::to_string(controller))), serial_(spec.serial)
{
    fs::create_directories(dir_ + "/strings/0x409");
    write("idVendor", hex4(spec.vendorId));
    write("idProduct", hex4(spec.productId));
    write("bcdUSB", "0x0200");
    write("strings/0x409/manufacturer", spec.manufacturer);
    write("strings/0x409/product", spec.product);
    write("strings/0x409/serialnumber", spec.serial);
    const std::string function = "functions/hid.krl" + std::to_string(controller);
    fs::create_directories(dir_ + "/" + function);
    write(function + "/protocol", "0");
    write(function + "/subclass", "0");
    write(function + "/report_length", "3");
    write(function + "/report_desc",
          std::string(std::begin(hidraw_sim::kReportDescriptor), std::end(hidraw_sim::kReportDescriptor)));
    fs::create_directories(dir_ + "/configs/c.1");
    write("configs/c.1/MaxPower", "100");
    fs::create_directory_symlink(dir_ + "/" + function,
                                 dir_ + "/configs/c.1/hid.krl" + std::to_string(controller));
}

Gadget::~Gadget()
{
    try {
        unplug();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gadget %d: %s\n", controller_, e.what());
    }
    std::error_code ignored;
    const std::string n = std::to_string(controller_);
    fs::remove(dir_ + "/configs/c.1/hid.krl" + n, ignored);
    fs::remove(dir_ + "/configs/c.1", ignored);
    fs::remove(dir_ + "/functions/hid.krl" + n, ignored);
    fs::remove(dir_ + "/strings/0x409", ignored);
    fs::remove(dir_, ignored);
}

void Gadget::write(const std::string& file, const std::string& text) const
{
    const std::string path = dir_ + "/" + file;
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(path + ": " + std::strerror(error));
    }
    ::close(fd);
}

std::string Gadget::plug()
{
    write("UDC", "dummy_udc." + std::to_string(controller_));
    plugged_ = true;
    // The device side: /dev/hidg<minor>, made when the gadget is bound.
    unsigned major = 0, minor = 0;
    const std::string dev = readFile(dir_ + "/functions/hid.krl" + std::to_string(controller_) + "/dev");
    std::sscanf(dev.c_str(), "%u:%u", &major, &minor);
    const std::string node = "/dev/hidg" + std::to_string(minor);
    int device = -1;
    waitFor([&] { return (device = ::open(node.c_str(), O_RDWR | O_NONBLOCK)) >= 0; });
    if (device < 0)
        throw std::runtime_error(node + ": " + std::strerror(errno));
    stop_ = eventfd(0, EFD_CLOEXEC);
    device_ = std::thread([this, device] { serve(device); });
    std::string path;
    if (!waitFor([&] { return !(path = hidraw()).empty(); }))
        throw std::runtime_error("the host made no hidraw node for gadget " + std::to_string(controller_));
    return path;
}

void Gadget::unplug()
{
    if (!plugged_)
        return;
    plugged_ = false;
    if (device_.joinable()) {
        const std::uint64_t one = 1;
        if (::write(stop_, &one, sizeof one) != sizeof one)
            throw std::runtime_error("the device side could not be stopped");
        device_.join();
        ::close(stop_);
    }
    write("UDC", "\n");  // no controller: unbound
    waitFor([&] { return hidraw().empty(); });
}

void Gadget::setSerial(const std::string& serial)
{
    serial_ = serial;
    write("strings/0x409/serialnumber", serial);
}

void Gadget::tell(const std::string& command)
{
    std::istringstream in(command);
    std::string verb;
    in >> verb;
    if (verb == "stall") {
        bool stalled = false;
        in >> stalled;
        stalled_ = stalled;
        return;
    }
    const std::lock_guard lock(mutex_);
    if (verb == "send") {
        int ms = 0;
        std::string hex;
        in >> ms >> hex;
        scheduled_.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                                hidraw_sim::fromHex(hex));
        return;
    }
    if (!behaviour_.command(verb, in))
        throw std::invalid_argument("a gadget does not play \"" + command + "\"");
}

std::vector<std::string> Gadget::written()
{
    const std::lock_guard lock(mutex_);
    return written_;
}

std::string Gadget::hidraw() const
{
    // The host's side of this controller: /sys/devices/platform/dummy_hcd.<n>/usbB/...
    const std::string bus = "/dummy_hcd." + std::to_string(controller_) + "/";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
        const std::string real = fs::canonical(entry.path(), error).string();
        if (!error && real.find(bus) != std::string::npos && fs::exists("/dev" / entry.path().filename()))
            return ("/dev" / entry.path().filename()).string();
    }
    return {};
}

// Reads each output report and answers it as the bridge's behaviour says,
// and sends the reports of its own when they are due, until the stop event.
void Gadget::serve(int device)
{
    std::uint8_t buffer[64];
    for (;;) {
        // While stalled only the stop event is waited for, looking again every few ms.
        const bool taking = !stalled_;
        int timeout = taking ? -1 : 5;
        std::vector<hidraw_sim::Report> due;
        {
            const std::lock_guard lock(mutex_);
            const auto now = std::chrono::steady_clock::now();
            std::erase_if(scheduled_, [&](const auto& s) {
                if (s.first > now)
                    return false;
                due.push_back(s.second);
                return true;
            });
            for (const auto& s : scheduled_) {
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(s.first - now).count();
                timeout = timeout < 0 ? static_cast<int>(ms) : std::min(timeout, static_cast<int>(ms));
            }
        }
        const bool sent = std::all_of(due.begin(), due.end(), [device](const hidraw_sim::Report& report) {
            return ::write(device, report.data(), report.size()) >= 0 || errno == EAGAIN;
        });
        if (!sent)
            break;
        pollfd fds[] = {{stop_, POLLIN, 0}, {device, POLLIN, 0}};
        if (::poll(fds, taking ? 2 : 1, timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (stalled_ || !(fds[1].revents & POLLIN))  // stalled while waiting: not taken either
            continue;
        const ssize_t n = ::read(device, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        const hidraw_sim::Report output(buffer, buffer + n);
        std::optional<hidraw_sim::Report> reply;
        std::chrono::milliseconds delay{};
        {
            const std::lock_guard lock(mutex_);
            written_.push_back(hidraw_sim::toHex(output));
            reply = behaviour_.replyTo(output);
            delay = behaviour_.delay;
        }
        if (!reply)
            continue;
        // The bridge takes `delay` to answer, and sends once the host has taken its last answer.
        pollfd wait[] = {{stop_, POLLIN, 0}, {device, POLLOUT, 0}};
        if (::poll(wait, 1, static_cast<int>(delay.count())) > 0 || ::poll(wait, 2, -1) < 0
            || wait[0].revents)
            break;
        if (::write(device, reply->data(), reply->size()) < 0 && errno != EAGAIN)
            break;
    }
    ::close(device);
}

}  // namespace kernel_guest
