#include "Cli.h"

#include "BridgeLink.h"
#include "Commands.h"
#include "Ramps.h"
#include "Timer.h"
#include "Trace.h"
#include "VirtualBridge.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <array>
#include <csignal>

namespace cli {
namespace {

using namespace std::chrono_literals;

const QString kProgram = QStringLiteral("krl7741");
const QString kUdevRule = QStringLiteral("70-krl7741-bridge.rules");

// How often a ramp looks for Ctrl-C between its steps.
constexpr std::chrono::milliseconds kInterruptPoll = 20ms;

// ---------------------------------------------------------------- parsing

struct SetupName {
    const char* name;
    driver::SetupControl control;
};

constexpr std::array<SetupName, 7> kSetupNames{{
    {"peak", driver::SetupControl::IledPeak},
    {"pwm1", driver::SetupControl::PwmLed1},
    {"pwm2", driver::SetupControl::PwmLed2},
    {"pwm3", driver::SetupControl::PwmLed3},
    {"istart", driver::SetupControl::IledUp},
    {"istop", driver::SetupControl::IledDown},
    {"gdstart", driver::SetupControl::GdStart},
}};
constexpr int kPositionMax = 30;

QString quoted(const QString& text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

// Digits only: no sign, no blanks. nullopt when not, or when above `max`.
std::optional<int> decimal(const QString& text, int max)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,4}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    return value <= max ? std::optional<int>(value) : std::nullopt;
}

// 0xNN (one or two hex digits, either case) or a decimal 0..255.
std::optional<std::uint8_t> byteValue(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]{1,2})$"));
    if (const auto m = hex.match(text); m.hasMatch())
        return static_cast<std::uint8_t>(m.captured(1).toUInt(nullptr, 16));
    if (const auto value = decimal(text, 0xFF))
        return static_cast<std::uint8_t>(*value);
    return std::nullopt;
}

struct Failure {
    QString message;
};

std::vector<Byte> setBytes(const QStringList& pairs)
{
    if (pairs.isEmpty())
        throw Failure{QStringLiteral("set needs NAME=POSITION pairs")};
    std::vector<Byte> bytes;
    for (const QString& pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq < 0)
            throw Failure{QStringLiteral("not a NAME=POSITION pair: %1").arg(quoted(pair))};
        const QString name = pair.left(eq);
        const auto row = std::find_if(kSetupNames.begin(), kSetupNames.end(),
                                      [&](const SetupName& n) { return name == QLatin1String(n.name); });
        if (row == kSetupNames.end())
            throw Failure{
                QStringLiteral("unknown name %1 in %2 (peak, pwm1, pwm2, pwm3, istart, istop, gdstart)")
                    .arg(quoted(name), quoted(pair))};
        const auto position = decimal(pair.mid(eq + 1), kPositionMax);
        if (!position)
            throw Failure{QStringLiteral("position not in 0..30 in %1").arg(quoted(pair))};
        const driver::SetupCommand command = driver::setupCommand(row->control, *position, QLatin1Char('.'));
        bytes.push_back({command.byte, command.description});
    }
    return bytes;
}

std::vector<Byte> sendBytes(const QStringList& texts)
{
    if (texts.isEmpty())
        throw Failure{QStringLiteral("send needs command bytes")};
    std::vector<Byte> bytes;
    for (const QString& text : texts) {
        const auto value = byteValue(text);
        if (!value)
            throw Failure{QStringLiteral("not a byte: %1 (0x00..0xFF or 0..255)").arg(quoted(text))};
        bytes.push_back({*value, QLatin1Char('$') + driver::hexByte(*value)});
    }
    return bytes;
}

Sequence sequenceNamed(const QStringList& args)
{
    if (args.size() != 1)
        throw Failure{args.isEmpty() ? QStringLiteral("ramp needs a sequence: seq1, seq2 or seq3")
                                     : QStringLiteral("unexpected argument %1").arg(quoted(args[1]))};
    const QString& name = args.front();
    if (name == QLatin1String("seq1"))
        return Sequence::Seq1;
    if (name == QLatin1String("seq2"))
        return Sequence::Seq2;
    if (name == QLatin1String("seq3"))
        return Sequence::Seq3;
    throw Failure{QStringLiteral("unknown sequence %1 (seq1, seq2, seq3)").arg(quoted(name))};
}

const char* const kDescription
    = "The KRL7741 LED driver from the command line, through its USB HID bridge.\n"
      "\n"
      "Commands:\n"
      "  list                      bridges present; * marks the one that would be used\n"
      "  set NAME=POSITION...      one transaction each, in the order given; names\n"
      "                            peak, pwm1, pwm2, pwm3, istart, istop, gdstart;\n"
      "                            positions 0..30, as on the panel's track bars\n"
      "  send BYTE...              raw command bytes (0xNN or 0..255), each sent as\n"
      "                            both bytes of one report\n"
      "  ramp seq1|seq2|seq3       plays the ramp sequence as the panel does\n"
      "\n"
      "Exit status: 0 all acknowledged, 1 some not acknowledged, 2 some unanswered\n"
      "or the bridge lost, 3 no bridge could be opened, 64 usage error, 130 ramp\n"
      "stopped with Ctrl-C.";

// ---------------------------------------------------------------- trace

// Writes every output report and the reply read for it, in the trace format
// of the evaluation board window.
class TracingHost final : public bridge::HIDapi {
public:
    TracingHost(bridge::HIDapi& host, QTextStream& err) : host_(host), err_(err) {}

    std::vector<bridge::HidInterface> interfaces() override { return host_.interfaces(); }
    bridge::OpenResult open(const std::string& path) override
    {
        bridge::OpenResult result = host_.open(path);
        if (result.device)
            result.device = std::make_unique<Device>(std::move(result.device), err_);
        return result;
    }
    bridge::WatchResult watch(std::function<void()> onChange) override
    {
        return host_.watch(std::move(onChange));
    }
    std::string unavailable() const override { return host_.unavailable(); }

private:
    class Device final : public bridge::HidDevice {
    public:
        Device(std::unique_ptr<bridge::HidDevice> inner, QTextStream& err)
            : inner_(std::move(inner)), err_(err)
        {
        }

        int write(std::span<const std::uint8_t> report) override
        {
            pending_ = virtualboard::Report(report.begin(), report.end());
            const int n = inner_->write(report);
            if (n < 0)
                finish({});
            return n;
        }
        int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
        {
            const int n = inner_->read(report, timeout);
            if (n > 0)
                finish(virtualboard::Report(report.begin(), report.begin() + n));
            else if (n < 0 || timeout.count() > 0)
                finish({});
            return n;
        }
        std::optional<std::u16string> productString() override { return inner_->productString(); }
        std::optional<std::u16string> serialString() override { return inner_->serialString(); }
        bool gone() const override { return inner_->gone(); }

    private:
        // One line per output report; a reply read with no report waiting
        // (a late one, discarded) has no line.
        void finish(const virtualboard::Report& reply)
        {
            if (!pending_)
                return;
            err_ << virtualboard::traceLine(*pending_, reply, virtualboard::verdictOf(reply)) << Qt::endl;
            pending_.reset();
        }

        std::unique_ptr<bridge::HidDevice> inner_;
        QTextStream& err_;
        std::optional<virtualboard::Report> pending_;
    };

    bridge::HIDapi& host_;
    QTextStream& err_;
};

// ---------------------------------------------------------------- Ctrl-C

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// Catches Ctrl-C while it lives; the previous handling comes back after.
class InterruptGuard {
public:
    InterruptGuard()
    {
        interrupted = 0;
        previous_ = std::signal(SIGINT, onInterrupt);
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool raised() const { return interrupted != 0; }

private:
    void (*previous_)(int) = SIG_DFL;
};

// ---------------------------------------------------------------- running

QString hex(std::uint8_t value) { return driver::hexByte(value); }

class Session {
public:
    Session(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
        : inv_(invocation), link_(host), out_(out), err_(err)
    {
        if (inv_.serial)
            link_.setSerialFilter(inv_.serial->toStdU16String());
    }

    int run()
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
        }
        return status_;
    }

private:
    void error(const QString& message) { err_ << kProgram << ": " << message << Qt::endl; }

    QString whyNoBridge(const bridge::ScanResult& scan)
    {
        if (const std::string why = link_.host().unavailable(); !why.empty())
            return QStringLiteral("USB devices cannot be used here: %1").arg(QString::fromStdString(why));
        if (scan.permissionDenied)
            return QStringLiteral("the bridge is plugged in, but this user may not open it (%1); "
                                  "install the udev rule %2 and plug the bridge in again")
                .arg(QString::fromStdString(scan.openFailure), kUdevRule);
        if (!scan.openFailure.empty())
            return QStringLiteral("the bridge is plugged in, but cannot be opened: %1")
                .arg(QString::fromStdString(scan.openFailure));
        if (inv_.serial)
            return QStringLiteral("no bridge with serial number %1").arg(quoted(*inv_.serial));
        return QStringLiteral("no bridge found (USB %1:%2)")
            .arg(bridge::kBridgeVendorId, 4, 16, QLatin1Char('0'))
            .arg(bridge::kBridgeProductId, 4, 16, QLatin1Char('0'));
    }

    void list()
    {
        for (const bridge::HidInterface& i : link_.host().interfaces()) {
            if (i.vendorId != bridge::kBridgeVendorId || i.productId != bridge::kBridgeProductId)
                continue;
            const bool used = link_.connected() && i.path == link_.path();
            out_ << (used ? "* " : "  ") << QString::fromStdString(i.path)
                 << QStringLiteral("  %1:%2")
                        .arg(i.vendorId, 4, 16, QLatin1Char('0'))
                        .arg(i.productId, 4, 16, QLatin1Char('0'))
                 << "  product " << text(i.product) << "  serial " << text(i.serial) << Qt::endl;
        }
    }

    static QString text(const std::optional<std::u16string>& s)
    {
        return s ? QLatin1Char('"') + QString::fromStdU16String(*s) + QLatin1Char('"')
                 : QStringLiteral("unknown");
    }

    // One transaction and its line. False once the bridge is lost.
    bool exchange(const Byte& byte)
    {
        const bridge::Reply reply = link_.transact(inv_.address, byte.value, byte.value);
        QString verdict;
        int status = kExitAcknowledged;
        switch (reply.outcome()) {
        case bridge::Outcome::Acknowledged:
            verdict = QStringLiteral("acknowledged");
            break;
        case bridge::Outcome::NotAcknowledged:
            verdict = QStringLiteral("not acknowledged");
            status = kExitNotAcknowledged;
            break;
        case bridge::Outcome::NoAnswer:
            verdict = QStringLiteral("no answer");
            status = kExitNoAnswer;
            break;
        }
        if (reply.deviceLost) {
            verdict += QStringLiteral(" (bridge lost)");
            status = kExitNoAnswer;
        }
        status_ = std::max(status_, status);
        out_ << QStringLiteral("%1: sent %2 %3 %3, reply %4 %5 %6, %7")
                    .arg(byte.description, hex(inv_.address), hex(byte.value), hex(reply.status),
                         hex(reply.first), hex(reply.second), verdict)
             << Qt::endl;
        if (reply.deviceLost)
            error(QStringLiteral("the bridge was lost"));
        return !reply.deviceLost;
    }

    // The ramp bytes are PWM levels: named as the panel names them.
    static Byte rampByte(std::uint8_t value)
    {
        static constexpr std::array<driver::SetupControl, 3> kPwm{
            driver::SetupControl::PwmLed1, driver::SetupControl::PwmLed2, driver::SetupControl::PwmLed3};
        const int channel = (value - driver::kPwmLed1) / (driver::kPwmLed2 - driver::kPwmLed1);
        if (channel < 0 || channel > 2)
            return {value, QLatin1Char('$') + hex(value)};
        return {value, driver::describe(kPwm[static_cast<std::size_t>(channel)], value)};
    }

    int ramp()
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

    const Invocation& inv_;
    bridge::BridgeLink link_;
    QTextStream& out_;
    QTextStream& err_;
    int status_ = kExitAcknowledged;
};

}  // namespace

Parsed parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("The chip: b or t (KRL7741B/T at $70, the default) or c (KRL7741C at $72)."),
        QStringLiteral("b|t|c"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Uses the bridge with this serial number."),
                                    QStringLiteral("S"));
    const QCommandLineOption onVirtual(
        QStringLiteral("virtual"), QStringLiteral("Uses the virtual evaluation board instead of hardware."));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Writes every report and reply on standard error."));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("The ramp's step interval, 10..200 ms (default 50)."),
                                      QStringLiteral("N"));
    parser.addOptions({help, device, serial, onVirtual, trace, interval});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, set, send or ramp"),
                                 QStringLiteral("COMMAND [ARGUMENT...]"));

    Parsed parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(help)) {
        parsed.help = parser.helpText();
        return parsed;
    }
    try {
        Invocation inv;
        QStringList args = parser.positionalArguments();
        if (args.isEmpty())
            throw Failure{QStringLiteral("no command given (list, set, send, ramp)")};
        const QString command = args.takeFirst();
        if (command == QLatin1String("list")) {
            inv.command = Command::List;
            if (!args.isEmpty())
                throw Failure{QStringLiteral("unexpected argument %1").arg(quoted(args.front()))};
        } else if (command == QLatin1String("set")) {
            inv.command = Command::Set;
            inv.bytes = setBytes(args);
        } else if (command == QLatin1String("send")) {
            inv.command = Command::Send;
            inv.bytes = sendBytes(args);
        } else if (command == QLatin1String("ramp")) {
            inv.command = Command::Ramp;
            inv.sequence = sequenceNamed(args);
        } else {
            throw Failure{QStringLiteral("unknown command %1 (list, set, send, ramp)").arg(quoted(command))};
        }

        if (parser.isSet(interval)) {
            if (inv.command != Command::Ramp)
                throw Failure{QStringLiteral("--interval is for ramp only")};
            const auto ms = decimal(parser.value(interval), kIntervalMax);
            if (!ms || *ms < kIntervalMin)
                throw Failure{
                    QStringLiteral("interval not in 10..200: %1").arg(quoted(parser.value(interval)))};
            inv.interval = std::chrono::milliseconds(*ms);
        }
        if (parser.isSet(device)) {
            const QString chip = parser.value(device).toLower();
            if (chip == QLatin1String("b") || chip == QLatin1String("t"))
                inv.address = driver::kAddressBT;
            else if (chip == QLatin1String("c"))
                inv.address = driver::kAddressC;
            else
                throw Failure{
                    QStringLiteral("unknown device %1 (b, t or c)").arg(quoted(parser.value(device)))};
        }
        if (parser.isSet(serial))
            inv.serial = parser.value(serial);
        inv.virtualBoard = parser.isSet(onVirtual);
        inv.trace = parser.isSet(trace);
        parsed.invocation = std::move(inv);
    } catch (const Failure& failure) {
        parsed.error = failure.message;
    }
    return parsed;
}

int execute(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
{
    if (invocation.trace) {
        TracingHost traced(host, err);
        return Session(invocation, traced, out, err).run();
    }
    return Session(invocation, host, out, err).run();
}

int run(const QStringList& arguments, const HostChoice& hostFor, QTextStream& out, QTextStream& err)
{
    const Parsed parsed = parse(arguments);
    if (!parsed.help.isEmpty()) {
        out << parsed.help << Qt::flush;
        return kExitAcknowledged;
    }
    if (!parsed.invocation) {
        err << kProgram << ": " << parsed.error << Qt::endl;
        return kExitUsage;
    }
    return execute(*parsed.invocation, hostFor(*parsed.invocation), out, err);
}

int run(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
{
    return run(
        arguments, [&host](const Invocation&) -> bridge::HIDapi& { return host; }, out, err);
}

std::unique_ptr<bridge::HIDapi> evaluationBoard()
{
    auto board = std::make_unique<virtualboard::VirtualBridge>();
    board->plug(virtualboard::VirtualBridge::evaluationBoard());
    return board;
}

}  // namespace cli
