#include "RecordingHost.h"

#include <memory>
#include <optional>

namespace record {
namespace {

class Device final : public bridge::HidDevice {
public:
    Device(std::unique_ptr<bridge::HidDevice> inner, Record& record)
        : inner_(std::move(inner)), record_(record)
    {
        record_.forgetRegisters(record_.now());  // a chip just found may hold anything
    }
    // Let go of (lost, unplugged, or another bridge chosen): whatever it held
    // is no longer known.
    ~Device() override { record_.forgetRegisters(record_.now()); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // A failed write ends the exchange at once: nothing is read for it.
    int write(std::span<const std::uint8_t> report) override
    {
        finish({}, Verdict::NoAnswer);  // a report never answered by a waiting read
        pending_ = Bytes(report.begin(), report.end());
        at_ = record_.now();
        const int n = inner_->write(report);
        if (n < 0)
            finish({}, inner_->gone() ? Verdict::BridgeLost : Verdict::NoAnswer);
        return n;
    }

    // The read that waits is the one for the report written; reads that do
    // not wait (late replies discarded before a write) belong to no exchange.
    int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
    {
        const int n = inner_->read(report, timeout);
        if (n > 0) {
            Bytes reply(report.begin(), report.begin() + n);
            const Verdict verdict = verdictOf(reply);
            finish(std::move(reply), verdict);
        } else if (n < 0) {
            finish({}, inner_->gone() ? Verdict::BridgeLost : Verdict::NoAnswer);
        } else if (timeout.count() > 0) {
            finish({}, Verdict::NoAnswer);
        }
        return n;
    }
    std::optional<std::u16string> productString() override { return inner_->productString(); }
    std::optional<std::u16string> serialString() override { return inner_->serialString(); }
    bool gone() const override { return inner_->gone(); }

private:
    void finish(Bytes reply, Verdict verdict)
    {
        if (!pending_)
            return;
        Bytes sent = std::move(*pending_);
        pending_.reset();
        record_.add(at_, std::move(sent), std::move(reply), verdict);
    }

    std::unique_ptr<bridge::HidDevice> inner_;
    Record& record_;
    std::optional<Bytes> pending_;
    TimePoint at_;
};

}  // namespace

bridge::OpenResult RecordingHost::open(const std::string& path)
{
    bridge::OpenResult result = host_.open(path);
    if (result.device)
        result.device = std::make_unique<Device>(std::move(result.device), record_);
    return result;
}

}  // namespace record
