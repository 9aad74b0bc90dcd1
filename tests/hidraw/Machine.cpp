#include "Machine.h"

#include "Bridge.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace hidraw_sim {
namespace {

constexpr const char* kLayers = "/run/krl-sim";           // on a tmpfs of our own
constexpr const char* kUserVariable = "KRL_SIM_AS_USER";  // set in a program started by runAsUser()
constexpr uid_t kNobody = 65534;
constexpr unsigned kUsbMajor = 189;
constexpr unsigned kFallbackHidrawMajor = 245;

std::string& reason()
{
    static std::string text = "the private machine was not set up";
    return text;
}

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The hidraw major number the kernel registered, as a real node would carry.
unsigned hidrawMajor()
{
    std::ifstream devices("/proc/devices");
    unsigned major = 0;
    std::string name;
    std::string line;
    while (std::getline(devices, line)) {
        std::istringstream in(line);
        if (in >> major >> name && name == "hidraw")
            return major;
    }
    return kFallbackHidrawMajor;
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void link(const fs::path& target, const fs::path& at)
{
    fs::create_directories(at.parent_path());
    fs::create_symlink(fs::relative(target, at.parent_path()), at);
}

std::string setUp()
{
    if (geteuid() != 0)
        return "the simulated bridges need root (private namespaces, FUSE mounts)";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return "the simulated bridges need /dev/fuse";
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0)
        return std::string("cannot enter private namespaces: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + std::strerror(errno);
    // A tmpfs of our own on /run (not /tmp, which may hold the build itself):
    // the overlays' layers live there, and /run starts empty, as on a machine
    // where no udev daemon runs.
    if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0)
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    for (const char* dir : {"sys", "dev"}) {
        const fs::path layer = fs::path(kLayers) / dir;
        fs::create_directories(layer / "upper");
        fs::create_directories(layer / "work");
        const std::string root = std::string("/") + dir;
        const std::string options = "lowerdir=" + root + ",upperdir=" + (layer / "upper").string()
            + ",workdir=" + (layer / "work").string();
        if (mount("overlay", root.c_str(), "overlay", 0, options.c_str()) != 0)
            return "cannot lay a writable overlay over " + root + ": " + std::strerror(errno);
    }
    for (const char* dir : {"/sys/class/hidraw", "/sys/bus/hid/devices", "/sys/bus/usb/devices",
                            "/sys/dev/char", "/sys/devices/platform"})
        fs::create_directories(dir);
    // libudev accepts a sysfs that is not sysfs only when told so.
    setenv("SYSTEMD_DEVICE_VERIFY_SYSFS", "0", 1);
    return {};
}

// MurmurHash2, as libudev hashes the subsystem for its socket filters.
std::uint32_t murmur2(const std::string& text)
{
    constexpr std::uint32_t m = 0x5bd1e995;
    auto len = static_cast<std::uint32_t>(text.size());
    std::uint32_t h = len;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    while (len >= 4) {
        std::uint32_t k;
        std::memcpy(&k, data, 4);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h *= m;
        h ^= k;
        data += 4;
        len -= 4;
    }
    switch (len) {
    case 3:
        h ^= static_cast<std::uint32_t>(data[2]) << 16;
        [[fallthrough]];
    case 2:
        h ^= static_cast<std::uint32_t>(data[1]) << 8;
        [[fallthrough]];
    case 1:
        h ^= data[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

// libudev's own message header, as a udev daemon sends it on group 2.
struct UdevHeader {
    char prefix[8] = "libudev";
    std::uint32_t magic = htobe32(0xfeedcafe);
    std::uint32_t headerSize = sizeof(UdevHeader);
    std::uint32_t propertiesOffset = sizeof(UdevHeader);
    std::uint32_t propertiesLength = 0;
    std::uint32_t subsystemHash = 0;
    std::uint32_t devtypeHash = 0;
    std::uint32_t tagBloomHigh = 0;
    std::uint32_t tagBloomLow = 0;
};

void sendNetlink(const void* data, std::size_t size, std::uint32_t group)
{
    const int s = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (s < 0)
        fail("netlink socket");
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_groups = group;
    const ssize_t n = sendto(s, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(s);
    if (n < 0)
        fail("sending a uevent");
}

}  // namespace

void enterPrivateMachine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0)
            return;
    }
    if (runningAsUser()) {
        reason().clear();
        return;
    }
    // hidapi looks up a node's sysfs entry by the device number fstat() gives.
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, KRL_HIDRAW_SHIM)) {
        std::string value = KRL_HIDRAW_SHIM;
        if (preload && *preload)
            value += std::string(":") + preload;
        setenv("LD_PRELOAD", value.c_str(), 1);
        execv("/proc/self/exe", argv);
        reason() = std::string("cannot preload the fstat shim: ") + std::strerror(errno);
        return;
    }
    setenv(kMajorVariable, std::to_string(hidrawMajor()).c_str(), 1);
    try {
        reason() = setUp();
    } catch (const std::exception& e) {
        reason() = e.what();
    }
}

const std::string& unavailable() { return reason(); }

bool mustRun()
{
    const char* ci = std::getenv("CI");
    return ci && *ci && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

bool runningAsUser() { return std::getenv(kUserVariable) != nullptr; }

Machine::Machine(Notices notices) : notices_(notices)
{
    // The notice code listens to udev when a udev daemon runs, as its control socket shows.
    fs::create_directories("/run/udev");
    if (notices == Notices::Udev)
        writeFile("/run/udev/control", "");
    else
        fs::remove("/run/udev/control");
}

Machine::~Machine()
{
    // What is still plugged is unplugged as the kernel would, announced too:
    // a watcher that outlives this machine (wine's device manager) must not
    // keep a bridge that is gone.
    for (Bridge& bridge : bridges_) {
        if (!bridge.plugged)
            continue;
        try {
            unplug(bridge.minor);
        } catch (const std::exception&) {
            umount2(devnode(bridge.minor).c_str(), MNT_DETACH);
            unlink(devnode(bridge.minor).c_str());
            removeSysfs(bridge);
        }
    }
    for (Bridge& bridge : bridges_)
        stop(bridge);
}

std::string Machine::devnode(int minor) { return "/dev/hidraw" + std::to_string(minor); }

Machine::Bridge* Machine::find(int minor)
{
    Bridge* last = nullptr;
    for (Bridge& bridge : bridges_) {
        if (bridge.minor == minor)
            last = &bridge;
    }
    if (!last)
        throw std::runtime_error("no bridge at minor " + std::to_string(minor));
    return last;
}

int Machine::plug(const BridgeSpec& spec, int minor)
{
    if (minor < 0) {
        for (minor = 0;
             fs::exists(devnode(minor)) || fs::exists("/sys/class/hidraw/hidraw" + std::to_string(minor));)
            ++minor;
    }
    const std::string node = devnode(minor);
    const int made = open(node.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (made < 0)
        fail("creating " + node);
    close(made);

    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        fail("socketpair");
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", spec.mode);
    const std::string fd = std::to_string(sockets[1]);
    const char* args[] = {KRL_HIDRAW_NODE, node.c_str(), fd.c_str(), mode, nullptr};
    const pid_t child = fork();
    if (child == 0) {
        fcntl(sockets[1], F_SETFD, 0);
        execv(KRL_HIDRAW_NODE, const_cast<char* const*>(args));
        _exit(127);
    }
    close(sockets[1]);
    Bridge bridge;
    bridge.minor = minor;
    bridge.control = sockets[0];
    bridge.server = child;
    timeval wait{10, 0};
    setsockopt(bridge.control, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char answer[16] = {};
    if (child < 0 || recv(bridge.control, answer, sizeof answer - 1, 0) <= 0
        || std::strcmp(answer, "ready") != 0) {
        stop(bridge);
        throw std::runtime_error("the device node at " + node + " did not start");
    }
    bridge.plugged = true;
    writeSysfs(bridge, spec);
    bridges_.push_back(bridge);
    announce("add", bridges_.back());
    return minor;
}

void Machine::unplug(int minor)
{
    Bridge& bridge = *find(minor);
    if (!bridge.plugged)
        return;
    ask(minor, "gone");
    umount2(devnode(minor).c_str(), MNT_DETACH);
    unlink(devnode(minor).c_str());
    removeSysfs(bridge);
    bridge.plugged = false;
    announce("remove", bridge);
}

void Machine::release(int minor)
{
    for (auto it = bridges_.begin(); it != bridges_.end(); ++it) {
        if (it->minor == minor && !it->plugged) {
            stop(*it);
            bridges_.erase(it);
            return;
        }
    }
}

void Machine::tell(int minor, const std::string& command)
{
    if (send(find(minor)->control, command.data(), command.size(), MSG_NOSIGNAL) < 0)
        fail("telling the bridge " + command);
}

std::string Machine::ask(int minor, const std::string& command)
{
    tell(minor, command);
    char answer[65536];
    const ssize_t n = recv(find(minor)->control, answer, sizeof answer, 0);
    if (n <= 0)
        fail("asking the bridge " + command);
    return std::string(answer, static_cast<std::size_t>(n));
}

HeldWrites::HeldWrites(Machine& machine, int minor, std::chrono::seconds guard)
    : machine_(machine), minor_(minor)
{
    machine_.tell(minor_, "hold 1");
    guard_ = std::thread([this, guard, done = released_.get_future()] {
        if (done.wait_for(guard) == std::future_status::timeout)
            machine_.tell(minor_, "hold 0");
    });
}

HeldWrites::~HeldWrites() { release(); }

int HeldWrites::held() { return std::stoi(machine_.ask(minor_, "held")); }

void HeldWrites::release(const std::string& how)
{
    if (ended_)
        return;
    ended_ = true;
    released_.set_value();
    guard_.join();
    machine_.tell(minor_, how);
}

std::vector<std::string> Machine::written(int minor)
{
    std::istringstream in(ask(minor, "written"));
    std::vector<std::string> reports;
    for (std::string r; in >> r;) {
        if (r != "-")
            reports.push_back(r);
    }
    return reports;
}

int Machine::opens(int minor)
{
    int total = 0;
    for (Bridge& bridge : bridges_) {
        if (bridge.minor != minor)
            continue;
        const std::string command = "opens";
        send(bridge.control, command.data(), command.size(), MSG_NOSIGNAL);
        char answer[32] = {};
        if (recv(bridge.control, answer, sizeof answer - 1, 0) > 0)
            total += std::atoi(answer);
    }
    return total;
}

// The tree hidapi and libudev read: a usb_device on a bus of its own, its
// interface, the hid device and its hidraw node, with the class, bus and
// device-number links. As in the kernel, each new device gets a new HID
// device number (the ".0001" of its name) and a new USB device number, so a
// bridge plugged again at the same minor is a new sysfs path, never the old
// one come back.
void Machine::writeSysfs(Bridge& bridge, const BridgeSpec& spec)
{
    const int k = bridge.minor;
    const int bus = k + 1;
    ++devices_;
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", kVendorId, kProductId, devices_ & 0xFFFF);
    const int devnum = 2 + (devices_ - 1) % 126;  // USB device numbers run 1..127; 1 is the root hub
    char busText[16], devnumText[16];
    std::snprintf(busText, sizeof busText, "%03d", bus);
    std::snprintf(devnumText, sizeof devnumText, "%03d", devnum);
    const std::string port = std::to_string(bus) + "-1";
    const unsigned major = static_cast<unsigned>(std::atoi(std::getenv(kMajorVariable)));

    const fs::path host = "/sys/devices/platform/dummy_hcd." + std::to_string(k);
    const fs::path usb = host / ("usb" + std::to_string(bus)) / port;
    const fs::path interface = usb / (port + ":1.0");
    const fs::path hid = interface / hidName;
    const fs::path raw = hid / "hidraw" / ("hidraw" + std::to_string(k));
    fs::create_directories(raw);
    bridge.sysfsRoot = host.string();
    bridge.devpath = raw.string().substr(4);  // without "/sys"

    writeFile(usb / "uevent",
              "MAJOR=" + std::to_string(kUsbMajor) + "\nMINOR=" + std::to_string((bus - 1) * 128 + devnum - 1)
                  + "\nDEVNAME=bus/usb/" + busText + "/" + devnumText + "\nDEVTYPE=usb_device\nDRIVER=usb\n"
                  + "PRODUCT=6017/200/100\nTYPE=0/0/0\nBUSNUM=" + busText + "\nDEVNUM=" + devnumText + "\n");
    writeFile(usb / "idVendor", "6017\n");
    writeFile(usb / "idProduct", "0200\n");
    writeFile(usb / "bcdDevice", "0100\n");
    writeFile(usb / "manufacturer", spec.manufacturer + "\n");
    writeFile(usb / "product", spec.product + "\n");
    writeFile(usb / "serial", spec.serial + "\n");
    writeFile(usb / "busnum", std::to_string(bus) + "\n");
    writeFile(usb / "devnum", std::to_string(devnum) + "\n");
    writeFile(interface / "uevent",
              "DEVTYPE=usb_interface\nDRIVER=usbhid\nPRODUCT=6017/200/100\n"
              "TYPE=0/0/0\nINTERFACE=3/0/0\nMODALIAS=usb:v6017p0200d0100dc00dsc00dp00ic03isc00ip00in00\n");
    writeFile(interface / "bInterfaceNumber", "00\n");
    writeFile(interface / "bInterfaceClass", "03\n");
    writeFile(hid / "uevent",
              "DRIVER=hid-generic\nHID_ID=0003:00006017:00000200\nHID_NAME=" + spec.manufacturer + " "
                  + spec.product + "\nHID_PHYS=usb-dummy_hcd." + std::to_string(k) + "-1/input0\n"
                  + "HID_UNIQ=" + spec.serial + "\nMODALIAS=hid:b0003g0001v00006017p00000200\n");
    writeFile(hid / "report_descriptor",
              std::string(reinterpret_cast<const char*>(kReportDescriptor), sizeof kReportDescriptor));
    const std::string number = std::to_string(major) + ":" + std::to_string(k);
    writeFile(raw / "uevent",
              "MAJOR=" + std::to_string(major) + "\nMINOR=" + std::to_string(k) + "\nDEVNAME=hidraw"
                  + std::to_string(k) + "\n");
    writeFile(raw / "dev", number + "\n");

    link("/sys/bus/usb", usb / "subsystem");
    link("/sys/bus/usb", interface / "subsystem");
    link("/sys/bus/hid", hid / "subsystem");
    link("/sys/class/hidraw", raw / "subsystem");
    link(hid, raw / "device");
    const std::pair<fs::path, fs::path> links[] = {
        {raw, "/sys/class/hidraw/hidraw" + std::to_string(k)},
        {raw, "/sys/dev/char/" + number},
        {usb, "/sys/bus/usb/devices/" + port},
        {interface, "/sys/bus/usb/devices/" + port + ":1.0"},
        {hid, std::string("/sys/bus/hid/devices/") + hidName},
    };
    for (const auto& [target, at] : links) {
        link(target, at);
        bridge.sysfsLinks.push_back(at.string());
    }
}

void Machine::removeSysfs(Bridge& bridge)
{
    for (const std::string& at : bridge.sysfsLinks)
        fs::remove(at);
    bridge.sysfsLinks.clear();
    fs::remove_all(bridge.sysfsRoot);
}

// A hidraw uevent: handed to the kernel, which broadcasts it as its own on
// group 1 (in this network namespace only); or in libudev's format on group 2.
void Machine::announce(const char* action, const Bridge& bridge)
{
    const std::string major = std::getenv(kMajorVariable);
    std::vector<std::string> properties = {
        std::string("ACTION=") + action,
        "DEVPATH=" + bridge.devpath,
        "SUBSYSTEM=hidraw",
        "MAJOR=" + major,
        "MINOR=" + std::to_string(bridge.minor),
    };
    std::string body;
    if (notices_ == Notices::Kernel) {
        properties.push_back("DEVNAME=hidraw" + std::to_string(bridge.minor));
        body = std::string(action) + "@" + bridge.devpath + '\0';
        for (const std::string& p : properties)
            body += p + '\0';
        std::vector<char> message(NLMSG_HDRLEN + body.size());
        auto* header = reinterpret_cast<nlmsghdr*>(message.data());
        header->nlmsg_len = static_cast<std::uint32_t>(message.size());
        header->nlmsg_type = NLMSG_MIN_TYPE;  // lower types are control messages the kernel does not pass on
        header->nlmsg_flags = NLM_F_REQUEST;
        std::memcpy(message.data() + NLMSG_HDRLEN, body.data(), body.size());
        sendNetlink(message.data(), message.size(), 0);
        return;
    }
    properties.push_back(Machine::devnode(bridge.minor).insert(0, "DEVNAME="));
    properties.push_back("SEQNUM=" + std::to_string(++seqnum_));
    properties.push_back("USEC_INITIALIZED=1");
    for (const std::string& p : properties)
        body += p + '\0';
    UdevHeader header;
    header.propertiesLength = static_cast<std::uint32_t>(body.size());
    header.subsystemHash = htobe32(murmur2("hidraw"));
    std::string message(reinterpret_cast<const char*>(&header), sizeof header);
    message += body;
    sendNetlink(message.data(), message.size(), 2);
}

void Machine::stop(Bridge& bridge)
{
    if (bridge.control >= 0)
        close(bridge.control);  // the node unmounts and ends
    bridge.control = -1;
    if (bridge.server > 0) {
        for (int i = 0; i < 200 && waitpid(bridge.server, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (waitpid(bridge.server, nullptr, WNOHANG) == 0) {
            kill(bridge.server, SIGKILL);
            waitpid(bridge.server, nullptr, 0);
        }
    }
    bridge.server = -1;
}

int runAsUser(const std::string& filter, std::string& output)
{
    // The program and the shim are copied to our own tmpfs, where any user may
    // run them, whatever the permissions along the build directory's path.
    const fs::path dir = fs::path(kLayers) / "as-user";
    fs::create_directories(dir);
    fs::permissions(kLayers, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    const fs::path program = dir / "program";
    const fs::path shim = dir / fs::path(KRL_HIDRAW_SHIM).filename();
    fs::copy_file("/proc/self/exe", program, fs::copy_options::overwrite_existing);
    fs::copy_file(KRL_HIDRAW_SHIM, shim, fs::copy_options::overwrite_existing);
    fs::permissions(dir,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                        | fs::perms::others_read | fs::perms::others_exec);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail("pipe");
    const std::string filterArg = "--gtest_filter=" + filter;
    const std::string preload = "LD_PRELOAD=" + shim.string();
    const std::string reuid = "--reuid=" + std::to_string(kNobody);
    const std::string regid = "--regid=" + std::to_string(kNobody);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (chdir("/") != 0)
            _exit(126);
        setenv(kUserVariable, "1", 1);
        setenv("HOME", dir.c_str(), 1);
        setenv("LD_PRELOAD", shim.c_str(), 1);
        execl("/usr/bin/setpriv", "setpriv", reuid.c_str(), regid.c_str(), "--clear-groups",
              "--inh-caps=-all", program.c_str(), filterArg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace hidraw_sim
