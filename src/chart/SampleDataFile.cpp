#include "chart/SampleDataFile.h"

#include "chart/ChartData.h"
#include "io/FileReplacement.h"
#include "io/NumberText.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace
{

constexpr char Tab = '\t';
constexpr char Comma = ',';
constexpr char Dot = '.';
constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr char LineEnd[] = "\r\n";
constexpr char XSuffix[] = "(X)";
constexpr char YSuffix[] = "(Y)";
constexpr char NullText[] = "Null";
constexpr char EmptyText[] = "Empty";
constexpr char CompactLayoutLine[] = "Compact Interval";
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

constexpr int SignificantDigits = 15;
constexpr int MinExponentDigits = 2; // 1e-05, 1e+300
constexpr int FixedNotationMinExponent = -4;
constexpr double IntegerFastLimit = 1e15; // whole numbers below this print as plain integers
// Rounded to 15 digits, larger magnitudes would exceed the largest double and
// not read back; they are written with as many digits as they need (16 or 17).
constexpr double LargestGeneral15 = 1.79769313486231e308;

constexpr qsizetype WriteBufferSize = qsizetype(1) << 16;
constexpr qsizetype MaxAsciiNumber = 32; // longest number formatAscii writes (22 in fact)
constexpr qsizetype MaxAsciiCell = 64;   // longer cells go through the locale's parser
constexpr int MaxQuotedCell = 40;        // how much of a bad cell an error message shows
constexpr qsizetype StagedPoints = 4096; // points an import gathers per channel before handing them over

// Largest buffer the reader or the writer may take; negative: any (see
// SetSampleBufferLimit).
qsizetype g_bufferLimit = -1;

// The reader's and the writer's buffers, uninitialised. Fails with
// std::bad_alloc like any allocation, and also when the buffer is larger
// than the limit set for tests.
template <typename T> std::unique_ptr<T[]> takeBuffer(qsizetype count)
{
    if (g_bufferLimit >= 0 && count > g_bufferLimit / qsizetype(sizeof(T)))
        throw std::bad_alloc();
    return std::make_unique_for_overwrite<T[]>(std::size_t(count));
}

// How a locale writes numbers, when it writes them in plain ASCII: digits
// 0-9, "-" and "+", a one-character decimal separator and "e" or "E".
struct AsciiNumberStyle {
    bool usable = false;
    char decimalPoint = Dot;
    char exponent = 'e';
};

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

AsciiNumberStyle asciiNumberStyle(const QLocale &locale)
{
    AsciiNumberStyle style;
    const QString point = locale.decimalPoint();
    const QString exponent = locale.exponential();
    if (point.size() != 1 || exponent.size() != 1 || locale.negativeSign() != QLatin1String("-") ||
        locale.positiveSign() != QLatin1String("+") || locale.zeroDigit() != QLatin1String("0"))
        return style;
    const char16_t p = point.front().unicode();
    const char16_t e = exponent.front().unicode();
    if (p >= 0x80 || (e != u'e' && e != u'E'))
        return style;
    style.decimalPoint = char(p);
    style.exponent = char(e);
    // The separator must not be confusable with any other part of a number.
    style.usable = !isAsciiDigit(style.decimalPoint) && std::strchr("+-eE \t", style.decimalPoint) == nullptr;
    return style;
}

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
class SampleWriter
{
public:
    SampleWriter(QIODevice &device, const QLocale &locale)
        : m_device(device), m_locale(locale), m_style(asciiNumberStyle(locale)),
          m_buffer(takeBuffer<char>(WriteBufferSize))
    {
        m_style.usable = m_style.usable && agreesWithLocale();
    }

    bool failed() const { return m_failed; }
    const QString &errorText() const { return m_error; }

    void put(char c)
    {
        room(1);
        m_buffer[std::size_t(m_used++)] = c;
    }

    void put(const char *bytes, qsizetype size)
    {
        if (size > WriteBufferSize - m_used) {
            flush();
            if (size > WriteBufferSize) {
                writeOut(bytes, size);
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, bytes, std::size_t(size));
        m_used += size;
    }

    void put(const QByteArray &bytes) { put(bytes.constData(), bytes.size()); }

    void putNumber(double value)
    {
        if (m_style.usable) {
            room(MaxAsciiNumber);
            if (char *end = formatAscii(value, m_style, m_buffer.get() + m_used)) {
                m_used = end - m_buffer.get();
                return;
            }
        }
        put(localeNumber(value));
    }

    bool flush()
    {
        if (m_used > 0)
            writeOut(m_buffer.get(), m_used);
        m_used = 0;
        return !m_failed;
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

    void room(qsizetype size)
    {
        if (m_used + size > WriteBufferSize)
            flush();
    }

    // A short write is retried with the rest, so that a full disk shows up
    // as the system's error rather than as a silent short count.
    void writeOut(const char *bytes, qsizetype size)
    {
        while (!m_failed && size > 0) {
            const qint64 written = m_device.write(bytes, size);
            if (written <= 0) {
                m_failed = true;
                m_error =
                    written < 0 ? m_device.errorString() : QStringLiteral("The device accepts no more data.");
                return;
            }
            bytes += written;
            size -= written;
        }
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

    QIODevice &m_device;
    QLocale m_locale;
    AsciiNumberStyle m_style;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    bool m_failed = false;
    QString m_error;
};

// ---------------------------------------------------------------- reading

bool isBlank(char c)
{
    return c == ' ' || c == Tab || c == Lf || c == '\v' || c == '\f' || c == Cr;
}

bool isBlankCell(QByteArrayView cell)
{
    for (char c : cell) {
        if (!isBlank(c))
            return false;
    }
    return true;
}

bool equalsIgnoringCase(QByteArrayView cell, QByteArrayView word)
{
    return cell.size() == word.size() && qstrnicmp(cell.data(), word.data(), word.size()) == 0;
}

bool startsWithIgnoringCase(QByteArrayView line, QByteArrayView prefix)
{
    return line.size() >= prefix.size() && qstrnicmp(line.data(), prefix.data(), prefix.size()) == 0;
}

// The number rules of one import: the locale's parser, and an exact ASCII
// shortcut for the common locales.
class CellReader
{
public:
    explicit CellReader(const QLocale &locale) : m_locale(locale)
    {
        const QString point = locale.decimalPoint();
        if (point == QLatin1String(".")) {
            m_replaceFrom = Comma;
            m_replaceTo = u'.';
        } else if (point == QLatin1String(",")) {
            m_replaceFrom = Dot;
            m_replaceTo = u',';
        }
        const AsciiNumberStyle style = asciiNumberStyle(locale);
        m_fast = style.usable;
        m_decimalPoint = style.decimalPoint;
    }

    // The number in a cell; with `replace`, the first "," or "." is first
    // turned into the locale's decimal separator (files of either convention
    // read on either locale).
    bool number(QByteArrayView cell, bool replace, double &value) const
    {
        const char replaceFrom = replace ? m_replaceFrom : 0;
        if (m_fast && cell.size() <= MaxAsciiCell && parseAscii(cell, replaceFrom, value))
            return true;
        QString text = QString::fromLocal8Bit(cell);
        if (replaceFrom) {
            const qsizetype at = text.indexOf(QLatin1Char(replaceFrom));
            if (at >= 0)
                text[at] = QChar(m_replaceTo);
        }
        return ParseLocaleDouble(text, value, m_locale);
    }

private:
    // Accepts only plain numbers ([sign] digits [point digits] [e [sign]
    // digits], blanks around) that the locale's parser reads to the same
    // value; false means "ask the locale", not "invalid".
    bool parseAscii(QByteArrayView cell, char replaceFrom, double &value) const
    {
        const char *p = cell.data();
        const char *end = p + cell.size();
        while (p < end && (*p == ' ' || *p == Tab))
            ++p;
        while (end > p && (end[-1] == ' ' || end[-1] == Tab))
            --end;
        char text[MaxAsciiCell + 1];
        int n = 0;
        bool negative = false;
        if (p < end && (*p == '-' || *p == '+'))
            negative = *p++ == '-';
        const auto digitRun = [&] {
            const int start = n;
            while (p < end && isAsciiDigit(*p))
                text[n++] = *p++;
            return n - start;
        };
        if (digitRun() == 0)
            return false;
        // With one separator at most, the first one to replace is this one.
        if (p < end && (*p == m_decimalPoint || (replaceFrom && *p == replaceFrom))) {
            ++p;
            text[n++] = Dot;
            if (digitRun() == 0)
                return false;
        }
        if (p < end && (*p == 'e' || *p == 'E')) {
            text[n++] = *p++;
            if (p < end && (*p == '-' || *p == '+'))
                text[n++] = *p++;
            if (digitRun() == 0)
                return false;
        }
        if (p != end)
            return false;
        double parsed = 0.0;
        const auto result = std::from_chars(text, text + n, parsed);
        // Out of range and subnormal results are the locale's to judge.
        if (result.ec != std::errc() || result.ptr != text + n || (parsed != 0.0 && !std::isnormal(parsed)))
            return false;
        value = negative ? -parsed : parsed;
        return true;
    }

    QLocale m_locale;
    char m_replaceFrom = 0; // 0: the locale's separator is neither "." nor ","
    char16_t m_replaceTo = 0;
    bool m_fast = false;
    char m_decimalPoint = Dot;
};

// Cuts a line into cells at every separator; a separator at the very end
// opens no further cell. Keeps at most `capacity` cells, returns how many.
int splitCells(QByteArrayView line, char separator, QByteArrayView *cells, int capacity)
{
    if (line.isEmpty())
        return 0;
    const char *p = line.data();
    const char *end = p + line.size();
    int count = 0;
    while (count < capacity) {
        const auto *at = static_cast<const char *>(std::memchr(p, separator, std::size_t(end - p)));
        if (!at) {
            cells[count++] = QByteArrayView(p, end - p);
            break;
        }
        cells[count++] = QByteArrayView(p, at - p);
        p = at + 1;
        if (p == end)
            break;
    }
    return count;
}

// Reads the lines of an import: either bytes that are all at hand, or a
// device read piece by piece into one buffer of a fixed size, so that memory
// use does not grow with the file. A line cut at the end of a piece is moved
// to the front of the buffer and completed by the next read; a line longer
// than the buffer makes it grow to hold that line.
class LineSource
{
public:
    // All the bytes at once; nothing is copied.
    explicit LineSource(QByteArrayView bytes)
        : m_next(bytes.data()), m_end(bytes.data() + bytes.size()), m_atEnd(true), m_readBytes(bytes.size())
    {
    }

    // A device open for reading, read in pieces of `chunkBytes`; `name` is
    // the file's name for error texts (empty: a device without one).
    LineSource(QIODevice &device, qsizetype chunkBytes, QString name)
        : m_device(&device), m_capacity(std::max<qsizetype>(chunkBytes, 1)), m_name(std::move(name))
    {
    }

    qint64 lineNumber() const { return m_lineNumber; }
    /// Bytes taken by the lines returned so far.
    qint64 position() const { return m_readBytes - qint64(m_end - m_next); }
    bool readFailed() const { return m_readFailed; }
    const QString &readError() const { return m_readError; }

    // Has at least `count` bytes ahead, unless the data ends before; false
    // when reading fails.
    bool fillAtLeast(qsizetype count)
    {
        while (!m_atEnd && m_end - m_next < count) {
            if (!refill())
                return false;
        }
        return true;
    }

    QByteArrayView ahead() const { return QByteArrayView(m_next, m_end - m_next); }
    void skip(qsizetype count) { m_next += count; }

    // The next line without its end (CR, LF or CR LF); valid until the next
    // call. False at the end of the data and when reading fails.
    bool nextLine(QByteArrayView &line)
    {
        const char *p = m_next;
        for (;;) {
            while (p < m_end && *p != Cr && *p != Lf)
                ++p;
            // Complete: its end is in the buffer, and a CR is not the last
            // byte read (an LF may follow in the next piece).
            if (m_atEnd || p + 1 < m_end || (p + 1 == m_end && *p == Lf))
                break;
            const qsizetype scanned = p - m_next;
            if (!refill())
                return false;
            p = m_next + scanned;
        }
        if (m_next == m_end)
            return false;
        line = QByteArrayView(m_next, p - m_next);
        if (p < m_end)
            p += (*p == Cr && p + 1 < m_end && p[1] == Lf) ? 2 : 1;
        m_next = p;
        ++m_lineNumber;
        return true;
    }

private:
    // Keeps the unfinished line, moved to the front, and reads the next piece
    // behind it. A read of nothing is the end of the data.
    bool refill()
    {
        const qsizetype kept = m_end - m_next;
        if (!m_buffer) {
            m_buffer = takeBuffer<char>(m_capacity);
        } else if (kept == m_capacity) {
            auto larger = takeBuffer<char>(2 * m_capacity);
            std::memcpy(larger.get(), m_next, std::size_t(kept));
            m_buffer = std::move(larger);
            m_capacity *= 2;
        } else if (kept > 0 && m_next != m_buffer.get()) {
            std::memmove(m_buffer.get(), m_next, std::size_t(kept));
        }
        m_next = m_buffer.get();
        m_end = m_next + kept;
        const qint64 got = m_device->read(m_buffer.get() + kept, m_capacity - kept);
        if (got < 0) {
            m_readFailed = true;
            m_readError = m_name.isEmpty()
                              ? QStringLiteral("Cannot read the data: %1").arg(m_device->errorString())
                              : QStringLiteral("Cannot read file \"%1\": %2")
                                    .arg(QDir::toNativeSeparators(m_name), m_device->errorString());
            return false;
        }
        m_atEnd = got == 0;
        m_end += got;
        m_readBytes += got;
        return true;
    }

    QIODevice *m_device = nullptr;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_capacity = 0;
    QString m_name;
    const char *m_next = nullptr;
    const char *m_end = nullptr;
    bool m_atEnd = false;
    bool m_readFailed = false;
    QString m_readError;
    qint64 m_lineNumber = 0;
    qint64 m_readBytes = 0;
};

class SampleParser
{
public:
    // `total`: the size of the data in bytes, for the progress reports.
    SampleParser(ChartData &data, LineSource &source, const QLocale &locale,
                 const SampleProgress &progress = {}, qint64 total = 0)
        : m_data(data), m_cellReader(locale), m_source(source), m_progress(progress), m_total(total)
    {
    }

    // Parses everything; the points read before a failing cell or a cancel
    // stay. When memory runs out, the points already handed to the chart
    // stay too.
    SampleFileResult run(QString *error)
    {
        try {
            const int channels = m_data.channelCount();
            m_cells.resize(std::size_t(2 * channels + 1));
            m_staged = takeBuffer<double>(2 * StagedPoints * channels);
            m_stagedCount.assign(std::size_t(channels), 0);
            const bool ok = parse(error);
            for (int c = 0; c < channels; ++c)
                handOver(c);
            if (m_cancelled)
                return SampleFileResult::Cancelled;
            if (ok && m_progress) {
                const qint64 total = std::max(m_total, m_source.position());
                m_progress(total, total);
            }
            return ok ? SampleFileResult::Done : SampleFileResult::Failed;
        } catch (const std::bad_alloc &) {
            fail(error, m_source.lineNumber() > 0
                            ? QStringLiteral("Out of memory at line %1.").arg(m_source.lineNumber())
                            : QStringLiteral("Out of memory."));
            return SampleFileResult::Failed;
        }
    }

private:
    bool parse(QString *error)
    {
        if (!m_source.fillAtLeast(qsizetype(sizeof Utf8Bom - 1)))
            return readFailure(error);
        const QByteArrayView start = m_source.ahead();
        if (start.isEmpty())
            return fail(error, QStringLiteral("The file is empty."));
        if (start.startsWith(QByteArrayView(Utf8Bom)))
            m_source.skip(qsizetype(sizeof Utf8Bom - 1));
        QByteArrayView header;
        if (!m_source.nextLine(header) && m_source.readFailed())
            return readFailure(error);
        if (equalsIgnoringCase(header, CompactLayoutLine))
            return fail(error, QStringLiteral("The file has the compact \"Compact Interval\" layout, "
                                              "which is not supported."));
        m_separator = header.contains(Tab) ? Tab : Comma;
        const bool read = startsWithIgnoringCase(header, XSuffix) ? readSharedX(error) : readPairs(error);
        return read && (!m_source.readFailed() || readFailure(error));
    }

    bool readFailure(QString *error) const { return fail(error, m_source.readError()); }

    // Counts a data row (blank ones too) and reports every
    // SampleProgressRows rows, with the points of those rows handed over so
    // that a cancel keeps exactly them. False: cancelled.
    bool rowDone()
    {
        if (!m_progress || ++m_rows % SampleProgressRows != 0)
            return true;
        for (int c = 0; c < m_data.channelCount(); ++c)
            handOver(c);
        m_cancelled = !m_progress(std::min(m_source.position(), m_total), m_total);
        return !m_cancelled;
    }

    bool readPairs(QString *error)
    {
        const int channels = m_data.channelCount();
        QByteArrayView line;
        while (m_source.nextLine(line)) {
            const int cellCount = splitCells(line, m_separator, m_cells.data(), 2 * channels);
            for (int c = 0; c < cellCount / 2; ++c) {
                const int xCell = 2 * c;
                if (isBlankCell(m_cells[std::size_t(xCell)]))
                    continue;
                double x = 0.0;
                if (!number(xCell, true, x, error))
                    return false;
                if (!appendPoint(c, x, xCell + 1, true, error))
                    return false;
            }
            if (!rowDone())
                return false;
        }
        return true;
    }

    bool readSharedX(QString *error)
    {
        const int channels = m_data.channelCount();
        QByteArrayView line;
        while (m_source.nextLine(line)) {
            const int cellCount = splitCells(line, m_separator, m_cells.data(), channels + 1);
            if (cellCount == 0 || isBlankCell(m_cells[0]))
                continue;
            double x = 0.0;
            if (!number(0, false, x, error))
                return false;
            for (int j = 1; j < cellCount; ++j) {
                if (!appendPoint(j - 1, x, j, true, error))
                    return false;
            }
            if (!rowDone())
                return false;
        }
        return true;
    }

    // The point of channel c from Y cell `yCell`: none for a blank cell, a
    // marked (x, 0) for "NULL" or "EMPTY", else (x, number).
    bool appendPoint(int c, double x, int yCell, bool replace, QString *error)
    {
        const QByteArrayView cell = m_cells[std::size_t(yCell)];
        if (isBlankCell(cell))
            return true;
        PointMark mark = PointMark::None;
        if (equalsIgnoringCase(cell, "NULL"))
            mark = PointMark::Null;
        else if (equalsIgnoringCase(cell, "EMPTY"))
            mark = PointMark::Empty;
        if (mark != PointMark::None) {
            handOver(c);
            m_data.appendMarked(c, x, 0.0, mark);
            return true;
        }
        double y = 0.0;
        if (!number(yCell, replace, y, error))
            return false;
        // Gathered per channel and appended in runs, which builds the chart's
        // summaries far faster than one point at a time.
        qsizetype &staged = m_stagedCount[std::size_t(c)];
        double *stage = m_staged.get() + 2 * StagedPoints * c;
        stage[staged] = x;
        stage[StagedPoints + staged] = y;
        if (++staged == StagedPoints)
            handOver(c);
        return true;
    }

    // Appends the points gathered for channel c. Taken off the stage first:
    // a hand-over that runs out of memory is not tried again.
    void handOver(int c)
    {
        const qsizetype staged = std::exchange(m_stagedCount[std::size_t(c)], 0);
        const double *stage = m_staged.get() + 2 * StagedPoints * c;
        m_data.channel(c).appendRange(stage, stage + StagedPoints, staged);
    }

    bool number(int cellIndex, bool replace, double &value, QString *error) const
    {
        const QByteArrayView cell = m_cells[std::size_t(cellIndex)];
        if (m_cellReader.number(cell, replace, value))
            return true;
        QString shown = QString::fromLocal8Bit(cell.first(std::min<qsizetype>(cell.size(), MaxQuotedCell)));
        if (cell.size() > MaxQuotedCell)
            shown += QStringLiteral("...");
        return fail(error, QStringLiteral("\"%1\" is not a number (line %2, cell %3).")
                               .arg(shown)
                               .arg(m_source.lineNumber())
                               .arg(cellIndex + 1));
    }

    static bool fail(QString *error, const QString &reason)
    {
        if (error)
            *error = reason;
        return false;
    }

    ChartData &m_data;
    CellReader m_cellReader;
    LineSource &m_source;
    std::vector<QByteArrayView> m_cells;
    // Per channel: StagedPoints X, then StagedPoints Y. Not cleared: only the
    // gathered part is read, and short imports touch only a little of it.
    std::unique_ptr<double[]> m_staged;
    std::vector<qsizetype> m_stagedCount; // per channel
    char m_separator = Tab;
    SampleProgress m_progress;
    qint64 m_total = 0;
    qint64 m_rows = 0;
    bool m_cancelled = false;
};

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool failWith(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool outOfMemory(QString *error)
{
    return failWith(error, QStringLiteral("Out of memory."));
}

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

SampleFileResult failed(QString *error, const QString &reason)
{
    failWith(error, reason);
    return SampleFileResult::Failed;
}

SampleFileResult writeSampleDataFile(const ChartData &data, const QString &path,
                                     const SampleProgress &progress, QString *error, const QLocale &locale)
{
    const QFileInfo target(path);
    if (target.isDir())
        return failed(error,
                      QStringLiteral("Cannot create file \"%1\": it is a directory.").arg(nativePath(path)));
    // Renaming would replace a read-only file that could not be opened for writing.
    if (target.exists() && !target.isWritable())
        return failed(
            error, QStringLiteral("Cannot write file \"%1\": the file is read-only.").arg(nativePath(path)));

    // Written unbuffered (the writer has its own buffer), so the last bytes
    // cannot fail unnoticed, and flushed to the disk before the old file is
    // replaced. Leaving early, also by an exception, drops the new contents.
    FileReplacement file(path);
    if (!file.open())
        return failed(
            error, QStringLiteral("Cannot create file \"%1\": %2").arg(nativePath(path), file.errorString()));
    QString reason;
    const SampleFileResult written = writeSampleData(data, file.device(), locale, progress, &reason);
    if (written == SampleFileResult::Cancelled) {
        file.cancel();
        return written;
    }
    if (written == SampleFileResult::Failed) {
        file.cancel();
        return failed(error, QStringLiteral("Cannot write file \"%1\": %2").arg(nativePath(path), reason));
    }
    if (!file.commit())
        return failed(
            error, QStringLiteral("Cannot save file \"%1\": %2").arg(nativePath(path), file.errorString()));
    return SampleFileResult::Done;
}

bool readSampleData(ChartData &data, LineSource &source, const QLocale &locale, QString *error)
{
    return SampleParser(data, source, locale).run(error) == SampleFileResult::Done;
}

SampleFileResult readSampleDataFile(ChartData &data, const QString &path, const SampleProgress &progress,
                                    QString *error, const QLocale &locale, qsizetype chunkBytes)
{
    QFile file(path);
    // Unbuffered: each piece is read straight into the reader's buffer.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return failed(
            error, QStringLiteral("Cannot open file \"%1\": %2").arg(nativePath(path), file.errorString()));
    LineSource source(file, chunkBytes, path);
    return SampleParser(data, source, locale, progress, file.size()).run(error);
}

} // namespace

// Running out of memory ends the one export or import with its reason; the
// chart keeps what it held (an import also what it had added).

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

bool ParseSampleData(ChartData &data, QByteArrayView bytes, const QLocale &locale, QString *error)
{
    try {
        LineSource source(bytes);
        return readSampleData(data, source, locale, error);
    } catch (const std::bad_alloc &) {
        return outOfMemory(error);
    }
}

bool ReadSampleData(ChartData &data, QIODevice &device, const QLocale &locale, QString *error,
                    qsizetype chunkBytes)
{
    try {
        LineSource source(device, chunkBytes, QString());
        return readSampleData(data, source, locale, error);
    } catch (const std::bad_alloc &) {
        return outOfMemory(error);
    }
}

SampleFileResult ReadSampleDataFile(ChartData &data, const QString &path, const SampleProgress &progress,
                                    QString *error, const QLocale &locale, qsizetype chunkBytes)
{
    try {
        return readSampleDataFile(data, path, progress, error, locale, chunkBytes);
    } catch (const std::bad_alloc &) {
        outOfMemory(error);
        return SampleFileResult::Failed;
    }
}

bool ReadSampleDataFile(ChartData &data, const QString &path, QString *error, const QLocale &locale,
                        qsizetype chunkBytes)
{
    return ReadSampleDataFile(data, path, SampleProgress(), error, locale, chunkBytes) ==
           SampleFileResult::Done;
}

void SetSampleBufferLimit(qsizetype bytes)
{
    g_bufferLimit = bytes;
}

bool AppendMeanLine(ChartData &data, QString *error)
{
    if (data.channelCount() <= SampleChannels::MeanLine)
        return failWith(error, QStringLiteral("The chart has no channel for the mean line."));
    const ChartChannel &samples = data.channel(SampleChannels::Samples);
    const qsizetype n = samples.count();
    if (n == 0)
        return failWith(error, QStringLiteral("There are no samples to average, so no mean line is drawn."));
    double sum = 0.0;
    for (qsizetype i = 0; i < n; ++i)
        sum += samples.y(i);
    const double mean = sum / double(n);
    // Room for both ends first: the line is drawn whole or not at all.
    ChartChannel &line = data.channel(SampleChannels::MeanLine);
    try {
        line.reserve(2);
    } catch (const std::bad_alloc &) {
        return outOfMemory(error);
    }
    line.append(0.0, mean);
    line.append(double(n), mean);
    return true;
}
