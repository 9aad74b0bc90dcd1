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
    BridgeHandle.reset();
    bridgePath_.clear();
    connected_ = false;
}

ScanResult BridgeLink::ScanForBridge()
{
    ScanResult result;
    const std::vector<HidInterface> present = host_.interfaces();
    const bool stays = connected_ && std::any_of(present.begin(), present.end(), [this](const HidInterface& i) {
        return isBridge(i) && i.path == bridgePath_;
    });
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
            }
            continue;
        }
        BridgeHandle = std::move(opened.device);
        bridgePath_ = candidate.path;
        connected_ = true;
        result = ScanResult{};
        result.state = ScanResult::State::Opened;
        result.product = clipped(BridgeHandle->productString());
        if (result.product)
            product_ = *result.product;
        result.serial = clipped(BridgeHandle->serialString());
        return result;
    }
    result.state = ScanResult::State::Disconnected;
    return result;
}

Reply BridgeLink::transact(std::uint8_t address, std::uint8_t first, std::uint8_t second)
{
    ReportBuffer[0] = kReportId;
    ReportBuffer[1] = address;
    ReportBuffer[2] = first;
    ReportBuffer[3] = second;
    const std::span<std::uint8_t> report(ReportBuffer.data(), kReportSize);

    bool lost = false;
    bool written = false;
    if (BridgeHandle) {
        std::array<std::uint8_t, kReportSize> stale{};
        for (int i = 0; i < kMaxStaleReports; ++i) {
            if (BridgeHandle->read(stale, std::chrono::milliseconds{0}) <= 0)
                break;
        }
        written = BridgeHandle->write(report) >= 0;
        if (!written)
            lost = BridgeHandle->gone();
    }

    std::fill_n(ReportBuffer.begin(), 9, std::uint8_t{0});

    // Nothing was sent when the write failed: whatever comes in now is no answer to it.
    if (written && BridgeHandle->read(report, kReplyTimeout) < 0)
        lost = BridgeHandle->gone();

    Reply reply;
    reply.status = ReportBuffer[1];
    reply.first = ReportBuffer[2];
    reply.second = ReportBuffer[3];
    reply.deviceLost = lost;
    if (lost) {
        // The handle is dead, but the bridge may already be back at the same
        // path (unplugged and replugged between two notices): look again now.
        release();
        reply.rescan = ScanForBridge();
    }
    return reply;
}

}  // namespace bridge
