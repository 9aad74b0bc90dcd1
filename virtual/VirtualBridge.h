#pragma once
// A virtual host with a virtual USB HID bridge and a KRL7741 chip behind it.
// Tests and the demo use it in place of the real host: interfaces can be
// plugged and unplugged (raising the same device notice as the operating
// system), opens and string reads can be made to fail, and the bridge can be
// made to answer badly, late or not at all.

#include "HIDapi.h"

#include <QObject>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace virtualboard {

using Report = std::vector<std::uint8_t>;

// The chip and bridge restate the protocol here on purpose, rather than use
// driver/'s and bridge/'s constants: a mistake there then shows as a
// disagreement in the tests instead of being shared by both ends.
inline constexpr std::uint8_t kAddressBT = 0x70;  // KRL7741B / KRL7741T
inline constexpr std::uint8_t kAddressC = 0x72;   // KRL7741C
inline constexpr std::uint8_t kStatusAck = 0x01;
inline constexpr std::uint8_t kStatusNack = 0xF0;

// The chip's registers as the command bytes have set them (5-bit values).
struct Registers {
    int peakCurrent = 0;
    std::array<int, 3> pwm{};
    int iStart = 0;
    int iStop = 0;
    int gdStart = 0;
    bool operator==(const Registers&) const = default;
};

// How the bridge answers an output report.
enum class ReplyShape {
    Normal,   // four bytes: id, status, the command byte echoed twice
    Short,    // only the id and the status
    Long,     // the normal four bytes followed by four more
    Garbage,  // four bytes of noise
    Late,     // the normal reply, but only after the reader has given up
    Silent,   // nothing at all
};

// One interface the virtual host lists.
struct VirtualInterface {
    std::string path;
    std::uint16_t vendorId = 0x6017;
    std::uint16_t productId = 0x0200;
    std::optional<std::u16string> product = u"KRL7741 USB-I2C Bridge";
    std::optional<std::u16string> serial = u"0001";
    std::string openError;  // when not empty, opening fails with this reason
    bool openDeniedPermission = false;
};

class VirtualBridge final : public QObject, public bridge::HIDapi {
    Q_OBJECT
public:
    explicit VirtualBridge(QObject* parent = nullptr);
    ~VirtualBridge() override;

    // The bridge of the evaluation board, as first plugged in by the demo.
    static VirtualInterface evaluationBoard();

    // HIDapi
    std::vector<bridge::HidInterface> interfaces() override;
    bridge::OpenResult open(const std::string& path) override;
    bridge::WatchResult watch(std::function<void()> onChange) override;

    // The world around the host. plug() and unplug() raise a device notice.
    void plug(const VirtualInterface& interface);
    // With notice false the interface vanishes without a device notice, as
    // when the platform's notice is lost.
    void unplug(const std::string& path, bool notice = true);
    bool isPlugged(const std::string& path) const;
    void setStrings(const std::string& path, std::optional<std::u16string> product,
                    std::optional<std::u16string> serial);
    void setOpenFailure(const std::string& path, std::string error, bool permissionDenied);

    // The chip behind every bridge: its I2C address, or none (every command NACKs).
    void setChipAddress(std::optional<std::uint8_t> address);
    std::optional<std::uint8_t> chipAddress() const { return chipAddress_; }
    void setReplyShape(ReplyShape shape);
    ReplyShape replyShape() const { return shape_; }
    // While true, every write fails as a stalled transfer does (nothing is
    // sent; the bridge is not gone).
    void setWritesFail(bool fail) { writesFail_ = fail; }
    // An input report the bridge at `path` sends of its own accord; the next
    // read that waits receives it, before the reply to the report just
    // written (a read that does not wait misses it).
    void sendDuringNextWait(const std::string& path, Report report);
    // When true (the default), a reader waiting for a reply that does not
    // come really waits out its time-out, as with real hardware.
    void setRealTime(bool realTime) { realTime_ = realTime; }
    // The clock writtenAt() reads (steady_clock's by default); tests hand it
    // one they move themselves.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    void setClock(Clock clock) { clock_ = std::move(clock); }
    std::chrono::steady_clock::time_point now() const { return clock_(); }

    // What happened. The record keeps the last kWrittenKept output reports,
    // oldest first, and when each was written.
    static constexpr std::size_t kWrittenKept = 4096;
    const std::deque<Report>& written() const { return written_; }
    const std::deque<std::chrono::steady_clock::time_point>& writtenAt() const { return writtenAt_; }
    void clearWritten()
    {
        written_.clear();
        writtenAt_.clear();
    }
    const Registers& registers() const { return registers_; }
    int openHandles() const { return openHandles_; }
    std::chrono::milliseconds lastReadTimeout() const { return lastReadTimeout_; }

signals:
    // One output report and the reply the bridge gave (empty when none).
    void exchanged(const virtualboard::Report& output, const virtualboard::Report& reply);
    void registersChanged(const virtualboard::Registers& registers);
    void plugChanged(const std::string& path, bool plugged);
    void settingsChanged();

private:
    class Device;
    friend class Device;
    struct Slot;

    void raiseNotice();
    int deviceWrite(Slot& slot, std::span<const std::uint8_t> report);
    int deviceRead(Slot& slot, std::span<std::uint8_t> report, std::chrono::milliseconds timeout);
    void applyToChip(std::uint8_t command);

    std::vector<std::shared_ptr<Slot>> slots_;
    std::map<int, std::function<void()>> watchers_;
    int nextWatcher_ = 0;
    std::optional<std::uint8_t> chipAddress_ = kAddressBT;
    ReplyShape shape_ = ReplyShape::Normal;
    bool realTime_ = true;
    bool writesFail_ = false;
    std::deque<Report> written_;
    std::deque<std::chrono::steady_clock::time_point> writtenAt_;
    Clock clock_ = [] { return std::chrono::steady_clock::now(); };
    Registers registers_;
    int openHandles_ = 0;
    std::chrono::milliseconds lastReadTimeout_{-1};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace virtualboard
