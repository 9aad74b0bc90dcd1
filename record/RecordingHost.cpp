#include "RecordingHost.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

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
    ~Device() override
    {
        finish({}, Verdict::NoAnswer);
        record_.forgetRegisters(record_.now());
    }
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

    // A report that answers the one written (bridge::answers) ends its
    // exchange; any other is a stray, noted after the exchange it came during
    // (or at once, between exchanges). A read that finds nothing ends the
    // wait: the report written went unanswered.
    int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
    {
        const int n = inner_->read(report, timeout);
        if (n > 0) {
            Bytes input(report.begin(), report.begin() + n);
            if (pending_ && bridge::answers(input, *pending_)) {
                const Verdict verdict = verdictOf(input);
                finish(std::move(input), verdict);
            } else if (pending_) {
                strays_.push_back({record_.now(), std::move(input)});
            } else {
                record_.add(record_.now(), {}, std::move(input), Verdict::Stray);
            }
        } else {
            finish({}, n < 0 && inner_->gone() ? Verdict::BridgeLost : Verdict::NoAnswer);
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
        for (auto& [at, input] : strays_)
            record_.add(at, {}, std::move(input), Verdict::Stray);
        strays_.clear();
    }

    std::unique_ptr<bridge::HidDevice> inner_;
    Record& record_;
    std::optional<Bytes> pending_;
    TimePoint at_;
    std::vector<std::pair<TimePoint, Bytes>> strays_;  // read while pending_ waited
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
