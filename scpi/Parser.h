#pragma once
// Reading SCPI program messages: one message (a line without its terminator)
// split into commands at `;`, each header resolved to its full path by the
// header-path rule (a command after `;` starts where the one before it ended,
// a leading `:` starts at the root, common commands change nothing), its
// parameters split at commas outside quoted strings. Qt-free, so a fuzz
// target can run it alone.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// A SCPI-99 error: its code and text ("-113", "Undefined header").
struct Error {
    int code = 0;
    std::string text;
};

inline constexpr int kSyntaxError = -102;
inline constexpr int kDataTypeError = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kTooMuchData = -223;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kHardwareError = -240;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kQueueOverflow = -350;

// The standard text of one of the codes above.
Error error(int code);

struct Command {
    bool common = false;                  // an IEEE 488.2 command: "*IDN?"
    bool query = false;                   // the header ends in '?'
    std::vector<std::string> path;        // the header's nodes, upper-cased, from the root: {"SOUR", "PWM2"}
    std::vector<std::string> parameters;  // each trimmed, as written
};

// One command of a message, or why it could not be read.
struct Parsed {
    std::optional<Command> command;
    std::optional<Error> error;
};

// Splits `message` into its commands, in order. An empty message (or one of
// blanks) holds none; an empty command between two `;` is a syntax error.
std::vector<Parsed> parseMessage(std::string_view message);

// Whether `node` as typed matches the keyword written with its short form in
// capitals ("PWM", "SOURce", "LEVel"): the short or the long form, any case.
// A keyword written with a trailing '#' takes a numeric suffix (1 when left
// out), which `suffix` receives.
bool matches(std::string_view keyword, std::string_view node, int* suffix = nullptr);

// A parameter as a number: decimal (sign, fraction, exponent) or #H/#Q/#B;
// nullopt when it is none.
std::optional<double> number(std::string_view parameter);

// A character parameter ("ON", "MAX") upper-cased; nullopt when it is not a
// program mnemonic (a letter, then letters, digits and '_').
std::optional<std::string> mnemonic(std::string_view parameter);

}  // namespace scpi
