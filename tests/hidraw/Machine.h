#pragma once
// A machine with simulated USB HID bridges, for running the real host (hidapi's
// hidraw backend, libudev notices) end to end. The test program enters private
// mount and network namespaces at start, with a tmpfs of its own on /run and
// writable overlays over /sys and /dev, so the machine itself is never touched. There a bridge
// is plugged as the kernel would: a device node at /dev/hidrawN (a FUSE
// server, see BridgeNode.cpp), its sysfs tree, and an "add" uevent.

#include <chrono>
#include <future>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace hidraw_sim {

// Called first thing in main: enters the private namespaces (re-executing the
// program with the fstat shim preloaded first). Does nothing for a listing of
// the tests or for a program started by runAsUser().
void enterPrivateMachine(int argc, char** argv);

// Why the scenarios cannot run here; empty when they can.
const std::string& unavailable();

// True where the CI variable is set (and not "false" or "0"): the scenarios
// must run there.
bool mustRun();

// Skips the current test (fails it where the CI variable is set) when the
// scenarios cannot run here.
#define HIDRAW_REQUIRE_MACHINE()                                                                             \
    do {                                                                                                     \
        if (!::hidraw_sim::unavailable().empty()) {                                                          \
            if (::hidraw_sim::mustRun())                                                                     \
                FAIL() << "CI must run the hidraw scenarios: " << ::hidraw_sim::unavailable();               \
            GTEST_SKIP() << ::hidraw_sim::unavailable();                                                     \
        }                                                                                                    \
    } while (0)

// Which notices the device watcher listens to: the kernel's own uevents, or
// those a udev daemon rebroadcasts (chosen by the presence of /run/udev/control).
enum class Notices { Kernel, Udev };

struct BridgeSpec {
    std::string manufacturer = "Halvern";
    std::string product = "KRL7741 USB-I2C Bridge";
    std::string serial = "KRL-0001";
    unsigned mode = 0600;  // of the device node
};

class Machine {
public:
    explicit Machine(Notices notices);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Plugs a bridge; its node is /dev/hidraw<minor>. minor -1: the lowest free one.
    int plug(const BridgeSpec& spec = {}, int minor = -1);
    // Unplugs as the kernel does: the device goes, its node and sysfs entries
    // are removed, then "remove" is announced.
    void unplug(int minor);
    // Ends the device node of an unplugged bridge at `minor`, once nothing
    // needs its old handles any more (long plug cycles would pile them up).
    void release(int minor);

    // Commands to the bridge at `minor` (see BridgeNode.cpp); ask() returns the answer.
    void tell(int minor, const std::string& command);
    std::string ask(int minor, const std::string& command);
    // The reports the bridge received, report id removed, in hex ("704141").
    std::vector<std::string> written(int minor);
    // Open files on the bridge's node (its current one or, after unplug, its last one).
    int opens(int minor);

    static std::string devnode(int minor);

private:
    struct Bridge {
        int minor = -1;
        int control = -1;
        pid_t server = -1;
        bool plugged = false;
        std::vector<std::string> sysfsLinks;
        std::string sysfsRoot;
        std::string devpath;
    };
    Bridge* find(int minor);
    void writeSysfs(Bridge& bridge, const BridgeSpec& spec);
    void removeSysfs(Bridge& bridge);
    void announce(const char* action, const Bridge& bridge);
    static void stop(Bridge& bridge);

    Notices notices_;
    unsigned long long seqnum_ = 1000;
    int devices_ = 0;              // devices plugged so far: the kernel's HID device numbers
    std::vector<Bridge> bridges_;  // plugged ones, and unplugged ones still serving old handles
};

// The bridge at `minor` stops taking output reports: its node holds each
// write unanswered, as the kernel holds a write to a USB device that takes
// none. A program that waits for a held write itself would never go on: after
// `guard` the held writes are let through, so that it fails instead of hanging.
class HeldWrites {
public:
    HeldWrites(Machine& machine, int minor, std::chrono::seconds guard = std::chrono::seconds(20));
    ~HeldWrites();
    HeldWrites(const HeldWrites&) = delete;
    HeldWrites& operator=(const HeldWrites&) = delete;

    // How many writes the node holds.
    int held();
    // Ends the held writes: "hold 0" (the bridge takes them) or "hold 0 <errno>".
    void release(const std::string& how = "hold 0");

private:
    Machine& machine_;
    int minor_;
    std::promise<void> released_;
    std::thread guard_;
    bool ended_ = false;
};

// Runs this test program as an unprivileged user (nobody) inside the same
// namespaces, with the given gtest filter; returns its exit status, and its
// output in `output`.
int runAsUser(const std::string& filter, std::string& output);

// True in a program started by runAsUser().
bool runningAsUser();
// Registers the tests such a program runs (panel_test.cpp).
void registerAsUserTests();

}  // namespace hidraw_sim
