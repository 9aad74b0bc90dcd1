#include "VirtualBridge.h"

#include <algorithm>
#include <thread>

namespace virtualboard {

struct VirtualBridge::Slot {
    VirtualInterface info;
    bool plugged = true;
    std::deque<Report> ready;    // replies waiting to be read
    std::deque<Report> late;     // replies that turn up once the reader has given up
    std::deque<Report> unasked;  // reports sent unasked, while a reader waits
};

class VirtualBridge::Device final : public bridge::HidDevice {
public:
    Device(VirtualBridge& host, std::shared_ptr<Slot> slot)
        : host_(host), alive_(host.alive_), slot_(std::move(slot))
    {
        ++host_.openHandles_;
    }
    ~Device() override
    {
        if (!alive_.expired())
            --host_.openHandles_;
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int write(std::span<const std::uint8_t> report) override
    {
        if (alive_.expired() || !slot_->plugged)
            return fail();
        return host_.deviceWrite(*slot_, report);
    }
    int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
    {
        if (alive_.expired() || !slot_->plugged)
            return fail();
        return host_.deviceRead(*slot_, report, timeout);
    }
    std::optional<std::u16string> productString() override
    {
        return slot_->plugged ? slot_->info.product : std::nullopt;
    }
    std::optional<std::u16string> serialString() override
    {
        return slot_->plugged ? slot_->info.serial : std::nullopt;
    }
    bool gone() const override { return gone_; }

private:
    int fail()
    {
        gone_ = true;
        return -1;
    }

    VirtualBridge& host_;
    std::weak_ptr<bool> alive_;
    std::shared_ptr<Slot> slot_;
    bool gone_ = false;
};

VirtualBridge::VirtualBridge(QObject* parent) : QObject(parent) {}

VirtualBridge::~VirtualBridge() { alive_.reset(); }

VirtualInterface VirtualBridge::evaluationBoard()
{
    VirtualInterface board;
    board.path = "virtual:evaluation-board";
    board.product = u"KRL7741 Evaluation Board";
    board.serial = u"EVB-0001";
    return board;
}

std::vector<bridge::HidInterface> VirtualBridge::interfaces()
{
    std::vector<bridge::HidInterface> list;
    for (const auto& slot : slots_)
        list.push_back({slot->info.path, slot->info.vendorId, slot->info.productId, slot->info.product,
                        slot->info.serial});
    return list;
}

bridge::OpenResult VirtualBridge::open(const std::string& path)
{
    bridge::OpenResult result;
    const auto it = std::find_if(slots_.begin(), slots_.end(),
                                 [&](const auto& slot) { return slot->info.path == path; });
    if (it == slots_.end()) {
        result.error = "No such device";
    } else if (!(*it)->info.openError.empty()) {
        result.error = (*it)->info.openError;
        result.permissionDenied = (*it)->info.openDeniedPermission;
    } else {
        result.device = std::make_unique<Device>(*this, *it);
    }
    return result;
}

namespace {

// Stops one watcher's notices when it goes, if the bridge is still there.
class Watch final : public bridge::DeviceWatch {
public:
    explicit Watch(std::function<void()> stop) : stop_(std::move(stop)) {}
    ~Watch() override { stop_(); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    std::function<void()> stop_;
};

}  // namespace

bridge::WatchResult VirtualBridge::watch(std::function<void()> onChange)
{
    const int id = nextWatcher_++;
    watchers_[id] = std::move(onChange);
    std::weak_ptr<bool> alive = alive_;
    return {std::make_unique<Watch>([this, id, alive] {
                if (!alive.expired())
                    watchers_.erase(id);
            }),
            {}};
}

void VirtualBridge::raiseNotice()
{
    auto callbacks = watchers_;
    for (auto& [id, callback] : callbacks)
        callback();
}

void VirtualBridge::plug(const VirtualInterface& interface)
{
    unplug(interface.path);
    auto slot = std::make_shared<Slot>();
    slot->info = interface;
    slots_.push_back(std::move(slot));
    emit plugChanged(interface.path, true);
    raiseNotice();
}

void VirtualBridge::unplug(const std::string& path, bool notice)
{
    const auto it = std::find_if(slots_.begin(), slots_.end(),
                                 [&](const auto& slot) { return slot->info.path == path; });
    if (it == slots_.end())
        return;
    (*it)->plugged = false;
    slots_.erase(it);
    emit plugChanged(path, false);
    if (notice)
        raiseNotice();
}

bool VirtualBridge::isPlugged(const std::string& path) const
{
    return std::any_of(slots_.begin(), slots_.end(),
                       [&](const auto& slot) { return slot->info.path == path; });
}

void VirtualBridge::setStrings(const std::string& path, std::optional<std::u16string> product,
                               std::optional<std::u16string> serial)
{
    for (auto& slot : slots_) {
        if (slot->info.path == path) {
            slot->info.product = std::move(product);
            slot->info.serial = std::move(serial);
        }
    }
    emit settingsChanged();
}

void VirtualBridge::setOpenFailure(const std::string& path, std::string error, bool permissionDenied)
{
    for (auto& slot : slots_) {
        if (slot->info.path == path) {
            slot->info.openError = error;
            slot->info.openDeniedPermission = permissionDenied;
        }
    }
}

void VirtualBridge::setChipAddress(std::optional<std::uint8_t> address)
{
    chipAddress_ = address;
    emit settingsChanged();
}

void VirtualBridge::setReplyShape(ReplyShape shape)
{
    shape_ = shape;
    emit settingsChanged();
}

void VirtualBridge::applyToChip(std::uint8_t command)
{
    const int value = command & 0x1F;  // bits 4..0, restated (see VirtualBridge.h)
    switch (command >> 5) {
    case 0:
        registers_.peakCurrent = 0;
        break;
    case 1:
        registers_.peakCurrent = value;
        break;
    case 2:
        registers_.pwm[0] = value;
        break;
    case 3:
        registers_.pwm[1] = value;
        break;
    case 4:
        registers_.pwm[2] = value;
        break;
    case 5:
        registers_.iStart = value;
        break;
    case 6:
        registers_.iStop = value;
        break;
    default:
        registers_.gdStart = value;
        break;
    }
    emit registersChanged(registers_);
}

void VirtualBridge::sendDuringNextWait(const std::string& path, Report report)
{
    for (auto& slot : slots_) {
        if (slot->info.path == path)
            slot->unasked.push_back(report);
    }
}

int VirtualBridge::deviceWrite(Slot& slot, std::span<const std::uint8_t> report)
{
    if (writesFail_)
        return -1;
    const Report output(report.begin(), report.end());
    if (written_.size() == kWrittenKept) {
        written_.pop_front();
        writtenAt_.pop_front();
    }
    const auto at = clock_();
    written_.push_back(output);
    writtenAt_.push_back(at);
    if (output.size() < 3 || shape_ == ReplyShape::Silent) {
        emit exchanged(output, {});
        return static_cast<int>(report.size());
    }

    const std::uint8_t address = output[1];
    const std::uint8_t command = output[2];
    const std::uint8_t echo = output.size() > 3 ? output[3] : command;
    const bool acknowledged = chipAddress_ && address == *chipAddress_;
    if (acknowledged)
        applyToChip(command);
    const std::uint8_t status = acknowledged ? kStatusAck : kStatusNack;

    Report reply;
    switch (shape_) {
    case ReplyShape::Short:
        reply = {0x00, status};
        break;
    case ReplyShape::Long:
        reply = {0x00, status, command, echo, 0xDE, 0xAD, 0xBE, 0xEF};
        break;
    case ReplyShape::Garbage:
        reply = {0x5A, 0xA5, 0x3C, 0xC3};
        break;
    default:
        reply = {0x00, status, command, echo};
        break;
    }

    if (shape_ == ReplyShape::Late) {
        slot.late.push_back(reply);
        emit exchanged(output, {});
    } else {
        slot.ready.push_back(reply);
        emit exchanged(output, reply);
    }
    return static_cast<int>(report.size());
}

int VirtualBridge::deviceRead(Slot& slot, std::span<std::uint8_t> report, std::chrono::milliseconds timeout)
{
    lastReadTimeout_ = timeout;
    // One report per read, cut to the reader's buffer.
    auto deliver = [&report](std::deque<Report>& queue) {
        const Report first = std::move(queue.front());
        queue.pop_front();
        const std::size_t n = std::min(first.size(), report.size());
        std::copy_n(first.begin(), n, report.begin());
        return static_cast<int>(n);
    };
    // A report the bridge sends of its own comes while the reader waits,
    // before the reply to the report just written.
    if (timeout.count() > 0 && !slot.unasked.empty())
        return deliver(slot.unasked);
    if (!slot.ready.empty())
        return deliver(slot.ready);
    // Nothing yet: the reader waits out its time-out, and whatever was on its
    // way arrives just after.
    if (realTime_ && timeout.count() > 0)
        std::this_thread::sleep_for(timeout);
    while (!slot.late.empty()) {
        slot.ready.push_back(std::move(slot.late.front()));
        slot.late.pop_front();
    }
    return 0;
}

}  // namespace virtualboard
