// krl7741 performing a checked command line: the scan, one transaction per
// command byte, the ramps on the event loop, and Ctrl-C.

#include "Session.h"

#include "Interrupt.h"
#include "OpenFailure.h"
#include "Ramps.h"
#include "Timer.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>

namespace cli {
namespace {

using namespace std::chrono_literals;

// How often a ramp looks for Ctrl-C between its steps.
constexpr std::chrono::milliseconds kInterruptPoll = 20ms;

// ---------------------------------------------------------------- running

}  // namespace

Session::Session(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
    : inv_(invocation), recorded_(host, record_), link_(recorded_), out_(outputFor(invocation, out)),
      err_(err)
{
    QObject::connect(&record_, &record::Record::added, [this](const record::Exchange& exchange) {
        if (exchange.verdict == record::Verdict::Stray)
            strays_.push_back(exchange);
        else
            last_ = exchange;
        if (inv_.trace)
            err_ << record::text(exchange) << Qt::endl;
    });
    if (inv_.serial)
        link_.setSerialFilter(inv_.serial->toStdU16String());
}

int Session::run()
{
    const bridge::ScanResult scan = link_.scan();
    if (inv_.command == Command::List)
        list();
    if (!link_.connected()) {
        error(whyNoBridge(scan));
        return kExitNoBridge;
    }
    switch (inv_.command) {
    case Command::List:
        return kExitAcknowledged;
    case Command::Set:
    case Command::Send:
        for (const Byte& byte : inv_.bytes) {
            if (!exchange(byte))
                break;
        }
        return status_;
    case Command::Ramp:
        return ramp();
    case Command::Review:  // needs no bridge: execute() reads the file instead
    case Command::Serve:   // execute() serves instead
        break;
    }
    return status_;
}

void Session::error(const QString& message) { err_ << kProgram() << ": " << message << Qt::endl; }

QString Session::whyNoBridge(const bridge::ScanResult& scan)
{
    if (const std::string why = link_.host().unavailable(); !why.empty())
        return QStringLiteral("USB devices cannot be used here: %1").arg(QString::fromStdString(why));
    if (const std::string why = bridge::whyNotOpened(scan); !why.empty())
        return QString::fromStdString(why);
    if (inv_.serial)
        return QStringLiteral("no bridge with serial number %1").arg(quoted(*inv_.serial));
    return QStringLiteral("no bridge found (USB %1:%2)")
        .arg(bridge::kBridgeVendorId, 4, 16, QLatin1Char('0'))
        .arg(bridge::kBridgeProductId, 4, 16, QLatin1Char('0'));
}

void Session::list()
{
    for (const bridge::HidInterface& i : link_.host().interfaces()) {
        if (i.vendorId != bridge::kBridgeVendorId || i.productId != bridge::kBridgeProductId)
            continue;
        out_->bridge({i.path, i.vendorId, i.productId, i.product, i.serial,
                      link_.connected() && i.path == link_.path()});
    }
}

bool Session::exchange(const Byte& byte)
{
    last_.reset();
    strays_.clear();
    const bridge::Reply reply = link_.transact(inv_.address, byte.value, byte.value);
    if (!last_) {  // nothing was written: no bridge to write to
        last_.emplace();
        last_->at = record_.now();
        const bridge::Report report = bridge::outputReport(inv_.address, byte.value, byte.value);
        last_->sent.assign(report.begin(), report.end());
        last_->verdict = reply.verdict();
    }
    int status = kExitAcknowledged;
    switch (last_->verdict) {
    case record::Verdict::Acknowledged:
        break;
    case record::Verdict::NotAcknowledged:
        status = kExitNotAcknowledged;
        break;
    case record::Verdict::NoAnswer:
    case record::Verdict::BridgeLost:
        status = kExitNoAnswer;
        break;
    case record::Verdict::Stray:  // never a transaction's
        break;
    }
    status_ = std::max(status_, status);
    // In the order they came: the reports queued before the write, the
    // transaction, the reports read while it waited.
    const auto before = [this](const record::Exchange& stray) { return stray.at < last_->at; };
    const auto during = std::stable_partition(strays_.begin(), strays_.end(), before);
    for (auto s = strays_.begin(); s != during; ++s)
        out_->stray(*s, record_.origin());
    out_->transaction({*last_, record_.origin(), byte});
    for (auto s = during; s != strays_.end(); ++s)
        out_->stray(*s, record_.origin());
    if (reply.deviceLost)
        error(QStringLiteral("the bridge was lost"));
    return !reply.deviceLost;
}

namespace {

// The ramp bytes are PWM levels: named as the panel names them.
Byte rampByte(std::uint8_t value)
{
    struct Channel {
        driver::SetupControl control;
        const char* name;
    };
    static constexpr std::array<Channel, 3> kPwm{{{driver::SetupControl::PwmLed1, "pwm1"},
                                                  {driver::SetupControl::PwmLed2, "pwm2"},
                                                  {driver::SetupControl::PwmLed3, "pwm3"}}};
    const int channel = (value - driver::kPwmLed1) / (driver::kPwmLed2 - driver::kPwmLed1);
    if (value < driver::kPwmLed1 || channel > 2)
        return {value, QLatin1Char('$') + driver::hexByte(value), {}, {}, {}, {}};
    const Channel& c = kPwm[static_cast<std::size_t>(channel)];
    return {value, driver::describe(c.control, value), QString::fromLatin1(c.name), {},
            {},    value & driver::kValueMax};
}

}  // namespace

int Session::ramp()
{
    InterruptGuard ctrlC;
    toolkit::Timer a{inv_.interval, false}, b{inv_.interval, false}, c{inv_.interval, false};
    QEventLoop loop;
    bool lost = false;
    auto stop = [&] {
        for (toolkit::Timer* t : {&a, &b, &c})
            t->setEnabled(false);
        loop.quit();
    };
    sequences::Ramps ramps({a, b, c, [] { return true; },
                            [this] {
                                return inv_.sequence == Sequence::Seq1 ? sequences::Sequence::Seq1
                                    : inv_.sequence == Sequence::Seq2  ? sequences::Sequence::Seq2
                                                                       : sequences::Sequence::Seq3;
                            },
                            [&](std::uint8_t value) {
                                if (!lost && !exchange(rampByte(value))) {
                                    lost = true;
                                    stop();
                                }
                            }});
    // Each tick: Ctrl-C first, then the step, then the end when every timer has stopped.
    auto tick = [&](void (sequences::Ramps::*handler)()) {
        return [&, handler] {
            if (ctrlC.raised() || lost) {
                stop();
                return;
            }
            (ramps.*handler)();
            if (!a.enabled() && !b.enabled() && !c.enabled())
                loop.quit();
        };
    };
    QObject::connect(&a, &toolkit::Timer::ticked, &loop, tick(&sequences::Ramps::tickA));
    QObject::connect(&b, &toolkit::Timer::ticked, &loop, tick(&sequences::Ramps::tickB));
    QObject::connect(&c, &toolkit::Timer::ticked, &loop, tick(&sequences::Ramps::tickC));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ctrlC.raised())
            stop();
    });
    poll.start(kInterruptPoll);

    ramps.start();
    if (!lost && !ctrlC.raised())
        loop.exec();
    stop();
    if (lost)
        return kExitNoAnswer;
    if (ctrlC.raised()) {
        error(QStringLiteral("ramp stopped"));
        return kExitInterrupted;
    }
    return status_;
}

}  // namespace cli
