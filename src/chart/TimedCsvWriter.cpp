// Export of the time-stamped CSV file (layout in TimedCsvFile.h): one cursor
// per column walks its channel in X order, each row takes the smallest X
// ahead of them, and the text is streamed out through one fixed buffer.

#include "chart/ChartData.h"
#include "chart/SampleDataFilePrivate.h"
#include "chart/TimedCsvFile.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

using namespace SampleDataDetail;

namespace
{

constexpr char Utf8Bom[] = "\xEF\xBB\xBF";
constexpr char LineEnd[] = "\r\n";
constexpr char TimeHeader[] = "time,epoch_ms";
constexpr char Quote = '"';
constexpr int SignificantDigits = 15;
constexpr double IntegerFastLimit = 1e15; // whole numbers below this are written as plain integers
constexpr qsizetype MaxNumberBytes = 32; // longest number text (24 in fact)
constexpr qint64 MsPerSecond = 1000;
constexpr qint64 MsPerHour = 3600 * MsPerSecond;
constexpr qint64 MsPerDay = 24 * MsPerHour;
// Instants whose local date lies surely within the years 1..9999 in any
// zone; the others go through QDateTime's own text.
constexpr qint64 FastTimeFirstMs = MsPerDay;                 // 1970-01-02 UTC
constexpr qint64 FastTimeEndMs = 253402214400000 - MsPerDay; // 9999-12-30 UTC
constexpr qint64 UnixEpochDays = 719468;                     // days from 0000-03-01 to 1970-01-01
constexpr qint64 DaysPerEra = 146097;                        // 400 years

char *putDigits(char *out, qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// The local wall-clock text of instants. The zone's offset is taken from
// QDateTime once per UTC hour and reused for every instant of that hour when
// it is the same at both ends (there is no change of offset inside it);
// otherwise each instant of that hour asks QDateTime.
class LocalTimeText
{
public:
    // Writes the text of `ms` (yyyy-MM-dd HH:mm:ss.zzz: 23 bytes in the
    // years 1..9999, at most MaxNumberBytes otherwise); returns the end.
    char *write(qint64 ms, char *out)
    {
        if (ms < FastTimeFirstMs || ms >= FastTimeEndMs)
            return slow(ms, out);
        if (ms < m_from || ms >= m_to) {
            const qint64 hour = ms - ms % MsPerHour;
            const qint64 offset = offsetAt(hour);
            if (offset == offsetAt(hour + MsPerHour - 1)) {
                m_from = hour;
                m_to = hour + MsPerHour;
                m_offsetMs = offset;
            } else {
                m_from = m_to = 0;
                return slow(ms, out);
            }
        }
        return civil(ms + m_offsetMs, out);
    }

private:
    static qint64 offsetAt(qint64 ms)
    {
        return qint64(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * MsPerSecond;
    }

    static char *slow(qint64 ms, char *out)
    {
        const QByteArray text =
            QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        const qsizetype size = std::min<qsizetype>(text.size(), MaxNumberBytes);
        std::memcpy(out, text.constData(), std::size_t(size));
        return out + size;
    }

    // Date and time of day of `local` ms (days counted from 1970-01-01) in
    // the proleptic Gregorian calendar.
    static char *civil(qint64 local, char *out)
    {
        const qint64 days = local / MsPerDay; // local > 0 here
        qint64 rest = local % MsPerDay;
        const qint64 z = days + UnixEpochDays;
        const qint64 era = z / DaysPerEra;
        const qint64 dayOfEra = z - era * DaysPerEra;
        const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // 0 = March
        const qint64 day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
        const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
        const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
        out = putDigits(out, year, 4);
        *out++ = '-';
        out = putDigits(out, month, 2);
        *out++ = '-';
        out = putDigits(out, day, 2);
        *out++ = ' ';
        out = putDigits(out, rest / MsPerHour, 2);
        rest %= MsPerHour;
        *out++ = ':';
        out = putDigits(out, rest / (60 * MsPerSecond), 2);
        rest %= 60 * MsPerSecond;
        *out++ = ':';
        out = putDigits(out, rest / MsPerSecond, 2);
        *out++ = '.';
        return putDigits(out, rest % MsPerSecond, 3);
    }

    qint64 m_from = 0; // [m_from, m_to): instants with the offset m_offsetMs
    qint64 m_to = 0;
    qint64 m_offsetMs = 0;
};

// The significant digits (trailing zeros dropped) and the decimal exponent
// of a text std::to_chars wrote in scientific form: [-]d[.ddd]e(+|-)dd[d].
struct Scientific {
    char digits[24];
    int count = 0;
    int exponent = 0;

    Scientific(const char *text, const char *end)
    {
        const char *p = text + (*text == '-' ? 1 : 0);
        for (; *p != 'e'; ++p) {
            if (*p != '.')
                digits[count++] = *p;
        }
        while (count > 1 && digits[count - 1] == '0')
            --count;
        std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    }
};

// Writes a finite value as QString::number(value, 'g', 15) does: at most 15
// significant digits, no trailing zeros, exponent form only below 1e-4 and
// from 1e15 on; "." as decimal point. The digits are the shortest ones that
// read back as the value when there are at most 15 of them (they are then
// also the value rounded to 15 digits), else the value rounded to 15 digits;
// an exact tie (a value of exactly 16 digits ending in 5) goes to even.
char *formatNumber(double value, char *out)
{
    if (std::fabs(value) < IntegerFastLimit && value == std::trunc(value))
        return std::to_chars(out, out + MaxNumberBytes, static_cast<long long>(value)).ptr;
    char text[40];
    const char *end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
    Scientific number(text, end);
    // Subnormal values read back from fewer digits than they hold.
    if (number.count > SignificantDigits || !std::isnormal(value)) {
        end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                            SignificantDigits - 1)
                  .ptr;
        number = Scientific(text, end);
    }
    const char *digits = number.digits;
    const int count = number.count;
    const int exponent = number.exponent;
    if (value < 0)
        *out++ = '-';
    if (exponent < -4 || exponent >= SignificantDigits) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            out = std::copy(digits + 1, digits + count, out);
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude < 10)
            *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -exponent - 1, '0');
        return std::copy(digits, digits + count, out);
    }
    for (int i = 0; i <= exponent; ++i)
        *out++ = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
        *out++ = '.';
        out = std::copy(digits + exponent + 1, digits + count, out);
    }
    return out;
}

// Buffered output of one file, with header cells quoted as needed.
class CsvOut : public BufferedOut
{
public:
    using BufferedOut::BufferedOut;

    // A header cell, quoted when it holds a separator, a quote or a line end.
    void putCell(const QByteArray &text)
    {
        if (!text.contains(',') && !text.contains(Quote) && !text.contains('\r') && !text.contains('\n')) {
            put(text);
            return;
        }
        put(Quote);
        for (char c : text) {
            if (c == Quote)
                put(Quote);
            put(c);
        }
        put(Quote);
    }
};

// Where a column stands in its channel: the next point to write and the end
// of the points it writes.
struct Cursor {
    const ChartChannel *channel = nullptr;
    qsizetype next = 0;
    qsizetype end = 0;
};

// First index in [0, count) whose X is not below x (`orEqual`: above x),
// for X values that ascend.
qsizetype boundOf(const ChartChannel &channel, qsizetype count, double x, bool orEqual)
{
    qsizetype low = 0;
    qsizetype high = count;
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const double at = channel.x(middle);
        if (at < x || (orEqual && at == x))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

class RowWalker
{
public:
    RowWalker(const ChartData &data, const QList<TimedCsvColumn> &columns,
              std::optional<std::pair<double, double>> xRange)
    {
        m_start.reserve(std::size_t(columns.size()));
        for (const TimedCsvColumn &column : columns) {
            Cursor cursor;
            cursor.channel = &data.channel(column.channel);
            cursor.end = cursor.channel->count();
            if (xRange) {
                cursor.next = boundOf(*cursor.channel, cursor.end, xRange->first, false);
                cursor.end = boundOf(*cursor.channel, cursor.end, xRange->second, true);
                cursor.next = std::min(cursor.next, cursor.end);
            }
            m_start.push_back(cursor);
        }
        rewind();
    }

    void rewind() { m_cursors = m_start; }
    qsizetype columns() const { return qsizetype(m_cursors.size()); }

    // The next row's X: the smallest X ahead of the cursors (points whose X
    // is not finite are passed over). False when every cursor is at its end.
    bool nextX(double &x)
    {
        bool any = false;
        for (Cursor &cursor : m_cursors) {
            while (cursor.next < cursor.end) {
                const double at = cursor.channel->x(cursor.next);
                if (!std::isfinite(at)) {
                    ++cursor.next;
                    continue;
                }
                if (!any || at < x)
                    x = at;
                any = true;
                break;
            }
        }
        return any;
    }

    // The point of column c at X = x, taken: its index, or -1 when the
    // column has none there.
    qsizetype take(qsizetype c, double x)
    {
        Cursor &cursor = m_cursors[std::size_t(c)];
        if (cursor.next >= cursor.end || cursor.channel->x(cursor.next) != x)
            return -1;
        return cursor.next++;
    }

    const ChartChannel &channel(qsizetype c) const { return *m_cursors[std::size_t(c)].channel; }

private:
    std::vector<Cursor> m_start;
    std::vector<Cursor> m_cursors;
};

SampleFileResult writeRows(const ChartData &data, const QList<TimedCsvColumn> &columns,
                           std::optional<std::pair<double, double>> xRange, QIODevice &device,
                           const SampleProgress &progress, QString *error)
{
    RowWalker walker(data, columns, xRange);
    const qsizetype width = walker.columns();
    double x = 0.0;
    qint64 rows = 0;
    while (walker.nextX(x)) {
        for (qsizetype c = 0; c < width; ++c)
            walker.take(c, x);
        ++rows;
    }
    walker.rewind();

    CsvOut out(device);
    out.put(Utf8Bom, qsizetype(sizeof Utf8Bom - 1));
    out.put(TimeHeader, qsizetype(sizeof TimeHeader - 1));
    for (const TimedCsvColumn &column : columns) {
        out.put(Comma);
        out.putCell(column.header.toUtf8());
    }
    out.put(LineEnd, qsizetype(sizeof LineEnd - 1));

    LocalTimeText timeText;
    std::vector<qsizetype> points(std::size_t(width), -1);
    for (qint64 r = 0; r < rows && !out.failed(); ++r) {
        if (progress && r > 0 && r % SampleProgressRows == 0 && !progress(r, rows))
            return SampleFileResult::Cancelled;
        walker.nextX(x);
        bool timed = false;
        qint64 ms = std::numeric_limits<qint64>::max();
        for (qsizetype c = 0; c < width; ++c) {
            const qsizetype i = walker.take(c, x);
            points[std::size_t(c)] = i;
            if (i >= 0 && walker.channel(c).hasTimes()) {
                ms = std::min(ms, walker.channel(c).time(i));
                timed = true;
            }
        }
        if (timed) {
            out.done(timeText.write(ms, out.room(MaxNumberBytes)));
            out.put(Comma);
            char *at = out.room(MaxNumberBytes);
            out.done(std::to_chars(at, at + MaxNumberBytes, ms).ptr);
        } else {
            out.put(Comma);
        }
        for (qsizetype c = 0; c < width; ++c) {
            out.put(Comma);
            const qsizetype i = points[std::size_t(c)];
            if (i < 0)
                continue;
            const ChartChannel &channel = walker.channel(c);
            const double y = channel.y(i);
            if (std::isfinite(y) && !channel.isGap(i))
                out.done(formatNumber(y, out.room(MaxNumberBytes)));
        }
        out.put(LineEnd, qsizetype(sizeof LineEnd - 1));
    }
    if (!out.flush())
        return failed(error, out.errorText());
    if (progress && !progress(rows, rows))
        return SampleFileResult::Cancelled;
    return SampleFileResult::Done;
}

SampleFileResult writeTimedCsvFile(const ChartData &data, const QList<TimedCsvColumn> &columns,
                                   std::optional<std::pair<double, double>> xRange, const QString &path,
                                   const SampleProgress &progress, QString *error)
{
    if (columns.size() > TimedCsvMaxColumns)
        return failed(error, QStringLiteral("%1 columns are more than the %2 a file can hold.")
                                 .arg(columns.size())
                                 .arg(TimedCsvMaxColumns));
    for (const TimedCsvColumn &column : columns) {
        if (column.channel < 0 || column.channel >= data.channelCount())
            return failed(error,
                          QStringLiteral("The column \"%1\" shows channel %2, which the chart does not have.")
                              .arg(column.header)
                              .arg(column.channel));
    }
    return writeReplacingFile(path, error, [&](QIODevice &device, QString *reason) {
        return writeRows(data, columns, xRange, device, progress, reason);
    });
}

} // namespace

SampleFileResult WriteTimedCsvFile(const ChartData &data, const QList<TimedCsvColumn> &columns,
                                   std::optional<std::pair<double, double>> xRange, const QString &path,
                                   const SampleProgress &progress, QString *error)
{
    try {
        return writeTimedCsvFile(data, columns, xRange, path, progress, error);
    } catch (const std::bad_alloc &) {
        outOfMemory(error);
        return SampleFileResult::Failed;
    }
}
