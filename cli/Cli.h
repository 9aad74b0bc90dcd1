#pragma once
// krl7741, the driver from the command line: parses a command line, checks
// all of it, then performs it through a host's HID services, one bridge
// transaction per command byte, exactly as the panel sends them.

#include "Commands.h"
#include "HIDapi.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cli {

// Exit statuses.
inline constexpr int kExitAcknowledged = 0;     // every command was acknowledged
inline constexpr int kExitNotAcknowledged = 1;  // one or more were not acknowledged
inline constexpr int kExitNoAnswer = 2;         // one or more went unanswered, or the bridge was lost
inline constexpr int kExitNoBridge = 3;         // no bridge could be opened
inline constexpr int kExitUsage = 64;           // the command line is wrong; nothing was sent
inline constexpr int kExitNothingRead = 65;     // review: the file holds no line that could be read
inline constexpr int kExitNoInput = 66;         // review: the file could not be read
inline constexpr int kExitCannotListen = 69;    // serve: the address cannot be listened on
inline constexpr int kExitInterrupted = 130;    // a ramp was stopped with Ctrl-C

inline constexpr std::chrono::milliseconds kDefaultInterval{50};  // the panel's ramp interval
inline constexpr int kIntervalMin = 10;
inline constexpr int kIntervalMax = 200;

enum class Command { List, Set, Send, Ramp, Review, Serve };
enum class Sequence { Seq1, Seq2, Seq3 };

// One command byte to send, and how the output names it.
struct Byte {
    std::uint8_t value = 0;
    QString description;          // the panel's message line: "PWM LED1 = $51"
    QString control;              // set, ramp: the control's name on the command line ("pwm1")
    std::optional<int> position;  // set: the track bar's position
    QString valueText;            // set: the panel's value label ("53.1%")
    std::optional<int> level;     // ramp: the PWM level the step sets
};

// A command line, checked.
struct Invocation {
    Command command = Command::List;
    std::vector<Byte> bytes;                            // set, send
    QString file;                                       // review
    QString listen = QStringLiteral("127.0.0.1:5025");  // serve: ADDRESS:PORT
    Sequence sequence = Sequence::Seq1;
    std::chrono::milliseconds interval = kDefaultInterval;
    std::uint8_t address = driver::kAddressBT;
    std::optional<QString> serial;
    bool virtualBoard = false;
    bool trace = false;
    bool json = false;  // one JSON object per line on standard output
};

struct Parsed {
    std::optional<Invocation> invocation;  // set when the command line is good
    QString error;                         // one line naming the bad argument
    QString help;                          // set when help or the version was asked for
};

// "krl7741 1.0.0"
QString versionText();

// Checks a whole command line (arguments[0] is the program).
Parsed parse(const QStringList& arguments);

// Performs a checked command line on `host`; returns the exit status.
int execute(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err);

// Reads a log or a saved record (review): prints the failures and the lines
// skipped as they come, then the counts; returns the exit status (the
// commands' statuses, for the exchanges the file holds).
int review(const Invocation& invocation, QTextStream& out, QTextStream& err);

// Serves SCPI clients on `invocation.listen` until Ctrl-C (Serve.cpp);
// returns the exit status.
int serve(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err);

// Parses, then executes on the host `hostFor` gives for the invocation
// (review needs none).
// Help goes to `out`, errors to `err`.
using HostChoice = std::function<bridge::HIDapi&(const Invocation&)>;
int run(const QStringList& arguments, const HostChoice& hostFor, QTextStream& out, QTextStream& err);
int run(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out, QTextStream& err);

// The virtual evaluation board: a virtual host with the board's bridge plugged
// in and a KRL7741B/T behind it.
std::unique_ptr<bridge::HIDapi> evaluationBoard();

}  // namespace cli
