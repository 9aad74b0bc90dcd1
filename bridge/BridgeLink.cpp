#include "BridgeLink.h"

#include <algorithm>

namespace bridge {
namespace {

// Product and serial strings are shown up to their first NUL, 256 characters at most.
constexpr std::size_t kMaxStringChars = 256;

std::optional<std::u16string> clipped(std::optional<std::u16string> text)
{
    if (text) {
        const auto nul = text->find(u'\0');
        text->resize(std::min({nul, text->size(), kMaxStringChars}));
    }
    return text;
}

}  // namespace

bool BridgeLink::isBridge(const HidInterface& i) const
{
    return i.vendorId == kBridgeVendorId && i.productId == kBridgeProductId
        && (!serialFilter_ || i.serial == serialFilter_);
}

void BridgeLink::release()
{
    device_.reset();
    bridgePath_.clear();
    connected_ = false;
}

ScanResult BridgeLink::scan()
{
    ScanResult result;
    const std::vector<HidInterface> present = host_.interfaces();
    const bool stays = connected_
        && std::any_of(present.begin(), present.end(),
                       [this](const HidInterface& i) { return isBridge(i) && i.path == bridgePath_; });
    if (stays) {
        result.state = ScanResult::State::StillOpen;
        return result;
    }

    // The bridge has gone, or none was open: let go of the old handle before
    // opening a new one. The first bridge in listing order that opens wins.
    release();
    for (const HidInterface& candidate : present) {
        if (!isBridge(candidate))
            continue;
        OpenResult opened = host_.open(candidate.path);
        if (!opened.device) {
            if (result.openFailure.empty()) {
                result.openFailure = opened.error;
                result.permissionDenied = opened.permissionDenied;
                result.inUse = opened.inUse;
            }
            continue;
        }
        device_ = std::move(opened.device);
        bridgePath_ = candidate.path;
        connected_ = true;
        result = ScanResult{};
        result.state = ScanResult::State::Opened;
        result.product = clipped(device_->productString());
        result.serial = clipped(device_->serialString());
        return result;
    }
    result.state = ScanResult::State::Disconnected;
    return result;
}

Reply BridgeLink::transact(std::uint8_t address, std::uint8_t first, std::uint8_t second)
{
    const Report output = outputReport(address, first, second);
    std::copy(output.begin(), output.end(), reportBuffer_.begin());
    const std::span<std::uint8_t> report(reportBuffer_.data(), kReportSize);

    bool lost = false;
    bool written = false;
    int strays = 0;
    if (device_) {
        // Whatever is queued now answers an earlier command, or none.
        for (; strays < kMaxStrayReports; ++strays) {
            std::array<std::uint8_t, kReportSize> stale{};
            if (device_->read(stale, std::chrono::milliseconds{0}) <= 0)
                break;
        }
        written = device_->write(report) >= 0;
        if (!written)
            lost = device_->gone();
    }

    std::fill_n(reportBuffer_.begin(), 9, std::uint8_t{0});  // see reportBuffer_

    // Nothing was sent when the write failed: whatever comes in now is no answer to it.
    const auto until = std::chrono::steady_clock::now() + kReplyTimeout;
    bool own = false;
    while (written && strays < kMaxStrayReports) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const int n = device_->read(report, std::max(left, std::chrono::milliseconds{0}));
        if (n < 0)
            lost = device_->gone();
        if (n <= 0)
            break;
        // A host that claims more than the report holds brought no more than that.
        own = answers(report.first(std::min(static_cast<std::size_t>(n), report.size())), output);
        if (own)
            break;
        ++strays;  // another command's reply, or none's
    }
    if (!own)
        std::fill_n(reportBuffer_.begin(), 9, std::uint8_t{0});  // no answer of its own came

    Reply reply;
    reply.status = reportBuffer_[1];
    reply.first = reportBuffer_[2];
    reply.second = reportBuffer_[3];
    reply.deviceLost = lost;
    reply.strays = strays;
    if (lost) {
        // The handle is dead, but the bridge may already be back at the same
        // path (unplugged and replugged between two notices): look again now.
        release();
        reply.rescan = scan();
    }
    return reply;
}

}  // namespace bridge
