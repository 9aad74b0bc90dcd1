// The Windows host layer as a program another process can steer: the hidapi
// host, the bridge link and the device notice window, each as the panel uses
// them, behind one line of text per command on standard input and one line of
// answer on standard output. The hidraw scenarios run it under wine, whose own
// HID stack reaches their simulated bridges (tests/hidraw/wine_test.cpp).
//
//   list                     the bridges: "<vid> <pid> <serial> <product>", tab between bridges
//   filter <serial>          only a bridge with this serial counts
//   scan                     "opened <serial>", "still", or "disconnected <reason>"
//   transact <a> <f> <s>     one exchange (hex bytes): "<status> <first> <second> <verdict>"
//   ramp <n> <ms> <address>  n exchanges, levels 1..n, <ms> apart: one letter each (A, N,
//                            0, L), or - for a step made with no bridge open
//   other <a> <f> <s>        another handle on the link's bridge writes a report: the count
//   other-reply <ms>         the command byte the other handle's next report echoes (byte 2),
//                            or -1 when none came within <ms>
//   notices                  how many device notices came
//   wait <n> <ms>            waits until n notices came (at most <ms>), then as notices
//   quiet <ms>               waits until no notice came for <ms>, then as notices
//   handles                  the process's handle count
//   reset                    a new link and notice window, the count back to 0
//   cfgmgr32                 "ok" when cfgmgr32.dll answers the calls hidapi lists with as
//                            Windows does, else each that does not, with its CONFIGRET
//   describe                 what hidapi gives for each bridge: "path=… bus=… interface=…
//                            usage=… release=… maker=… product=… container=…", tab between
//   quit
//
// Notices are Windows' own: the window's messages are pumped whenever no
// command runs, and between the steps of a ramp.

#include "BridgeLink.h"
#include "DeviceNoticeWindow_win.h"
#include "Exchanges.h"
#include "HidapiHost.h"

#include <hidapi/hidapi.h>
#include <hidapi/hidapi_winapi.h>
#include <windows.h>
// clang-format off
#include <cfgmgr32.h>
extern "C" {
#include <hidsdi.h>
}
#include <initguid.h>
#include <devpkey.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

// The Qt side of the notices (DeviceNotice_win.cpp) needs a Qt built for
// Windows: here the notice window is used directly, and the host's watch()
// stands unused.
bridge::WatchResult bridge::watchDeviceNotices(std::function<void()>)
{
    return {nullptr, "not in this program"};
}

namespace {

using Clock = std::chrono::steady_clock;

// Lines read on a thread of their own, so that the main thread never stops
// pumping the notice window's messages.
class Input {
public:
    Input() : ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
    {
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line))
                push(line);
            push("quit");
        }).detach();
    }
    HANDLE ready() const { return ready_; }
    bool pop(std::string& line)
    {
        const std::lock_guard lock(mutex_);
        if (lines_.empty())
            return false;
        line = lines_.front();
        lines_.pop_front();
        return true;
    }

private:
    void push(std::string line)
    {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        {
            const std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
        }
        SetEvent(ready_);
    }
    HANDLE ready_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
};

// Delivers the window messages that are due, then waits for more (or for
// `event`) until `until`.
void pumpUntil(Clock::time_point until, HANDLE event = nullptr)
{
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return;
        const DWORD handles = event ? 1 : 0;
        const DWORD woke = MsgWaitForMultipleObjects(handles, event ? &event : nullptr, FALSE,
                                                     static_cast<DWORD>(left), QS_ALLINPUT);
        if (event && woke == WAIT_OBJECT_0)
            return;
    }
}

std::string narrow(const std::optional<std::u16string>& text)
{
    if (!text)
        return "-";
    std::string out;
    for (const char16_t c : *text)
        out += (c > 0x20 && c < 0x7F) ? static_cast<char>(c) : (c == u' ' ? ' ' : '?');
    return out.empty() ? "-" : out;
}

std::string narrow(const wchar_t* text)
{
    return text ? narrow(std::u16string(text, text + std::wcslen(text))) : "-";
}

// The interface list's size and an interface's property, asked of cfgmgr32.dll
// as hidapi asks (LoadLibrary, GetProcAddress). Windows answers CR_SUCCESS for
// the size of a class's list, and for an interface that does not exist
// CR_NO_SUCH_DEVICE_INTERFACE or the like, never CR_CALL_NOT_IMPLEMENTED.
// (The list itself is not asked for: a stub there would end the program.)
std::string probeCfgmgr32()
{
    const HMODULE dll = LoadLibraryW(L"cfgmgr32.dll");
    if (!dll)
        return "no cfgmgr32.dll";
    using Size = CONFIGRET(WINAPI*)(PULONG, LPGUID, DEVINSTID_W, ULONG);
    using Property = CONFIGRET(WINAPI*)(LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG, ULONG);
    const auto size = reinterpret_cast<Size>(
        reinterpret_cast<void*>(GetProcAddress(dll, "CM_Get_Device_Interface_List_SizeW")));
    const auto property = reinterpret_cast<Property>(
        reinterpret_cast<void*>(GetProcAddress(dll, "CM_Get_Device_Interface_PropertyW")));
    std::string out;
    const auto fault = [&out](const char* call, CONFIGRET cr) {
        char code[16];
        std::snprintf(code, sizeof code, " 0x%lX", cr);
        out += (out.empty() ? "" : ", ") + std::string(call) + code;
    };
    GUID hid{};
    HidD_GetHidGuid(&hid);
    ULONG length = 0;
    DEVPROPTYPE type = 0;
    CONFIGRET cr = CR_SUCCESS;
    if (!size)
        out = "no CM_Get_Device_Interface_List_SizeW";
    else if ((cr = size(&length, &hid, nullptr, CM_GET_DEVICE_INTERFACE_LIST_PRESENT)) != CR_SUCCESS)
        fault("CM_Get_Device_Interface_List_SizeW", cr);
    length = 0;
    if (!property)
        out += (out.empty() ? "" : ", ") + std::string("no CM_Get_Device_Interface_PropertyW");
    else if ((cr = property(LR"(\\?\HID#NONE#0&0&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
                            &DEVPKEY_Device_InstanceId, &type, nullptr, &length, 0))
             == CR_CALL_NOT_IMPLEMENTED)
        fault("CM_Get_Device_Interface_PropertyW", cr);
    FreeLibrary(dll);
    return out.empty() ? "ok" : out;
}

// What hidapi's listing and an open give for each bridge.
std::string describe()
{
    std::string out;
    hid_device_info* list = hid_enumerate(bridge::kBridgeVendorId, 0);
    for (const hid_device_info* i = list; i; i = i->next) {
        char fields[160];
        std::snprintf(fields, sizeof fields, " bus=%d interface=%d usage=%04X:%04X release=%04X", i->bus_type,
                      i->interface_number, i->usage_page, i->usage, i->release_number);
        std::string container = "-";
        if (hid_device* device = hid_open_path(i->path)) {
            GUID id{};
            if (hid_winapi_get_container_id(device, &id) == 0) {
                wchar_t text[40] = {};
                StringFromGUID2(id, text, 40);
                container = narrow(text);
            } else {
                container = "(" + narrow(hid_error(device)) + ")";
            }
            hid_close(device);
        }
        out += out.empty() ? "" : "\t";
        out += std::string("path=") + i->path + fields + " maker=" + narrow(i->manufacturer_string)
            + " product=" + narrow(i->product_string) + " container=" + container;
    }
    if (!list)
        out = "none (" + narrow(hid_error(nullptr)) + ")";
    hid_free_enumeration(list);
    return out;
}

struct Agent {
    bridge::HidapiHost host;
    std::unique_ptr<bridge::BridgeLink> link;
    std::unique_ptr<bridge::DeviceNoticeWindow> notices;
    std::unique_ptr<bridge::HidDevice> other;  // another program's handle, as it were
    int noticeCount = 0;

    void reset()
    {
        notices.reset();
        other.reset();
        link = std::make_unique<bridge::BridgeLink>(host);
        noticeCount = 0;
        notices = std::make_unique<bridge::DeviceNoticeWindow>([this] { ++noticeCount; });
    }

    std::string list()
    {
        std::string out;
        for (const auto& i : host.interfaces()) {
            if (i.vendorId != bridge::kBridgeVendorId)
                continue;
            out += out.empty() ? "" : "\t";
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04X %04X", i.vendorId, i.productId);
            out += std::string(ids) + " " + narrow(i.serial) + " " + narrow(i.product);
        }
        return out.empty() ? "none" : out;
    }

    static std::string scanText(const bridge::ScanResult& scan)
    {
        switch (scan.state) {
        case bridge::ScanResult::State::Opened:
            return "opened " + narrow(scan.serial);
        case bridge::ScanResult::State::StillOpen:
            return "still";
        case bridge::ScanResult::State::Disconnected:
            break;
        }
        std::string out = "disconnected";
        if (scan.permissionDenied)
            out += " denied";
        if (scan.inUse)
            out += " in-use";
        return out + " " + scan.openFailure;
    }

    std::string transact(unsigned address, unsigned first, unsigned second)
    {
        const auto reply
            = link->transact(static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(first),
                             static_cast<std::uint8_t>(second));
        std::string out = hidraw_sim::describe(reply);
        if (reply.deviceLost)
            out += " " + scanText(reply.rescan);
        return out;
    }

    std::string ramp(int steps, int intervalMs, unsigned address)
    {
        std::string letters;
        auto next = Clock::now();
        for (int level = 1; level <= steps; ++level) {
            pumpUntil(next);
            next += std::chrono::milliseconds(intervalMs);
            const bool open = link->connected();
            const auto reply
                = link->transact(static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(level),
                                 static_cast<std::uint8_t>(level));
            if (!open) {
                letters += '-';
                continue;
            }
            if (reply.deviceLost) {
                letters += 'L';
                continue;
            }
            const auto outcome = reply.outcome();
            letters += outcome == bridge::Outcome::Acknowledged ? 'A'
                : outcome == bridge::Outcome::NotAcknowledged   ? 'N'
                                                                : '0';
        }
        return letters;
    }

    std::string wait(int count, int ms)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (noticeCount < count && Clock::now() < until)
            pumpUntil(std::min(until, Clock::now() + std::chrono::milliseconds(20)));
        return std::to_string(noticeCount);
    }

    std::string quiet(int ms)
    {
        for (int seen = -1; seen != noticeCount;) {
            seen = noticeCount;
            pumpUntil(Clock::now() + std::chrono::milliseconds(ms));
        }
        return std::to_string(noticeCount);
    }

    // One command; false for quit.
    bool run(const std::string& line, std::string& answer)
    {
        std::istringstream in(line);
        std::string verb;
        in >> verb >> std::hex;
        unsigned a = 0, f = 0, s = 0;
        if (verb == "list") {
            answer = list();
        } else if (verb == "filter") {
            std::string serial;
            in >> serial;
            link->setSerialFilter(std::u16string(serial.begin(), serial.end()));
            answer = "ok";
        } else if (verb == "scan") {
            answer = scanText(link->scan());
        } else if (verb == "transact" && in >> a >> f >> s) {
            answer = transact(a, f, s);
        } else if (verb == "ramp") {
            int steps = 0, ms = 0;
            in >> std::dec >> steps >> ms >> std::hex >> a;
            answer = ramp(steps, ms, a);
        } else if (verb == "other" && in >> a >> f >> s) {
            other = std::move(host.open(link->path()).device);
            const std::uint8_t report[] = {0x00, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(f),
                                           static_cast<std::uint8_t>(s)};
            answer = other ? std::to_string(other->write(report)) : "not opened";
        } else if (verb == "other-reply") {
            int ms = 0;
            in >> std::dec >> ms;
            std::uint8_t reply[4] = {};
            answer = std::to_string(other && other->read(reply, std::chrono::milliseconds(ms)) == 4 ? reply[2]
                                                                                                    : -1);
        } else if (verb == "notices") {
            answer = std::to_string(noticeCount);
        } else if (verb == "wait") {
            int count = 0, ms = 0;
            in >> std::dec >> count >> ms;
            answer = wait(count, ms);
        } else if (verb == "quiet") {
            int ms = 0;
            in >> std::dec >> ms;
            answer = quiet(ms);
        } else if (verb == "handles") {
            DWORD count = 0;
            GetProcessHandleCount(GetCurrentProcess(), &count);
            answer = std::to_string(count);
        } else if (verb == "reset") {
            reset();
            answer = notices->ok() ? "ok" : "no notices: " + notices->error();
        } else if (verb == "cfgmgr32") {
            answer = probeCfgmgr32();
        } else if (verb == "describe") {
            answer = describe();
        } else if (verb == "quit") {
            return false;
        } else {
            answer = "unknown command: " + line;
        }
        return true;
    }
};

}  // namespace

int main()
{
    Agent agent;
    agent.reset();
    std::cout << "ready " << (agent.host.unavailable().empty() ? "hidapi" : agent.host.unavailable())
              << (agent.notices->ok() ? "" : " no notices: " + agent.notices->error()) << std::endl;
    Input input;
    for (;;) {
        pumpUntil(Clock::now() + std::chrono::hours(1), input.ready());
        std::string line;
        while (input.pop(line)) {
            std::string answer;
            if (!agent.run(line, answer))
                return 0;
            std::cout << answer << std::endl;
        }
    }
}
