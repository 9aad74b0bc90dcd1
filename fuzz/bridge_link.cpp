// The bridge link's scan and transaction on a fake host whose every answer
// comes from the fuzz input: the interface list, open failures, product and
// serial strings (of any length, NULs included), write results, read results
// (timeouts, failures, short, long and garbage reports) and devices that go.
// Checked after every call:
//   - at most one handle is open at any time;
//   - a reply uses no more than the four bytes of one input report, the last
//     one read, and only when it echoes the command;
//   - a command waits once, and once more for each report it reads past as
//     not its own (at most kMaxStrayReports), never longer than kReplyTimeout;
//   - a device found gone is released before the call returns;
//   - a failed write is never shown as acknowledged.

#include "BridgeLink.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define check(condition) ((condition) ? void() : broken(#condition, __LINE__))

namespace {

[[noreturn]] void broken(const char* what, int line)
{
    std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
    std::abort();
}

struct Call {
    int writes = 0;
    int failedWrites = 0;
    int waits = 0;                         // reads with a time-out above zero
    std::chrono::milliseconds longest{0};  // the longest such time-out
    bool sawGone = false;                  // a device said it is gone
    std::vector<std::uint8_t> lastReply;   // bytes the last read placed
    int lastReplyCount = 0;
};

class FakeHost;

class FakeDevice final : public bridge::HidDevice {
public:
    FakeDevice(FakeHost& host, int id);
    ~FakeDevice() override;
    int write(std::span<const std::uint8_t> report) override;
    int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override;
    std::optional<std::u16string> productString() override;
    std::optional<std::u16string> serialString() override;
    bool gone() const override { return gone_; }

    int id() const { return id_; }

private:
    std::optional<std::u16string> string();
    int fail();

    FakeHost& host_;
    int id_;
    bool gone_ = false;
};

class FakeHost final : public bridge::HIDapi {
public:
    explicit FakeHost(FuzzedDataProvider& in) : in(in) {}

    std::vector<bridge::HidInterface> interfaces() override
    {
        listed.clear();
        const auto count = in.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < count; ++i) {
            bridge::HidInterface item;
            // Few distinct paths, so the same one is seen again; NULs allowed.
            item.path = in.ConsumeBool()
                ? std::string(1, static_cast<char>('a' + in.ConsumeIntegralInRange<int>(0, 2)))
                : in.ConsumeRandomLengthString(12);
            const bool bridgeIds = in.ConsumeIntegralInRange<int>(0, 3) != 0;
            item.vendorId = bridgeIds ? bridge::kBridgeVendorId : in.ConsumeIntegral<std::uint16_t>();
            item.productId = bridgeIds ? bridge::kBridgeProductId : in.ConsumeIntegral<std::uint16_t>();
            listed.push_back(item);
        }
        return listed;
    }

    bridge::OpenResult open(const std::string& path) override
    {
        // Only a listed interface with the bridge's ids is ever opened.
        check(std::any_of(listed.begin(), listed.end(), [&](const bridge::HidInterface& i) {
            return i.path == path && i.vendorId == bridge::kBridgeVendorId
                && i.productId == bridge::kBridgeProductId;
        }));
        bridge::OpenResult result;
        if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
            result.error = in.ConsumeRandomLengthString(40);
            result.permissionDenied = in.ConsumeBool();
            return result;
        }
        check(open_ == 0);  // the link lets go of a handle before it opens another
        result.device = std::make_unique<FakeDevice>(*this, ++lastId);
        return result;
    }

    bridge::WatchResult watch(std::function<void()>) override { return {}; }

    FuzzedDataProvider& in;
    std::vector<bridge::HidInterface> listed;
    Call call;
    int open_ = 0;
    int lastId = 0;
    bool currentGone = false;  // the open device has said it is gone
};

FakeDevice::FakeDevice(FakeHost& host, int id) : host_(host), id_(id)
{
    ++host_.open_;
    host_.currentGone = false;
}

FakeDevice::~FakeDevice()
{
    --host_.open_;
    host_.currentGone = false;
}

int FakeDevice::fail()
{
    if (gone_ || host_.in.ConsumeBool()) {
        gone_ = true;
        host_.currentGone = true;
        host_.call.sawGone = true;
    }
    return -1;
}

int FakeDevice::write(std::span<const std::uint8_t> report)
{
    ++host_.call.writes;
    check(report.size() == bridge::kReportSize);
    if (gone_ || host_.in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        ++host_.call.failedWrites;
        return fail();
    }
    return static_cast<int>(report.size());
}

int FakeDevice::read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout)
{
    check(timeout.count() >= 0);  // never an endless wait
    check(report.size() <= bridge::kReportSize);
    if (timeout.count() > 0) {
        ++host_.call.waits;
        host_.call.longest = std::max(host_.call.longest, timeout);
    }
    if (gone_)
        return fail();
    switch (host_.in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        return fail();
    case 1:
        return 0;  // nothing in time
    default:
        break;
    }
    // A report of any length; only what fits is placed, the count may claim more.
    const auto claimed = host_.in.ConsumeIntegralInRange<int>(1, 16);
    const std::vector<std::uint8_t> bytes = host_.in.ConsumeBytes<std::uint8_t>(report.size());
    std::copy(bytes.begin(), bytes.end(), report.begin());
    host_.call.lastReply.assign(bytes.begin(), bytes.end());  // the reply is the last report read
    host_.call.lastReplyCount = static_cast<int>(bytes.size());
    return host_.in.ConsumeBool() ? static_cast<int>(bytes.size()) : claimed;
}

std::optional<std::u16string> FakeDevice::string()
{
    if (host_.in.ConsumeIntegralInRange<int>(0, 4) == 0)
        return std::nullopt;
    const std::string raw = host_.in.ConsumeRandomLengthString(host_.in.ConsumeBool() ? 16 : 2000);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i])
                                             | static_cast<unsigned char>(raw[i + 1]) << 8));
    return text;
}

std::optional<std::u16string> FakeDevice::productString() { return string(); }
std::optional<std::u16string> FakeDevice::serialString() { return string(); }

void checkShown(const std::optional<std::u16string>& text)
{
    if (text)
        check(text->size() <= 256 && text->find(u'\0') == std::u16string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    FakeHost host(in);
    {
        bridge::BridgeLink link(host);
        for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
            host.call = Call{};
            if (in.ConsumeIntegralInRange<int>(0, 2) == 0) {
                const bridge::ScanResult scan = link.scan();
                checkShown(scan.product);
                checkShown(scan.serial);
                check(link.connected() == (scan.state != bridge::ScanResult::State::Disconnected));
            } else {
                const auto address = in.ConsumeIntegral<std::uint8_t>();
                const auto first = in.ConsumeIntegral<std::uint8_t>();
                const auto second = in.ConsumeIntegral<std::uint8_t>();
                const bridge::Reply reply = link.transact(address, first, second);

                check(host.call.waits <= 1 + reply.strays && reply.strays <= bridge::kMaxStrayReports);
                check(host.call.longest <= bridge::kReplyTimeout);
                if (host.call.failedWrites > 0 && host.call.writes == host.call.failedWrites)
                    check(reply.outcome() != bridge::Outcome::Acknowledged);
                // A reply is the command's own: it echoes both bytes, and what
                // the last report read placed is what it shows.
                if (reply.outcome() == bridge::Outcome::Acknowledged || reply.status != 0) {
                    const auto& placed = host.call.lastReply;
                    check(host.call.writes > 0 && reply.first == first && reply.second == second);
                    check(placed.size() < 2 || placed[1] == reply.status);
                    check(placed.size() < 4 || (placed[2] == first && placed[3] == second));
                }
                if (host.call.sawGone)
                    check(reply.deviceLost);
                checkShown(reply.rescan.product);
                checkShown(reply.rescan.serial);
            }
            check(host.open_ <= 1);
            check(link.connected() == (host.open_ == 1));
            if (host.call.sawGone)
                check(!host.currentGone);  // the gone device was released in the same call
        }
    }
    check(host.open_ == 0);
    return 0;
}
