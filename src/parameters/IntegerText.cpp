#include "parameters/IntegerText.h"

namespace
{

constexpr QChar Blank = u' ';
constexpr QChar Plus = u'+';
constexpr QChar Minus = u'-';
constexpr QChar Dollar = u'$';

constexpr int DecimalBase = 10;
constexpr int HexBase = 16;

constexpr std::uint64_t PositiveLimit = 0x7FFFFFFFu;   // largest decimal value
constexpr std::uint64_t NegativeLimit = 0x80000000u;   // largest magnitude after "-"
constexpr std::uint64_t HexPatternLimit = 0xFFFFFFFFu; // largest unsigned hexadecimal pattern

bool isHexLetterX(QChar c)
{
    return c == u'x' || c == u'X';
}

/// Value of one digit in `base`, or -1.
int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

} // namespace

std::optional<std::int32_t> ParseIntegerText(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == Blank)
        ++i;

    bool negative = false;
    if (i < n && (text[i] == Plus || text[i] == Minus)) {
        negative = text[i] == Minus;
        ++i;
    }

    int base = DecimalBase;
    if (i < n && (text[i] == Dollar || isHexLetterX(text[i]))) {
        base = HexBase;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && isHexLetterX(text[i + 1])) {
        base = HexBase;
        i += 2;
    }

    if (i == n)
        return std::nullopt;

    const std::uint64_t limit =
        negative ? NegativeLimit : (base == HexBase ? HexPatternLimit : PositiveLimit);
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0)
            return std::nullopt;
        magnitude = magnitude * std::uint64_t(base) + std::uint64_t(digit);
        if (magnitude > limit)
            return std::nullopt;
    }

    if (negative)
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    // A hexadecimal pattern above 7FFFFFFF is the two's complement of a negative value.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
}
