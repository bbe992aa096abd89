// The numeric edit's text rules: any text in a few locales, and numbers
// written in every display format and read back.
//
// Input: byte 0 chooses the locale (bits 0-2); byte 1 the display format
// (bits 0-4 decimals, beyond the largest too; bit 5 grouping; bit 6 negatives
// in parentheses); byte 2 picks a special number or, when beyond them, takes
// bytes 3-10 as a double; the rest, as UTF-16, is the text.
//
// Properties:
// - reading any text gives a finite number; the text is empty exactly when it
//   holds no decimal digit, and then reads 0; without a negative mark the
//   result is not negative;
// - the value agrees with a reference that collects the digits and the first
//   decimal separator and reads them with strtod (beyond the double range:
//   the largest double; below the smallest normal magnitude, 0 is allowed too);
// - a finite number written in a format reads back as the number rounded to
//   the format's decimals: whole numbers exactly (half away from zero), with
//   decimals within half a unit of the last one, and exactly where the number
//   has no more decimals than shown; NaN reads 0, infinities the largest double.
#include "FuzzCheck.h"
#include "widgets/NumericEdit.h"

#include <QLocale>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace
{

using Limits = std::numeric_limits<double>;
constexpr double Largest = Limits::max();
constexpr int MaxDecimals = 15;
constexpr std::uint8_t LocaleMask = 0x07;
constexpr std::uint8_t DecimalsMask = 0x1F;
constexpr std::uint8_t GroupedFlag = 0x20;
constexpr std::uint8_t ParenthesesFlag = 0x40;
constexpr std::size_t HeaderSize = 11;
constexpr double Slack = 1e-9; // of half a unit, for the decimal-to-binary step

constexpr std::array<double, 14> SpecialValues = {0.0,
                                                  -0.0,
                                                  Limits::quiet_NaN(),
                                                  Limits::infinity(),
                                                  -Limits::infinity(),
                                                  Largest,
                                                  -Largest,
                                                  Limits::min(),
                                                  2.5,
                                                  -2.5,
                                                  0.125,
                                                  1e15 + 0.5,
                                                  -1234567.891,
                                                  9007199254740993.0};

const QLocale &localeFor(std::uint8_t selector)
{
    static const std::array<QLocale, 8> locales = {
        QLocale::c(),
        QLocale(QLocale::Chinese, QLocale::China),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::French, QLocale::France), // groups with U+202F
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::Finnish, QLocale::Finland),    // minus sign U+2212
        QLocale(QLocale::Arabic, QLocale::Egypt),       // own digits, two-character minus
        QLocale(QLocale::Bangla, QLocale::Bangladesh)}; // own digits
    return locales[selector & LocaleMask];
}

bool isNegativeMark(QChar c, const QLocale &locale)
{
    const char16_t u = c.unicode();
    const QString sign = locale.negativeSign();
    return u == u'-' || u == u'\u2212' || u == u'\uFF0D' || u == u'(' || u == u'\uFF08' ||
           (sign.size() == 1 && c == sign.front());
}

struct Reference {
    bool empty = true;
    bool negative = false;
    bool wholePart = false;
    double magnitude = 0.0;
};

// Digits (any script), the first decimal separator, negative marks; the rest
// is dropped.
Reference readText(const QString &text, const QLocale &locale)
{
    Reference r;
    const QString point = locale.decimalPoint();
    std::string whole;
    std::string fraction;
    bool inFraction = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!point.isEmpty() && QStringView(text).sliced(i).startsWith(point)) {
            inFraction = true;
            i += point.size() - 1;
            continue;
        }
        const QChar c = text[i];
        if (c.category() == QChar::Number_DecimalDigit) {
            r.empty = false;
            (inFraction ? fraction : whole) += char('0' + c.digitValue());
            r.wholePart = r.wholePart || (!inFraction && c.digitValue() != 0);
        } else if (isNegativeMark(c, locale)) {
            r.negative = true;
        }
    }
    const std::string number = "0" + whole + "." + fraction + "0";
    r.magnitude = std::strtod(number.c_str(), nullptr);
    return r;
}

// Digits after the point in the shortest form that reads back as value.
int shortestDecimals(double value)
{
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    const char *point = static_cast<const char *>(std::memchr(text, '.', std::size_t(result.ptr - text)));
    return point ? int(result.ptr - point - 1) : 0;
}

void checkParse(const QString &text, const QLocale &locale)
{
    bool empty = false;
    const double value = NumericEdit::ParseNumericText(text, locale, &empty);
    const Reference r = readText(text, locale);
    FUZZ_CHECK(std::isfinite(value), "a text read as NaN or infinity");
    FUZZ_CHECK(empty == r.empty, "empty although it holds a digit, or the other way round");
    if (empty) {
        FUZZ_CHECK(value == 0.0, "an empty text does not read 0");
        return;
    }
    FUZZ_CHECK(r.negative || !std::signbit(value), "negative without a negative mark");
    double expected = r.magnitude;
    if (std::isinf(expected))
        expected = Largest;
    const double magnitude = std::fabs(value);
    const bool tiny = expected != 0.0 && expected < Limits::min();
    if (magnitude != expected && !(tiny && magnitude == 0.0)) {
        std::fprintf(stderr, "read %.17g, reference %.17g\n", value, expected);
        FUZZ_CHECK(false, "value differs from the reference");
    }
    FUZZ_CHECK(!r.negative || magnitude == 0.0 || value < 0.0, "negative mark ignored");
}

double expectedShown(double value, int decimals)
{
    if (std::isnan(value))
        return 0.0;
    value = std::fmax(-Largest, std::fmin(Largest, value));
    return decimals == 0 ? std::round(value) : value;
}

void checkFormat(double value, const NumericFormat &format, const QLocale &locale)
{
    const QString text = NumericEdit::FormatNumericText(value, format, locale);
    bool empty = true;
    const double read = NumericEdit::ParseNumericText(text, locale, &empty);
    const int decimals = std::clamp(format.decimals, 0, MaxDecimals);
    const double shown = expectedShown(value, decimals);
    bool good = !empty;
    if (decimals == 0 || !std::isfinite(value) || shortestDecimals(shown) <= decimals) {
        good = good && read == shown;
    } else {
        const double halfUnit = 0.5 * std::pow(10.0, -decimals);
        good =
            good && std::fabs(read - shown) <= halfUnit * (1 + Slack) + std::fabs(shown) * Limits::epsilon();
    }
    if (!good) {
        std::fprintf(stderr, "%.17g as \"%s\" (%d decimals) read %.17g\n", value, qPrintable(text), decimals,
                     read);
        FUZZ_CHECK(false, "a formatted number does not read back");
    }
    if (format.negativeInParentheses && read < 0.0)
        FUZZ_CHECK(text.startsWith(u'(') && text.endsWith(u')'), "a negative number without parentheses");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < HeaderSize)
        return 0;
    const QLocale &locale = localeFor(data[0]);
    NumericFormat format;
    format.decimals = data[1] & DecimalsMask;
    format.grouped = (data[1] & GroupedFlag) != 0;
    format.negativeInParentheses = (data[1] & ParenthesesFlag) != 0;
    double value = 0.0;
    if (data[2] < SpecialValues.size())
        value = SpecialValues[data[2]];
    else
        std::memcpy(&value, data + 3, sizeof value);

    checkFormat(value, format, locale);
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(data + HeaderSize),
                                            qsizetype((size - HeaderSize) / 2));
    checkParse(text, locale);
    return 0;
}
