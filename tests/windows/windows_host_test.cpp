// The Windows host's parts that need no Qt, run under wine by
// scripts/check-windows: the device notice window, the hidapi host's reading
// of hidapi's errors, and the bridge link on a machine without the bridge.

#include "BridgeLink.h"
#include "DeviceNoticeWindow_win.h"
#include "HidapiHost.h"
#include "OpenFailure.h"

#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include <dbt.h>

extern "C" {
#include <hidsdi.h>
}

// The Qt side of the notices (DeviceNotice_win.cpp) needs a Qt built for
// Windows; here it is only parsed, and the host's watch() stands unused.
bridge::WatchResult bridge::watchDeviceNotices(std::function<void()>)
{
    return {nullptr, "not in this program"};
}

namespace {

using bridge::DeviceNoticeWindow;

GUID hidClass()
{
    GUID guid{};
    HidD_GetHidGuid(&guid);
    return guid;
}

// GUID_DEVINTERFACE_USB_DEVICE
constexpr GUID kUsbDeviceClass{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

DEV_BROADCAST_DEVICEINTERFACE_W interfaceOf(const GUID& guid)
{
    DEV_BROADCAST_DEVICEINTERFACE_W data{};
    data.dbcc_size = sizeof data;
    data.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    data.dbcc_classguid = guid;
    return data;
}

LRESULT notify(HWND window, WPARAM event, const void* data)
{
    return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(data));
}

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<DWORD> thread{0};
    std::function<void()> callback()
    {
        return [this] {
            ++calls;
            thread = GetCurrentThreadId();
        };
    }
};

TEST(DeviceNoticeWindow, RegistersForHidInterfaces)
{
    Counter counter;
    DeviceNoticeWindow notices(counter.callback());
    EXPECT_TRUE(notices.ok()) << notices.error();
    EXPECT_TRUE(notices.error().empty());
    ASSERT_TRUE(IsWindow(notices.window()));
    EXPECT_FALSE(IsWindowVisible(notices.window()));
    EXPECT_EQ(GetParent(notices.window()), nullptr) << "message-only windows have no parent";
    EXPECT_EQ(counter.calls, 0);
}

TEST(DeviceNoticeWindow, ArrivalAndRemovalOfAHidInterfaceCallBackOnceEach)
{
    Counter counter;
    DeviceNoticeWindow notices(counter.callback());
    ASSERT_TRUE(notices.ok()) << notices.error();
    const auto hid = interfaceOf(hidClass());

    EXPECT_EQ(notify(notices.window(), DBT_DEVICEARRIVAL, &hid), TRUE);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(notify(notices.window(), DBT_DEVICEREMOVECOMPLETE, &hid), TRUE);
    EXPECT_EQ(counter.calls, 2);
    EXPECT_EQ(counter.thread, GetCurrentThreadId());
}

TEST(DeviceNoticeWindow, IgnoresOtherClassesOtherDevicesAndOtherEvents)
{
    Counter counter;
    DeviceNoticeWindow notices(counter.callback());
    ASSERT_TRUE(notices.ok()) << notices.error();
    const HWND window = notices.window();
    const auto hid = interfaceOf(hidClass());
    const auto usb = interfaceOf(kUsbDeviceClass);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;

    notify(window, DBT_DEVICEARRIVAL, &usb);
    notify(window, DBT_DEVICEREMOVECOMPLETE, &usb);
    notify(window, DBT_DEVICEARRIVAL, &volume);
    notify(window, DBT_DEVNODES_CHANGED, nullptr);
    notify(window, DBT_DEVICEARRIVAL, nullptr);
    EXPECT_EQ(notify(window, DBT_DEVICEQUERYREMOVE, &hid), TRUE) << "never refuses a removal";
    notify(window, DBT_DEVICEQUERYREMOVEFAILED, &hid);
    notify(window, DBT_DEVICEREMOVEPENDING, &hid);
    EXPECT_EQ(counter.calls, 0);
}

TEST(DeviceNoticeWindow, ANoticeSentFromAnotherThreadCallsBackOnTheWindowsThread)
{
    Counter counter;
    DeviceNoticeWindow notices(counter.callback());
    ASSERT_TRUE(notices.ok()) << notices.error();
    const HWND window = notices.window();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        const auto hid = interfaceOf(hidClass());
        const auto usb = interfaceOf(kUsbDeviceClass);
        notify(window, DBT_DEVNODES_CHANGED, nullptr);
        notify(window, DBT_DEVICEARRIVAL, &usb);
        notify(window, DBT_DEVICEARRIVAL, &hid);
        notify(window, DBT_DEVICEREMOVECOMPLETE, &hid);
        done = true;
    });
    // A sent message is delivered while its window's thread waits for messages.
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    sender.join();
    EXPECT_EQ(counter.calls, 2);
    EXPECT_EQ(counter.thread, GetCurrentThreadId());
}

TEST(DeviceNoticeWindow, NoCallbackAfterItIsGone)
{
    Counter counter;
    auto notices = std::make_unique<DeviceNoticeWindow>(counter.callback());
    ASSERT_TRUE(notices->ok()) << notices->error();
    const HWND window = notices->window();
    notices.reset();
    EXPECT_FALSE(IsWindow(window));
    const auto hid = interfaceOf(hidClass());
    notify(window, DBT_DEVICEARRIVAL, &hid);
    EXPECT_EQ(counter.calls, 0);
}

TEST(DeviceNoticeWindow, TwoWatchersEachHearTheirOwnNoticesAndOutliveEachOther)
{
    Counter first, second;
    const auto hid = interfaceOf(hidClass());
    auto one = std::make_unique<DeviceNoticeWindow>(first.callback());
    {
        DeviceNoticeWindow two(second.callback());
        ASSERT_TRUE(one->ok()) << one->error();
        ASSERT_TRUE(two.ok()) << two.error();
        EXPECT_NE(one->window(), two.window());
        notify(one->window(), DBT_DEVICEARRIVAL, &hid);
        notify(two.window(), DBT_DEVICEARRIVAL, &hid);
        notify(two.window(), DBT_DEVICEREMOVECOMPLETE, &hid);
        EXPECT_EQ(first.calls, 1);
        EXPECT_EQ(second.calls, 2);
    }
    notify(one->window(), DBT_DEVICEREMOVECOMPLETE, &hid);
    EXPECT_EQ(first.calls, 2) << "the window class stays usable when one watcher goes";
    one.reset();
    DeviceNoticeWindow third(second.callback());
    EXPECT_TRUE(third.ok()) << third.error();
    notify(third.window(), DBT_DEVICEARRIVAL, &hid);
    EXPECT_EQ(second.calls, 3);
}

// hidapi's Windows backend words its errors "<call>: (0x%08X) <system text>".
// No code of a failed read or write settles whether the bridge has gone:
// Windows and wine give each of them for a device still there too (a
// stalled report, a handle without rights, a device being reset), so the
// host's listing always decides. Only an open's "access denied" is read.
TEST(HidFailure, EveryFailedReadOrWriteAsksTheListingAndOnlyAccessDeniedIsDenied)
{
    for (const wchar_t* message : {
             L"WriteFile: (0x0000048F) The device is not connected.",
             L"ReadFile: (0x0000048F) Das Ger\u00e4t ist nicht angeschlossen.",
             L"hid_read_timeout/GetOverlappedResult: (0x00000651) x",
             L"WriteFile: (0x000001b1) x",
             L"GetOverlappedResult: (0x0000001F) A device attached to the system is not functioning.",
             L"hid_read_timeout/GetOverlappedResult: (0x00000005) Access denied.",
             L"The device is not connected.",
             L"Success",
             static_cast<const wchar_t*>(nullptr),
         })
        EXPECT_EQ(bridge::meaningOf({0, message}), bridge::FailureMeaning::AskTheListing)
            << (message ? message : L"(none)");

    using bridge::meansDenied;
    EXPECT_TRUE(meansDenied({0, L"open_device: (0x00000005) Zugriff verweigert"}));
    EXPECT_FALSE(meansDenied({0, L"open_device: (0x00000002) Access is denied."}));
    EXPECT_FALSE(meansDenied({EACCES, nullptr}));
}

// The path of a bridge that is not plugged in.
constexpr const char* kNoSuchBridge
    = R"(\\?\hid#vid_6017&pid_0200#nothing#{4d1e55b2-f16f-11cf-88cb-001111000030})";

// A file stands for the device: Windows checks sharing alike for both.
struct HeldFile : ::testing::Test {
    std::string path;
    void SetUp() override
    {
        char folder[MAX_PATH];
        char name[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
        ASSERT_NE(GetTempFileNameA(folder, "krl", 0, name), 0u);
        path = name;
    }
    void TearDown() override { DeleteFileA(path.c_str()); }
    HANDLE open(DWORD share) const
    {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
};

TEST_F(HeldFile, HeldWithoutSharingItIsInUseAndHidapiIsNotAskedToOpenIt)
{
    const HANDLE other = open(0);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const auto claim = bridge::claimReadWrite(path);
    EXPECT_FALSE(claim.held);
    EXPECT_TRUE(claim.inUse);
    EXPECT_FALSE(claim.permissionDenied);
    EXPECT_EQ(claim.error.rfind("CreateFile: (0x00000020) ", 0), 0u) << claim.error;

    // hidapi alone would open it without rights, and fail only later, on the
    // HID calls a file does not answer: the host says who is in the way.
    bridge::HidapiHost host;
    const auto opened = host.open(path);
    EXPECT_FALSE(opened.device);
    EXPECT_TRUE(opened.inUse);
    EXPECT_EQ(opened.error, claim.error);
    CloseHandle(other);
}

TEST_F(HeldFile, SharedWithOthersItIsClaimedAndNoneCanTakeItWhileTheClaimLives)
{
    const HANDLE other = open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    {
        const auto claim = bridge::claimReadWrite(path);
        EXPECT_TRUE(claim.held);
        EXPECT_EQ(claim.error, "");
        EXPECT_FALSE(claim.inUse || claim.permissionDenied);
        EXPECT_EQ(open(0), INVALID_HANDLE_VALUE) << "another program cannot take it for itself now";
        const HANDLE reader = open(FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "but may share it";
        CloseHandle(reader);
    }
    CloseHandle(other);
    const HANDLE alone = open(0);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE) << "the claim ends with its last copy";
    CloseHandle(alone);
}

// The handle's write, on a file standing for the device: Windows completes
// that write at once (WriteFile returns TRUE), as it may a HID device's.
// hidapi 0.13.1 took every such write for a failure.
TEST_F(HeldFile, AWriteThatCompletesAtOnceIsWrittenWithItsBytes)
{
    const auto handle = bridge::ownHandle(nullptr, path);
    const std::uint8_t report[] = {0x00, 0x70, 0x45, 0x45};
    const auto end = handle->write(report);
    ASSERT_TRUE(end) << "not stalled";
    EXPECT_EQ(end->result, 4);
    EXPECT_EQ(end->message, L"");
    char bytes[8] = {};
    DWORD read = 0;
    const HANDLE file = open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &read, nullptr));
    CloseHandle(file);
    EXPECT_EQ(std::string(bytes, read), std::string("\x00\x70\x45\x45", 4));
}

// A pipe whose reader reads nothing stands for a bridge that takes no
// reports: the write waits in the system until the reader takes it.
struct StalledPipe : ::testing::Test {
    std::string path = "\\\\.\\pipe\\krl7741-stall-" + std::to_string(GetCurrentProcessId());
    HANDLE reader = INVALID_HANDLE_VALUE;
    void SetUp() override
    {
        reader = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0,
                                  nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { CloseHandle(reader); }
    // The next `n` bytes the writer sent.
    std::string take(DWORD n) const
    {
        std::string bytes(n, '\0');
        DWORD got = 0;
        return ReadFile(reader, bytes.data(), n, &got, nullptr) ? bytes.substr(0, got) : "(read failed)";
    }
};

// One stall costs one bound; the writes after it fail at once and never
// reach the device, until the stalled one has been taken. Letting the handle
// go with a write still pending ends that write, and does not wait for the
// device.
TEST_F(StalledPipe, OneStallCostsOneBoundAndLaterWritesFailAtOnceUntilItIsTaken)
{
    auto handle = bridge::ownHandle(nullptr, path);
    const std::uint8_t first[] = {0x00, 0x70, 0x41, 0x41};
    const std::uint8_t second[] = {0x00, 0x70, 0x42, 0x42};
    const std::uint8_t third[] = {0x00, 0x70, 0x43, 0x43};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle->write(first)) << "stalled";
    EXPECT_GE(std::chrono::steady_clock::now() - start, bridge::kWriteBound);
    EXPECT_FALSE(handle->write(second)) << "still stalled";
    EXPECT_EQ(take(4), std::string("\x00\x70\x41\x41", 4)) << "the first was taken late, and only it";

    std::string taken;
    std::thread device([&] { taken = take(4); });
    std::optional<bridge::WriteEnd> end;
    for (int tries = 0; tries < 100 && !end; ++tries, Sleep(10))
        end = handle->write(third);  // the write taken late ends in the system's time
    device.join();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, 4);
    EXPECT_EQ(taken, std::string("\x00\x70\x43\x43", 4)) << "the second never went out";

    EXPECT_FALSE(handle->write(first)) << "stalled again";
    handle.reset();  // cancels it, and returns once it has ended
}

TEST(ReadWriteClaim, APathThatIsNotThereIsRefusedWithItsCodeAlone)
{
    const auto claim = bridge::claimReadWrite(kNoSuchBridge);
    EXPECT_FALSE(claim.held);
    EXPECT_EQ(claim.error.rfind("CreateFile: (0x", 0), 0u) << claim.error;
    EXPECT_FALSE(claim.inUse || claim.permissionDenied);
}

TEST(HidapiHost, SaysWhetherHidapiStartedListsAndFailsToOpenAPathThatIsNotThere)
{
    bridge::HidapiHost host;
    // hidapi looks up its functions in hid.dll and cfgmgr32.dll; where one is
    // missing (wine lacks some), the host says so instead of carrying on.
    if (hid_init() == 0)
        EXPECT_EQ(host.unavailable(), "");
    else
        EXPECT_NE(host.unavailable().find("resolve DLL functions: (0x"), std::string::npos)
            << host.unavailable();
    for (const auto& i : host.interfaces())
        EXPECT_FALSE(i.path.empty());
    const auto opened = host.open(kNoSuchBridge);
    EXPECT_FALSE(opened.device);
    EXPECT_NE(opened.error.find(": (0x"), std::string::npos) << opened.error;
    EXPECT_FALSE(opened.permissionDenied);
}

// What the panel and krl7741 say when the bridge cannot be opened, in
// Windows' terms: nothing of Linux' udev.
TEST(BridgeLink, ABridgeThatCannotBeOpenedIsExplainedInWindowsTerms)
{
    bridge::ScanResult scan;
    scan.openFailure = "CreateFile: (0x00000005) x";
    scan.permissionDenied = true;
    const std::string denied = bridge::whyNotOpened(scan);
    EXPECT_NE(denied.find("access to it is denied (CreateFile: (0x00000005) x)"), std::string::npos)
        << denied;
    EXPECT_EQ(denied.find("udev"), std::string::npos) << denied;
}

TEST(BridgeLink, WithTheRealHostAndNoBridgeStaysDisconnected)
{
    bridge::HidapiHost host;
    bridge::BridgeLink link(host);
    const auto scan = link.scan();
    EXPECT_EQ(scan.state, bridge::ScanResult::State::Disconnected);
    EXPECT_FALSE(link.connected());
    const auto reply = link.transact(0x70, 0x45, 0x45);
    EXPECT_EQ(reply.outcome(), bridge::Outcome::NoAnswer);
}

}  // namespace
