#include "ControlText.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace
{

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr int HexBase = 16;
constexpr int DecimalBase = 10;
constexpr int NibbleBits = 4;
constexpr std::uint8_t LowNibble = 0x0F;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + DecimalBase;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + DecimalBase;
    return -1;
}

} // namespace

std::string HexText(const std::uint8_t *bytes, std::size_t count)
{
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += HexDigits[bytes[i] >> NibbleBits];
        text += HexDigits[bytes[i] & LowNibble];
    }
    return text;
}

std::vector<std::string> SplitWords(const std::string &line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool ParseInteger(const std::string &text, long long min, long long max, long long &value)
{
    if (text.empty())
        return false;
    std::size_t digits = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        digits = 1;
    }
    int base = DecimalBase;
    if (text.size() > digits + 2 && text[digits] == '0' &&
        (text[digits + 1] == 'x' || text[digits + 1] == 'X')) {
        base = HexBase;
        digits += 2;
    }
    if (digits >= text.size() || HexValue(text[digits]) < 0)
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long magnitude = std::strtoull(text.c_str() + digits, &end, base);
    if (errno != 0 || *end != '\0' ||
        magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        return false;
    const long long parsed =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool ParseInt32(const std::string &text, long long &value)
{
    return ParseInteger(text, std::numeric_limits<std::int32_t>::min(),
                        std::numeric_limits<std::int32_t>::max(), value);
}

bool ParseDouble(const std::string &text, double min, double max, double &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool ParseSwitch(const std::string &text, long long &value)
{
    if (text == "on" || text == "off") {
        value = text == "on" ? 1 : 0;
        return true;
    }
    return false;
}

bool ParseHexBytes(const std::vector<std::string> &words, std::size_t first, std::vector<std::uint8_t> &bytes)
{
    for (std::size_t w = first; w < words.size(); ++w) {
        const std::string &word = words[w];
        if (word.size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < word.size(); i += 2) {
            const int high = HexValue(word[i]);
            const int low = HexValue(word[i + 1]);
            if (high < 0 || low < 0)
                return false;
            bytes.push_back(static_cast<std::uint8_t>(high << NibbleBits | low));
        }
    }
    return !bytes.empty();
}
