// The command tree: IEEE 488.2's common commands, SCPI-99's required ones,
// and the chip's.

#include "Interpreter.h"

#include <array>
#include <cmath>
#include <functional>
#include <vector>

namespace scpi {

// One command being carried out: its parameters, the numeric suffixes of its
// header, where its answer goes.
struct Interpreter::Call {
    Interpreter& self;
    const Command& command;
    std::vector<int> suffixes;
    std::string answer;
};

namespace {

using Call = Interpreter::Call;

// An error that ends one command: its code goes to the queue.
struct Failed {
    int code;
};

struct Node {
    std::string keyword;  // "SOURce", "PWM#"
    bool optional = false;
};

// "[SOURce:]PWM#[:LEVel]" as its nodes.
std::vector<Node> nodesOf(std::string_view pattern)
{
    std::vector<Node> nodes;
    std::string current;
    bool optional = false;
    int depth = 0;
    const auto flush = [&] {
        if (!current.empty())
            nodes.push_back({current, optional});
        current.clear();
    };
    for (const char c : pattern) {
        if (c == '[' || c == ']' || c == ':') {
            flush();
            depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        } else {
            if (current.empty())
                optional = depth > 0;
            current += c;
        }
    }
    flush();
    return nodes;
}

bool match(const std::vector<std::string>& path, std::size_t i, const std::vector<Node>& nodes, std::size_t j,
           std::vector<int>& suffixes)
{
    if (j == nodes.size())
        return i == path.size();
    const Node& node = nodes[j];
    const bool numbered = node.keyword.back() == '#';
    int suffix = 1;
    if (i < path.size() && matches(node.keyword, path[i], &suffix)) {
        if (numbered)
            suffixes.push_back(suffix);
        if (match(path, i + 1, nodes, j + 1, suffixes))
            return true;
        if (numbered)
            suffixes.pop_back();
    }
    if (node.optional) {
        if (numbered)
            suffixes.push_back(1);
        if (match(path, i, nodes, j + 1, suffixes))
            return true;
        if (numbered)
            suffixes.pop_back();
    }
    return false;
}

struct Entry {
    bool common;
    std::vector<Node> nodes;
    std::function<void(Call&)> set;    // none: the header is a query only
    std::function<void(Call&)> query;  // none: the header is no query
};

// ---------------------------------------------------------------- parameters

void parameters(const Call& call, std::size_t count)
{
    if (call.command.parameters.size() < count)
        throw Failed{kMissingParameter};
    if (call.command.parameters.size() > count)
        throw Failed{kParameterNotAllowed};
}

struct Range {
    int min;
    int max;
    int byDefault;
};

// A numeric parameter, MINimum, MAXimum and DEFault included, rounded to a whole number.
int integer(const std::string& parameter, Range range)
{
    if (const auto word = mnemonic(parameter)) {
        if (matches("MINimum", *word))
            return range.min;
        if (matches("MAXimum", *word))
            return range.max;
        if (matches("DEFault", *word))
            return range.byDefault;
        throw Failed{kDataTypeError};
    }
    const auto value = number(parameter);
    if (!value)
        throw Failed{kDataTypeError};
    const double rounded = std::round(*value);
    if (rounded < range.min || rounded > range.max)
        throw Failed{kDataOutOfRange};
    return static_cast<int>(rounded);
}

bool boolean(const std::string& parameter)
{
    if (const auto word = mnemonic(parameter)) {
        if (*word == "ON")
            return true;
        if (*word == "OFF")
            return false;
        throw Failed{kIllegalParameterValue};
    }
    const auto value = number(parameter);
    if (!value)
        throw Failed{kDataTypeError};
    return std::round(*value) != 0;
}

// A query's answer: a number's query may ask for its MINimum, MAXimum or DEFault instead.
int asked(const Call& call, Range range, int now)
{
    if (call.command.parameters.empty())
        return now;
    parameters(call, 1);
    const auto word = mnemonic(call.command.parameters[0]);
    if (!word)
        throw Failed{kParameterNotAllowed};
    return integer(call.command.parameters[0], range);
}

void check(bridge::Verdict verdict)
{
    switch (verdict) {
    case bridge::Verdict::Acknowledged:
    case bridge::Verdict::Stray:  // never a transaction's
        return;
    case bridge::Verdict::NotAcknowledged:
        throw Failed{kHardwareError};
    case bridge::Verdict::NoAnswer:
    case bridge::Verdict::BridgeLost:
        throw Failed{kHardwareMissing};
    }
}

// A numeric setting: its set and its query.
Entry setting(std::string_view pattern, Range range, std::function<void(Call&, int)> set,
              std::function<int(Call&)> get)
{
    return {false, nodesOf(pattern),
            [range, set](Call& call) {
                parameters(call, 1);
                set(call, integer(call.command.parameters[0], range));
            },
            [range, get](Call& call) { call.answer = std::to_string(asked(call, range, get(call))); }};
}

constexpr Range kPosition{0, driver::kMaxPosition, 0};
constexpr Range kInterval{10, 200, 50};
constexpr Range kSelection{1, 3, 1};
constexpr Range kByte{0, 255, 0};
constexpr Range kRegister{0, 0xFFFF, 0};
constexpr Range kEightBits{0, 255, 0};

struct Chip {
    const char* pattern;
    driver::SetupControl control;
};

constexpr std::array<Chip, 4> kChip{{
    {"[SOURce]:CURRent:PEAK", driver::SetupControl::IledPeak},
    {"[SOURce]:DIMMing:UP", driver::SetupControl::IledUp},
    {"[SOURce]:DIMMing:DOWN", driver::SetupControl::IledDown},
    {"[SOURce]:DIMMing:STARt", driver::SetupControl::GdStart},
}};

constexpr std::array<driver::SetupControl, 3> kPwm{
    driver::SetupControl::PwmLed1, driver::SetupControl::PwmLed2, driver::SetupControl::PwmLed3};

// The suffix of a numbered node, 1..count; any other is no such header.
int numbered(const Call& call, std::size_t node, int count)
{
    const int n = call.suffixes.at(node);
    if (n < 1 || n > count)
        throw Failed{kUndefinedHeader};
    return n - 1;
}

const char* verdictWord(bridge::Verdict verdict)
{
    switch (verdict) {
    case bridge::Verdict::Acknowledged:
        return "ACK";
    case bridge::Verdict::NotAcknowledged:
        return "NACK";
    case bridge::Verdict::BridgeLost:
        return "LOST";
    case bridge::Verdict::NoAnswer:
    case bridge::Verdict::Stray:
        break;
    }
    return "NONE";
}

std::string quotedString(const std::string& text)
{
    std::string result = "\"";
    for (const char c : text) {
        result += c;
        if (c == '"')
            result += '"';
    }
    return result + '"';
}

}  // namespace

struct Interpreter::Tree {
    static std::vector<Entry> entries();
    static const std::vector<Entry>& all()
    {
        static const std::vector<Entry> tree = entries();
        return tree;
    }
};

Interpreter::Interpreter(Instrument& instrument, Identity identity)
    : instrument_(instrument), identity_(std::move(identity))
{
}

std::optional<std::string> Interpreter::execute(std::string_view message)
{
    noteConditions();
    std::optional<std::string> response;
    for (const Parsed& parsed : parseMessage(message)) {
        if (parsed.error) {
            fail(parsed.error->code);
            continue;
        }
        std::string answer;
        bool answered = false;
        try {
            run(*parsed.command, answer);
            answered = parsed.command->query;
        } catch (const Failed& failed) {
            fail(failed.code);
        }
        if (answered) {
            response = response ? *response + ';' + answer : answer;
        }
    }
    noteConditions();
    return response;
}

void Interpreter::fail(int code)
{
    if (code <= -100 && code > -200)
        esr_ |= 1 << 5;  // command error
    else if (code <= -200 && code > -300)
        esr_ |= 1 << 4;  // execution error
    else if (code <= -300 && code > -400)
        esr_ |= 1 << 3;  // device-dependent error
    else if (code <= -400 && code > -500)
        esr_ |= 1 << 2;  // query error
    if (errors_.size() >= kErrorQueueSize) {
        errors_.back() = error(kQueueOverflow);
        esr_ |= 1 << 3;
        return;
    }
    errors_.push_back(error(code));
}

void Interpreter::run(const Command& command, std::string& answer)
{
    for (const Entry& entry : Tree::all()) {
        Call call{*this, command, {}, {}};
        if (entry.common != command.common || !match(command.path, 0, entry.nodes, 0, call.suffixes))
            continue;
        const auto& handler = command.query ? entry.query : entry.set;
        if (!handler)
            break;
        handler(call);
        answer = std::move(call.answer);
        return;
    }
    throw Failed{kUndefinedHeader};
}

int Interpreter::statusByte()
{
    noteConditions();
    int stb = 0;
    if (!errors_.empty())
        stb |= 1 << 2;
    if (questionable_.summary())
        stb |= 1 << 3;
    if (esr_ & ese_)
        stb |= 1 << 5;
    if (operation_.summary())
        stb |= 1 << 7;
    if (stb & sre_)
        stb |= 1 << 6;
    return stb;
}

// The conditions now, and the bits that rose since they were last looked at.
void Interpreter::noteConditions()
{
    const int operation = instrument_.running() ? kOperationRamping : 0;
    const int questionable = instrument_.bridgeOpen() ? 0 : kQuestionableNoBridge;
    operation_.event |= operation & ~operation_.condition;
    questionable_.event |= questionable & ~questionable_.condition;
    operation_.condition = operation;
    questionable_.condition = questionable;
}

std::vector<Entry> Interpreter::Tree::entries()
{
    std::vector<Entry> t;
    const auto common
        = [&t](const char* name, std::function<void(Call&)> set, std::function<void(Call&)> query) {
              t.push_back({true, {{name, false}}, std::move(set), std::move(query)});
          };
    const auto command
        = [&t](const char* pattern, std::function<void(Call&)> set, std::function<void(Call&)> query) {
              t.push_back({false, nodesOf(pattern), std::move(set), std::move(query)});
          };
    const auto none = [](Call& call) { parameters(call, 0); };

    // ------------------------------------------------------------ IEEE 488.2
    common("IDN", nullptr, [](Call& call) {
        parameters(call, 0);
        Interpreter& self = call.self;
        const std::string serial = self.instrument_.serial();
        call.answer = self.identity_.manufacturer + ',' + self.identity_.model + ','
            + (serial.empty() ? "0" : serial) + ',' + self.identity_.version;
    });
    common(
        "RST",
        [](Call& call) {
            parameters(call, 0);
            Instrument& chip = call.self.instrument_;
            chip.setRunning(false);
            chip.select(sequences::Sequence::Seq1);
            for (int ramp = 0; ramp < 3; ++ramp)
                chip.setInterval(ramp, std::chrono::milliseconds(kInterval.byDefault));
            chip.setDevice(Device::B);
            int failure = 0;
            for (const driver::SetupControl control : driver::kSetupControls) {
                try {
                    check(chip.set(control, 0));
                } catch (const Failed& failed) {
                    failure = failed.code;
                }
            }
            if (failure)
                throw Failed{failure};
        },
        nullptr);
    common(
        "CLS",
        [](Call& call) {
            parameters(call, 0);
            Interpreter& self = call.self;
            self.errors_.clear();
            self.esr_ = 0;
            self.operation_.event = 0;
            self.questionable_.event = 0;
        },
        nullptr);
    // *ESE and *SRE: an eight-bit enable, set and read.
    const auto eightBits = [&common](const char* name, std::function<int&(Interpreter&)> field) {
        common(
            name,
            [field](Call& call) {
                parameters(call, 1);
                field(call.self) = integer(call.command.parameters[0], kEightBits);
            },
            [field](Call& call) {
                parameters(call, 0);
                call.answer = std::to_string(field(call.self));
            });
    };
    eightBits("ESE", [](Interpreter& self) -> int& { return self.ese_; });
    eightBits("SRE", [](Interpreter& self) -> int& { return self.sre_; });
    common("ESR", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = std::to_string(call.self.esr_);
        call.self.esr_ = 0;
    });
    common(
        "OPC",
        [](Call& call) {
            parameters(call, 0);
            call.self.esr_ |= 1;  // every operation is complete when its command returns
        },
        [](Call& call) {
            parameters(call, 0);
            call.answer = "1";
        });
    common("STB", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = std::to_string(call.self.statusByte());
    });
    common("TST", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = call.self.instrument_.bridgeOpen() ? "0" : "1";  // 0: passed
    });
    common("WAI", none, nullptr);

    // ------------------------------------------------------------ SCPI-99
    const auto nextError = [](Call& call) {
        parameters(call, 0);
        auto& errors = call.self.errors_;
        if (errors.empty()) {
            call.answer = "0,\"No error\"";
            return;
        }
        call.answer = std::to_string(errors.front().code) + ',' + quotedString(errors.front().text);
        errors.pop_front();
    };
    command("SYSTem:ERRor[:NEXT]", nullptr, nextError);
    command("SYSTem:ERRor:COUNt", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = std::to_string(call.self.errors_.size());
    });
    command("SYSTem:VERSion", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = "1999.0";
    });
    command(
        "STATus:PRESet",
        [](Call& call) {
            parameters(call, 0);
            call.self.operation_.enable = 0;
            call.self.questionable_.enable = 0;
        },
        nullptr);
    const auto status = [&command](const std::string& name, std::function<Register&(Interpreter&)> reg) {
        command((name + "[:EVENt]").c_str(), nullptr, [reg](Call& call) {
            parameters(call, 0);
            call.self.noteConditions();
            call.answer = std::to_string(reg(call.self).event);
            reg(call.self).event = 0;
        });
        command((name + ":CONDition").c_str(), nullptr, [reg](Call& call) {
            parameters(call, 0);
            call.self.noteConditions();
            call.answer = std::to_string(reg(call.self).condition);
        });
        command((name + ":ENABle").c_str(),
                [reg](Call& call) {
                    parameters(call, 1);
                    reg(call.self).enable = integer(call.command.parameters[0], kRegister);
                },
                [reg](Call& call) {
                    parameters(call, 0);
                    call.answer = std::to_string(reg(call.self).enable);
                });
    };
    status("STATus:OPERation", [](Interpreter& self) -> Register& { return self.operation_; });
    status("STATus:QUEStionable", [](Interpreter& self) -> Register& { return self.questionable_; });

    // ------------------------------------------------------------ the chip
    for (const Chip& chip : kChip) {
        const driver::SetupControl control = chip.control;
        t.push_back(setting(
            chip.pattern, kPosition,
            [control](Call& call, int position) { check(call.self.instrument_.set(control, position)); },
            [control](Call& call) { return call.self.instrument_.position(control); }));
    }
    t.push_back(setting(
        "[SOURce]:PWM#[:LEVel]", kPosition,
        [](Call& call, int position) {
            const auto control = kPwm[static_cast<std::size_t>(numbered(call, 0, 3))];
            check(call.self.instrument_.set(control, position));
        },
        [](Call& call) {
            return call.self.instrument_.position(kPwm[static_cast<std::size_t>(numbered(call, 0, 3))]);
        }));
    command(
        "DEVice",
        [](Call& call) {
            parameters(call, 1);
            const auto word = mnemonic(call.command.parameters[0]);
            if (!word)
                throw Failed{kDataTypeError};
            if (*word == "B")
                call.self.instrument_.setDevice(Device::B);
            else if (*word == "T")
                call.self.instrument_.setDevice(Device::T);
            else if (*word == "C")
                call.self.instrument_.setDevice(Device::C);
            else
                throw Failed{kIllegalParameterValue};
        },
        [](Call& call) {
            parameters(call, 0);
            call.answer = call.self.instrument_.device() == Device::C ? "C" : "B";  // B and T are one button
        });
    t.push_back(setting(
        "SEQuence:SELect", kSelection,
        [](Call& call, int n) { call.self.instrument_.select(static_cast<sequences::Sequence>(n - 1)); },
        [](Call& call) { return static_cast<int>(call.self.instrument_.selected()) + 1; }));
    t.push_back(setting(
        "SEQuence:INTerval#", kInterval,
        [](Call& call, int ms) {
            call.self.instrument_.setInterval(numbered(call, 0, 3), std::chrono::milliseconds(ms));
        },
        [](Call& call) {
            return static_cast<int>(call.self.instrument_.interval(numbered(call, 0, 3)).count());
        }));
    command(
        "SEQuence[:STATe]",
        [](Call& call) {
            parameters(call, 1);
            call.self.instrument_.setRunning(boolean(call.command.parameters[0]));
        },
        [](Call& call) {
            parameters(call, 0);
            call.answer = call.self.instrument_.running() ? "1" : "0";
        });
    command(
        "SEND",
        [](Call& call) {
            parameters(call, 1);
            check(call.self.instrument_.send(
                static_cast<std::uint8_t>(integer(call.command.parameters[0], kByte))));
        },
        nullptr);
    command("LAST", nullptr, [](Call& call) {
        parameters(call, 0);
        const LastExchange last = call.self.instrument_.last();
        call.answer = std::string(verdictWord(last.verdict)) + ',' + std::to_string(last.status) + ','
            + std::to_string(last.first) + ',' + std::to_string(last.second);
    });
    command("BRIDge:STATe", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = call.self.instrument_.bridgeOpen() ? "1" : "0";
    });
    command("BRIDge:SERial", nullptr, [](Call& call) {
        parameters(call, 0);
        call.answer = quotedString(call.self.instrument_.serial());
    });
    return t;
}

}  // namespace scpi
