#pragma once
// The instrument without a window (krl7741 serve): the panel's controls as
// plain state over a bridge link, the ramps on timers of their own, the
// bridge followed as it comes and goes.

#include "Instrument.h"
#include "Timer.h"

#include <QObject>

#include <array>
#include <memory>

namespace scpi {

class LinkInstrument final : public QObject, public Instrument {
public:
    // `link` must outlive this; its host's device notices are followed.
    explicit LinkInstrument(bridge::BridgeLink& link, QObject* parent = nullptr);
    ~LinkInstrument() override;

    bridge::Verdict set(driver::SetupControl control, int position) override;
    int position(driver::SetupControl control) const override;
    bridge::Verdict send(std::uint8_t byte) override;
    void setDevice(Device device) override { device_ = device; }
    Device device() const override { return device_; }
    void select(sequences::Sequence sequence) override { sequence_ = sequence; }
    sequences::Sequence selected() const override { return sequence_; }
    void setInterval(int ramp, std::chrono::milliseconds interval) override;
    std::chrono::milliseconds interval(int ramp) const override;
    void setRunning(bool running) override;
    bool running() const override { return running_; }
    LastExchange last() const override { return last_; }
    bool bridgeOpen() override;
    std::string serial() const override { return serial_; }

private:
    void scan();
    void noteScan(const bridge::ScanResult& result);

    bridge::BridgeLink& link_;
    std::unique_ptr<bridge::DeviceWatch> watch_;
    std::array<int, driver::kSetupControls.size()> positions_{};
    Device device_ = Device::B;
    sequences::Sequence sequence_ = sequences::Sequence::Seq1;
    std::array<std::unique_ptr<toolkit::Timer>, 3> timers_;
    bool running_ = false;
    std::unique_ptr<sequences::Ramps> ramps_;
    LastExchange last_;
    std::string serial_;
};

}  // namespace scpi
