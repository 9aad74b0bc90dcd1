// The SCPI message parser on any bytes: never crashes, and what it hands on
// keeps its promises: each command either parsed or an error, headers of
// upper-case program mnemonics, no empty parameter, numbers finite.

#include "Parser.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    for (const scpi::Parsed& parsed : scpi::parseMessage(message)) {
        check(parsed.command.has_value() != parsed.error.has_value(), "a command or an error, never both");
        if (!parsed.command)
            continue;
        check(!parsed.command->path.empty(), "a header has a node");
        for (const std::string& node : parsed.command->path) {
            check(!node.empty() && std::isupper(static_cast<unsigned char>(node[0])),
                  "a node starts with a letter");
            for (const char c : node)
                check(!std::islower(static_cast<unsigned char>(c)), "a node is upper-cased");
            int suffix = 0;
            (void)scpi::matches("PWM#", node, &suffix);
        }
        for (const std::string& parameter : parsed.command->parameters) {
            check(!parameter.empty(), "no empty parameter");
            if (const auto value = scpi::number(parameter))
                check(std::isfinite(*value), "numbers are finite");
            if (const auto word = scpi::mnemonic(parameter))
                check(!word->empty(), "a mnemonic has a letter");
        }
    }
    return 0;
}
