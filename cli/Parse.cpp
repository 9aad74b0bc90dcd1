// Parsing krl7741's command line: every argument checked before anything is
// sent.

#include "Cli.h"
#include "Output.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <array>

#ifndef KRL_VERSION
#error "KRL_VERSION comes from the project's version (cli/CMakeLists.txt)"
#endif

namespace cli {
namespace {

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

// "127.0.0.1:5025", "[::1]:5025": something before the last colon, and a port
// (serve reads the address itself).
bool validListen(const QString& text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    return colon > 0 && ok && port <= 65535 && text.mid(colon + 1).size() <= 5;
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
        bytes.push_back({command.byte, command.description, name, *position, command.value, std::nullopt});
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
        bytes.push_back({*value, QLatin1Char('$') + driver::hexByte(*value), {}, {}, {}, {}});
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
      "  review FILE               reads a log (KRL7741AT --log) or a saved record:\n"
      "                            the failures with their times and meanings, the\n"
      "                            lines skipped (by number) and the counts\n"
      "  serve                     the chip as a SCPI instrument on a TCP socket\n"
      "                            (--listen), for VISA clients, until Ctrl-C\n"
      "\n"
      "With --json, each transaction is one line: t_ms (milliseconds since the\n"
      "command started, when the command byte was sent), sent (address and the byte\n"
      "twice), received (status and the two bytes echoed; empty when no reply\n"
      "came), verdict (acknowledged, not acknowledged, no answer, bridge lost); set\n"
      "adds control, position, value and message as the panel shows them, ramp adds\n"
      "control, level and message.\n"
      "\n"
      "review --json writes each failure as the log's line with line and message\n"
      "added, each line skipped as {\"line\",\"skipped\"}, and last the counts.\n"
      "\n"
      "Exit status: 0 all acknowledged, 1 some not acknowledged, 2 some unanswered\n"
      "or the bridge lost, 3 no bridge could be opened, 64 usage error, 65 the file\n"
      "to review holds nothing readable, 66 it cannot be read, 69 serve cannot\n"
      "listen, 130 ramp stopped with Ctrl-C.";

}  // namespace

QString versionText() { return kProgram() + QStringLiteral(" " KRL_VERSION); }

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
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Writes every report and reply on standard error, as the bus monitor traces them."));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("The ramp's step interval, 10..200 ms (default 50)."),
                                      QStringLiteral("N"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Writes one JSON object per line: per transaction its time t_ms since the command "
                       "started, the bytes sent and received and the verdict; per bridge for list."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("serve: the address and port to listen on (default 127.0.0.1:5025); an address "
                       "other than loopback lets anyone who can reach it drive the chip."),
        QStringLiteral("ADDRESS:PORT"));
    parser.addOptions({help, version, device, serial, onVirtual, trace, json, interval, listen});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, set, send, ramp, review or serve"),
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
    if (parser.isSet(version)) {
        parsed.help = versionText() + QLatin1Char('\n');
        return parsed;
    }
    try {
        Invocation inv;
        QStringList args = parser.positionalArguments();
        if (args.isEmpty())
            throw Failure{QStringLiteral("no command given (list, set, send, ramp, review, serve)")};
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
        } else if (command == QLatin1String("review")) {
            inv.command = Command::Review;
            if (args.size() != 1)
                throw Failure{args.isEmpty() ? QStringLiteral("review needs a file")
                                             : QStringLiteral("unexpected argument %1").arg(quoted(args[1]))};
            inv.file = args.front();
        } else if (command == QLatin1String("serve")) {
            inv.command = Command::Serve;
            if (!args.isEmpty())
                throw Failure{QStringLiteral("unexpected argument %1").arg(quoted(args.front()))};
        } else {
            throw Failure{QStringLiteral("unknown command %1 (list, set, send, ramp, review, serve)")
                              .arg(quoted(command))};
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
        if (parser.isSet(listen)) {
            if (inv.command != Command::Serve)
                throw Failure{QStringLiteral("--listen is for serve only")};
            inv.listen = parser.value(listen);
            if (!validListen(inv.listen))
                throw Failure{QStringLiteral("not an ADDRESS:PORT to listen on: %1").arg(quoted(inv.listen))};
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
        inv.json = parser.isSet(json);
        parsed.invocation = std::move(inv);
    } catch (const Failure& failure) {
        parsed.error = failure.message;
    }
    return parsed;
}

}  // namespace cli
