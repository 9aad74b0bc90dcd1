// Reading SCPI program messages (IEEE 488.2 section 7, SCPI-99 section 6).

#include "Parser.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace scpi {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }
bool letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits at `separator` outside quoted strings ("..." and '...', a doubled
// quote standing for itself); nullopt when a string is left open.
std::optional<std::vector<std::string_view>> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;  // a doubled quote closes and opens again
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (quote)
        return std::nullopt;
    parts.push_back(text.substr(start));
    return parts;
}

bool programMnemonic(std::string_view text)
{
    if (text.empty() || !letter(text.front()))
        return false;
    for (const char c : text)
        if (!letter(c) && !digit(c) && c != '_')
            return false;
    return true;
}

std::string upperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = upper(c);
    return result;
}

// One command, its header resolved against `prefix`, which it then updates.
Parsed parseCommand(std::string_view text, std::vector<std::string>& prefix)
{
    const Parsed syntax{std::nullopt, error(kSyntaxError)};
    text = trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !blank(text[end]))
        ++end;
    std::string_view header = text.substr(0, end);
    const std::string_view rest = trimmed(text.substr(end));
    if (header.empty())
        return syntax;

    Command command;
    if (header.back() == '?') {
        command.query = true;
        header.remove_suffix(1);
    }
    if (header.front() == '*') {
        command.common = true;
        header.remove_prefix(1);
        if (!programMnemonic(header))
            return syntax;
        command.path = {upperCase(header)};
    } else {
        const bool absolute = header.front() == ':';
        if (absolute)
            header.remove_prefix(1);
        const auto nodes = split(header, ':');
        if (!nodes)
            return syntax;
        command.path = absolute ? std::vector<std::string>{} : prefix;
        for (const std::string_view node : *nodes) {
            if (!programMnemonic(node))
                return syntax;
            command.path.push_back(upperCase(node));
        }
        prefix.assign(command.path.begin(), command.path.end() - 1);
    }

    if (!rest.empty()) {
        const auto parameters = split(rest, ',');
        if (!parameters)
            return syntax;
        for (const std::string_view p : *parameters) {
            const std::string_view parameter = trimmed(p);
            if (parameter.empty())
                return syntax;
            command.parameters.emplace_back(parameter);
        }
    }
    return {std::move(command), std::nullopt};
}

}  // namespace

Error error(int code)
{
    switch (code) {
    case kSyntaxError:
        return {code, "Syntax error"};
    case kDataTypeError:
        return {code, "Data type error"};
    case kParameterNotAllowed:
        return {code, "Parameter not allowed"};
    case kMissingParameter:
        return {code, "Missing parameter"};
    case kUndefinedHeader:
        return {code, "Undefined header"};
    case kDataOutOfRange:
        return {code, "Data out of range"};
    case kTooMuchData:
        return {code, "Too much data"};
    case kIllegalParameterValue:
        return {code, "Illegal parameter value"};
    case kHardwareError:
        return {code, "Hardware error;I2C error : no Acknowledge from device"};
    case kHardwareMissing:
        return {code, "Hardware missing;USB error : device not connected"};
    case kQueueOverflow:
        return {code, "Queue overflow"};
    default:
        return {code, "Error"};
    }
}

std::vector<Parsed> parseMessage(std::string_view message)
{
    std::vector<Parsed> commands;
    if (trimmed(message).empty())
        return commands;
    const auto parts = split(message, ';');
    if (!parts)
        return {{std::nullopt, error(kSyntaxError)}};
    std::vector<std::string> prefix;
    for (const std::string_view part : *parts)
        commands.push_back(parseCommand(part, prefix));
    return commands;
}

bool matches(std::string_view keyword, std::string_view node, int* suffix)
{
    const bool numbered = !keyword.empty() && keyword.back() == '#';
    if (numbered) {
        keyword.remove_suffix(1);
        std::size_t digits = node.size();
        while (digits > 0 && digit(node[digits - 1]))
            --digits;
        int value = 1;
        if (digits < node.size()) {
            const auto [ptr, ec] = std::from_chars(node.data() + digits, node.data() + node.size(), value);
            if (ec != std::errc() || ptr != node.data() + node.size())
                return false;
        }
        if (suffix)
            *suffix = value;
        node = node.substr(0, digits);
    }
    std::size_t shortLength = 0;
    while (shortLength < keyword.size() && !std::islower(static_cast<unsigned char>(keyword[shortLength])))
        ++shortLength;
    const auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (upper(a[i]) != upper(b[i]))
                return false;
        return true;
    };
    return same(node, keyword.substr(0, shortLength)) || same(node, keyword);
}

std::optional<double> number(std::string_view parameter)
{
    parameter = trimmed(parameter);
    if (parameter.size() >= 3 && parameter[0] == '#') {
        int base = 0;
        switch (upper(parameter[1])) {
        case 'H':
            base = 16;
            break;
        case 'Q':
            base = 8;
            break;
        case 'B':
            base = 2;
            break;
        default:
            return std::nullopt;
        }
        unsigned long long value = 0;
        const char* begin = parameter.data() + 2;
        const char* end = parameter.data() + parameter.size();
        const auto [ptr, ec] = std::from_chars(begin, end, value, base);
        if (ec != std::errc() || ptr != end)
            return std::nullopt;
        return static_cast<double>(value);
    }
    // A decimal numeric program datum: sign, digits with at most one point, an exponent.
    std::size_t i = 0;
    if (i < parameter.size() && (parameter[i] == '+' || parameter[i] == '-'))
        ++i;
    bool digits = false;
    while (i < parameter.size() && digit(parameter[i]))
        ++i, digits = true;
    if (i < parameter.size() && parameter[i] == '.')
        for (++i; i < parameter.size() && digit(parameter[i]); ++i)
            digits = true;
    if (!digits)
        return std::nullopt;
    if (i < parameter.size() && upper(parameter[i]) == 'E') {
        ++i;
        if (i < parameter.size() && (parameter[i] == '+' || parameter[i] == '-'))
            ++i;
        bool exponent = false;
        while (i < parameter.size() && digit(parameter[i]))
            ++i, exponent = true;
        if (!exponent)
            return std::nullopt;
    }
    if (i != parameter.size())
        return std::nullopt;
    const std::string text(parameter);
    const double value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<std::string> mnemonic(std::string_view parameter)
{
    parameter = trimmed(parameter);
    return programMnemonic(parameter) ? std::optional<std::string>(upperCase(parameter)) : std::nullopt;
}

}  // namespace scpi
