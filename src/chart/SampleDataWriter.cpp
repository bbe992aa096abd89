// Export: the channels as TAB-separated text, numbers formatted straight
// into one buffer (see SampleDataFile.h for the layout).

#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"
#include "chart/SampleDataFilePrivate.h"
#include "io/NumberText.h"

#include <QBuffer>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace SampleDataDetail;

namespace
{

constexpr char LineEnd[] = "\r\n";
constexpr char YSuffix[] = "(Y)";
constexpr char NullText[] = "Null";
constexpr char EmptyText[] = "Empty";

constexpr int SignificantDigits = 15;
constexpr int MinExponentDigits = 2; // 1e-05, 1e+300
constexpr int FixedNotationMinExponent = -4;
constexpr double IntegerFastLimit = 1e15; // whole numbers below this print as plain integers
// Rounded to 15 digits, larger magnitudes would exceed the largest double and
// not read back; they are written with as many digits as they need (16 or 17).
constexpr double LargestGeneral15 = 1.79769313486231e308;

constexpr qsizetype MaxAsciiNumber = 32; // longest number formatAscii writes (22 in fact)

// Splits the output of to_chars(scientific) ("-1.25e+02") into its
// significant digits without trailing zeros and the decimal exponent.
void splitScientific(const char *text, const char *end, char *digits, int &count, int &exponent)
{
    const char *p = text;
    if (*p == '-')
        ++p;
    count = 0;
    for (; p < end && *p != 'e'; ++p) {
        if (isAsciiDigit(*p))
            digits[count++] = *p;
    }
    while (count > 1 && digits[count - 1] == '0')
        --count;
    exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
}

enum class Exactness { No, Yes, Unknown };

// Whether the exact value of a finite, non-zero double has 16 significant
// decimal digits, as a rounding tie at 15 digits needs. Exact: value is
// m * 2^k with m odd; for k < 0 its digits are those of m * 5^-k.
Exactness exactlySixteenDigits(double value)
{
    constexpr int MantissaBits = 53;
    constexpr int MaxFivePower = 22; // 5^23 alone has 17 digits
    constexpr std::uint64_t Lowest16 = 1'000'000'000'000'000;
    constexpr std::uint64_t Lowest17 = 10 * Lowest16;
    constexpr double TwoTo64 = 18446744073709551616.0;
    const double magnitude = std::fabs(value);
    int binaryExponent = 0;
    auto mantissa = std::uint64_t(std::ldexp(std::frexp(magnitude, &binaryExponent), MantissaBits));
    int k = binaryExponent - MantissaBits;
    while ((mantissa & 1) == 0) {
        mantissa >>= 1;
        ++k;
    }
    if (k >= 0) {
        if (magnitude >= TwoTo64)
            return Exactness::Unknown;
        auto integer = std::uint64_t(magnitude);
        while (integer % 10 == 0)
            integer /= 10;
        return integer >= Lowest16 && integer < Lowest17 ? Exactness::Yes : Exactness::No;
    }
    if (-k > MaxFivePower)
        return Exactness::No;
    unsigned __int128 digits = mantissa;
    for (int i = 0; i < -k; ++i)
        digits *= 5;
    return digits >= Lowest16 && digits < Lowest17 ? Exactness::Yes : Exactness::No;
}

// Rounds 16 digits to 15, upwards in magnitude, carrying into the exponent.
void roundUpLastDigit(char *digits, int count, int &exponent)
{
    int i = count - 2;
    for (; i >= 0 && digits[i] == '9'; --i)
        digits[i] = '0';
    if (i >= 0) {
        ++digits[i];
        return;
    }
    digits[0] = '1';
    ++exponent;
}

// Writes value exactly as FormatGeneral15 does for a locale of this style and
// returns the end, or nullptr when the value must go through the locale
// (infinities, NaN, and possible rounding ties beyond 2^64).
char *formatAscii(double value, const AsciiNumberStyle &style, char *out)
{
    if (value == 0.0) {
        *out++ = '0'; // also for -0
        return out;
    }
    if (!std::isfinite(value))
        return nullptr;
    if (std::fabs(value) < IntegerFastLimit && value == std::trunc(value))
        return std::to_chars(out, out + MaxAsciiNumber, static_cast<long long>(value)).ptr;

    // The shortest form that reads back as value. With at most 15 digits it
    // is also the value rounded to 15 digits (not so for subnormal values,
    // which carry fewer digits); otherwise round explicitly.
    char text[40];
    char digits[24];
    int count = 0;
    int exponent = 0;
    auto printed = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    splitScientific(text, printed.ptr, digits, count, exponent);
    if ((count > SignificantDigits || !std::isnormal(value)) && std::fabs(value) <= LargestGeneral15) {
        // A tie needs an exact value of 16 digits ending in 5, and such a
        // value is its own shortest form. to_chars would round it to even;
        // the locale rounds it away from zero.
        bool rounded = false;
        if (count == SignificantDigits + 1 && digits[count - 1] == '5') {
            const Exactness exact = exactlySixteenDigits(value);
            if (exact == Exactness::Unknown)
                return nullptr;
            if (exact == Exactness::Yes) {
                roundUpLastDigit(digits, count, exponent);
                count = SignificantDigits;
                while (count > 1 && digits[count - 1] == '0')
                    --count;
                rounded = true;
            }
        }
        if (!rounded) {
            printed = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                    SignificantDigits - 1);
            splitScientific(text, printed.ptr, digits, count, exponent);
        }
    }

    if (value < 0)
        *out++ = '-';
    if (exponent < FixedNotationMinExponent || exponent >= SignificantDigits) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = style.decimalPoint;
            std::memcpy(out, digits + 1, std::size_t(count - 1));
            out += count - 1;
        }
        *out++ = style.exponent;
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        for (int width = 10, pad = MinExponentDigits - 1; pad > 0 && magnitude < width; --pad, width *= 10)
            *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            *out++ = i < count ? digits[i] : '0';
        if (count > exponent + 1) {
            *out++ = style.decimalPoint;
            std::memcpy(out, digits + exponent + 1, std::size_t(count - exponent - 1));
            out += count - exponent - 1;
        }
        return out;
    }
    *out++ = '0';
    *out++ = style.decimalPoint;
    for (int i = -1; i > exponent; --i)
        *out++ = '0';
    std::memcpy(out, digits, std::size_t(count));
    return out + count;
}

// Buffered writer of one file; numbers are formatted straight into the
// buffer, so a row costs no allocation.
class SampleWriter : public BufferedOut
{
public:
    SampleWriter(QIODevice &device, const QLocale &locale)
        : BufferedOut(device), m_locale(locale), m_style(asciiNumberStyle(locale))
    {
        m_style.usable = m_style.usable && agreesWithLocale();
    }

    void putNumber(double value)
    {
        if (m_style.usable) {
            if (char *end = formatAscii(value, m_style, room(MaxAsciiNumber))) {
                done(end);
                return;
            }
        }
        put(localeNumber(value));
    }

private:
    QByteArray localeNumber(double value) const
    {
        if (std::isfinite(value) && std::fabs(value) > LargestGeneral15) {
            QLocale plain = m_locale;
            plain.setNumberOptions(QLocale::OmitGroupSeparator);
            return plain.toString(value, 'g', QLocale::FloatingPointShortest).toLocal8Bit();
        }
        return FormatGeneral15(value, m_locale).toLocal8Bit();
    }

    // The ASCII formatter stands in for the locale only where it writes the
    // very same text; a few probes cover every branch of it.
    bool agreesWithLocale() const
    {
        static constexpr std::array<double, 10> probes = {
            17.0, 12.5, -0.25, 1e300, 1e-5, 0.0001, 1.0 / 3, -1.5e-300, 1e15, 123456789012345.0};
        char text[MaxAsciiNumber];
        for (double probe : probes) {
            const char *end = formatAscii(probe, m_style, text);
            if (!end || QByteArrayView(text, end - text) != FormatGeneral15(probe, m_locale).toLocal8Bit())
                return false;
        }
        return true;
    }

    QLocale m_locale;
    AsciiNumberStyle m_style;
};

// Writes the rows the channels hold now; points appended while `progress`
// runs are not written (the chart never moves the points it holds, so the
// earlier ones stay valid to read).
SampleFileResult writeSampleData(const ChartData &data, QIODevice &device, const QLocale &locale,
                                 const SampleProgress &progress, QString *error)
{
    SampleWriter writer(device, locale);
    const int channels = data.channelCount();
    std::vector<const ChartChannel *> channel(static_cast<std::size_t>(channels));
    std::vector<qsizetype> counts(static_cast<std::size_t>(channels));
    qsizetype rows = 0;
    for (int c = 0; c < channels; ++c) {
        channel[std::size_t(c)] = &data.channel(c);
        counts[std::size_t(c)] = data.channel(c).count();
        rows = std::max(rows, counts[std::size_t(c)]);
        const QByteArray title = data.channel(c).title().toLocal8Bit();
        if (c > 0)
            writer.put(Tab);
        writer.put(title);
        writer.put(XSuffix, qsizetype(sizeof XSuffix - 1));
        writer.put(Tab);
        writer.put(title);
        writer.put(YSuffix, qsizetype(sizeof YSuffix - 1));
    }
    writer.put(LineEnd, qsizetype(sizeof LineEnd - 1));

    for (qsizetype r = 0; r < rows && !writer.failed(); ++r) {
        if (progress && r > 0 && r % SampleProgressRows == 0 && !progress(r, rows))
            return SampleFileResult::Cancelled;
        for (int c = 0; c < channels; ++c) {
            const ChartChannel &ch = *channel[std::size_t(c)];
            if (c > 0)
                writer.put(Tab);
            if (r >= counts[std::size_t(c)]) {
                writer.put(Tab);
                continue;
            }
            writer.putNumber(ch.x(r));
            writer.put(Tab);
            const PointMark mark = ch.hasMarks() ? ch.mark(r) : PointMark::None;
            if (mark == PointMark::Null)
                writer.put(NullText, qsizetype(sizeof NullText - 1));
            else if (mark == PointMark::Empty)
                writer.put(EmptyText, qsizetype(sizeof EmptyText - 1));
            else
                writer.putNumber(ch.y(r));
        }
        writer.put(LineEnd, qsizetype(sizeof LineEnd - 1));
    }
    if (!writer.flush()) {
        failWith(error, writer.errorText());
        return SampleFileResult::Failed;
    }
    if (progress && !progress(rows, rows))
        return SampleFileResult::Cancelled;
    return SampleFileResult::Done;
}

bool writeSampleData(const ChartData &data, QIODevice &device, const QLocale &locale, QString *error)
{
    return writeSampleData(data, device, locale, SampleProgress(), error) == SampleFileResult::Done;
}

SampleFileResult writeSampleDataFile(const ChartData &data, const QString &path,
                                     const SampleProgress &progress, QString *error, const QLocale &locale)
{
    return writeReplacingFile(path, error, [&](QIODevice &device, QString *reason) {
        return writeSampleData(data, device, locale, progress, reason);
    });
}

} // namespace

// Running out of memory ends the one export with its reason; the chart
// keeps what it held.

bool WriteSampleData(const ChartData &data, QIODevice &device, const QLocale &locale, QString *error)
{
    try {
        return writeSampleData(data, device, locale, error);
    } catch (const std::bad_alloc &) {
        return outOfMemory(error);
    }
}

QByteArray FormatSampleData(const ChartData &data, const QLocale &locale)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteSampleData(data, buffer, locale, nullptr);
    return bytes;
}

SampleFileResult WriteSampleDataFile(const ChartData &data, const QString &path,
                                     const SampleProgress &progress, QString *error, const QLocale &locale)
{
    try {
        return writeSampleDataFile(data, path, progress, error, locale);
    } catch (const std::bad_alloc &) {
        outOfMemory(error);
        return SampleFileResult::Failed;
    }
}

bool WriteSampleDataFile(const ChartData &data, const QString &path, QString *error, const QLocale &locale)
{
    return WriteSampleDataFile(data, path, SampleProgress(), error, locale) == SampleFileResult::Done;
}
