// The operator's integer entry on any text.
//
// Input: byte 0 chooses how the rest becomes text (bits 0-1): Latin-1, UTF-16,
// or each byte picking a character of an alphabet of the entry's own symbols
// and look-alikes (tab, no-break space, full-width and Arabic-Indic digits).
//
// Properties:
// - the result agrees with a reference written from the entry rules, which
//   reads the digits with std::from_chars: the same texts are accepted, with
//   the same values, so no value outside the ranges is ever accepted;
// - an accepted value, written back in decimal (QString::number), and as a
//   hexadecimal register pattern, reads back as the same value.
#include "FuzzCheck.h"
#include "parameters/IntegerText.h"

#include <QString>

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

namespace
{

constexpr std::uint8_t ModeMask = 0x03;
enum class Mode { Latin1, Utf16, Alphabet, AlphabetToo };
constexpr char16_t Alphabet[] = u" +-$xX0123456789abcdefABCDEF0x$\t\u00a0\uff11\u0663gG";

constexpr std::uint64_t DecimalLimit = 0x7FFFFFFF;
constexpr std::uint64_t NegativeLimit = 0x80000000;
constexpr std::uint64_t PatternLimit = 0xFFFFFFFF;

// The entry rules: blanks, an optional sign, a prefix ("$", "x", "X", "0x",
// "0X") for hexadecimal, then digits and nothing else.
std::optional<std::int32_t> reference(const QString &text)
{
    std::string s;
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt; // blanks, signs, prefixes and digits are all ASCII
        s += char(c.unicode());
    }
    std::size_t i = s.find_first_not_of(' ');
    if (i == std::string::npos)
        return std::nullopt;
    const bool negative = s[i] == '-';
    if (s[i] == '-' || s[i] == '+')
        ++i;
    int base = 10;
    if (s.compare(i, 2, "0x") == 0 || s.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    } else if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        base = 16;
        i += 1;
    }
    if (i >= s.size())
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const char *first = s.data() + i;
    const char *last = s.data() + s.size();
    const auto [end, error] = std::from_chars(first, last, magnitude, base);
    if (error != std::errc() || end != last)
        return std::nullopt;
    if (negative) {
        if (magnitude > NegativeLimit)
            return std::nullopt;
        return std::int32_t(-std::int64_t(magnitude));
    }
    if (magnitude > (base == 16 ? PatternLimit : DecimalLimit))
        return std::nullopt;
    return std::int32_t(std::uint32_t(magnitude));
}

QString textFrom(const std::uint8_t *data, std::size_t size)
{
    const auto mode = Mode(data[0] & ModeMask);
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const auto length = qsizetype(size - 1);
    switch (mode) {
    case Mode::Latin1:
        return QString::fromLatin1(rest, length);
    case Mode::Utf16:
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(rest), length / 2);
    case Mode::Alphabet:
    case Mode::AlphabetToo:
        break;
    }
    QString text;
    constexpr std::size_t AlphabetSize = std::size(Alphabet) - 1;
    for (qsizetype i = 0; i < length; ++i)
        text += QChar(Alphabet[std::uint8_t(rest[i]) % AlphabetSize]);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString text = textFrom(data, size);
    const std::optional<std::int32_t> result = ParseIntegerText(text);
    FUZZ_CHECK(result == reference(text), "differs from the entry rules");
    if (!result)
        return 0;

    const std::int32_t value = *result;
    FUZZ_CHECK(ParseIntegerText(QString::number(value)) == value, "decimal text does not read back");
    const QString pattern = QLatin1Char('$') + QString::number(std::uint32_t(value), 16);
    FUZZ_CHECK(ParseIntegerText(pattern) == value, "hexadecimal pattern does not read back");
    if (value < 0) {
        const QString negativeHex = QStringLiteral("-0x") + QString::number(-std::int64_t(value), 16);
        FUZZ_CHECK(ParseIntegerText(negativeHex) == value, "negative hexadecimal does not read back");
    }
    return 0;
}
