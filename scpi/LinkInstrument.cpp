#include "LinkInstrument.h"

#include <QString>

namespace scpi {

LinkInstrument::LinkInstrument(bridge::BridgeLink& link, QObject* parent) : QObject(parent), link_(link)
{
    for (auto& timer : timers_) {
        timer = std::make_unique<toolkit::Timer>(std::chrono::milliseconds(50), false, this);
    }
    ramps_ = std::make_unique<sequences::Ramps>(
        sequences::Ramps::Wiring{*timers_[0], *timers_[1], *timers_[2], [this] { return running_; },
                                 [this] { return sequence_; }, [this](std::uint8_t byte) { send(byte); }});
    connect(timers_[0].get(), &toolkit::Timer::ticked, this, [this] { ramps_->tickA(); });
    connect(timers_[1].get(), &toolkit::Timer::ticked, this, [this] { ramps_->tickB(); });
    connect(timers_[2].get(), &toolkit::Timer::ticked, this, [this] { ramps_->tickC(); });
    watch_ = link_.host().watch([this] { scan(); }).watch;
    scan();
}

LinkInstrument::~LinkInstrument() = default;

void LinkInstrument::scan() { noteScan(link_.scan()); }

void LinkInstrument::noteScan(const bridge::ScanResult& result)
{
    if (result.state == bridge::ScanResult::State::Opened)
        serial_ = result.serial ? QString::fromStdU16String(*result.serial).toStdString() : std::string();
    else if (result.state == bridge::ScanResult::State::Disconnected)
        serial_.clear();
}

bridge::Verdict LinkInstrument::set(driver::SetupControl control, int position)
{
    positions_[static_cast<std::size_t>(control)] = position;
    return send(driver::setupCommand(control, position, QLatin1Char('.')).byte);
}

int LinkInstrument::position(driver::SetupControl control) const
{
    return positions_[static_cast<std::size_t>(control)];
}

bridge::Verdict LinkInstrument::send(std::uint8_t byte)
{
    if (!link_.connected())
        scan();
    if (!link_.connected()) {
        last_ = {};
        return bridge::Verdict::NoAnswer;
    }
    const std::uint8_t address = device_ == Device::C ? driver::kAddressC : driver::kAddressBT;
    const bridge::Reply reply = link_.transact(address, byte, byte);
    last_ = {reply.verdict(), reply.status, reply.first, reply.second};
    if (reply.deviceLost)
        noteScan(reply.rescan);  // the link looked again at once
    return last_.verdict;
}

void LinkInstrument::setInterval(int ramp, std::chrono::milliseconds interval)
{
    timers_.at(static_cast<std::size_t>(ramp))->setInterval(interval);
}

std::chrono::milliseconds LinkInstrument::interval(int ramp) const
{
    return timers_.at(static_cast<std::size_t>(ramp))->interval();
}

// As a click on "Run Sequence": the sequence starts afresh, or idles.
void LinkInstrument::setRunning(bool running)
{
    if (running == running_)
        return;
    running_ = running;
    ramps_->start();
}

bool LinkInstrument::bridgeOpen()
{
    if (!link_.connected())
        scan();
    return link_.connected();
}

}  // namespace scpi
