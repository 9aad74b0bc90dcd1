// HexTextToInt and hexByte on any text: the reading is the 64-bit wrapping
// sum the documentation gives, and a byte written as hex reads back as itself.

#include "Commands.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::int64_t reference(QStringView text)
{
    std::uint64_t result = 0;
    for (const QChar c : text.left(16)) {
        const char16_t u = c.toUpper().unicode();
        std::int64_t digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        result = result * 16 + static_cast<std::uint64_t>(digit);
    }
    return static_cast<std::int64_t>(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input as UTF-16 code units, odd bytes and unpaired surrogates included.
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    if (driver::HexTextToInt(text) != reference(text))
        std::abort();

    for (std::size_t i = 0; i < size && i < 8; ++i) {
        const QString hex = driver::hexByte(data[i]);
        if (hex.size() != 2 || driver::HexTextToInt(hex) != data[i] || hex != hex.toUpper())
            std::abort();
    }
    return 0;
}
