// Import: reads sample-data text piece by piece (tab- or comma-separated,
// X/Y pairs or one shared X column) and appends its points to the chart.

#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"
#include "chart/SampleDataFilePrivate.h"
#include "io/NumberText.h"
#include "io/Platform.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

using namespace SampleDataDetail;

namespace
{

constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr char CompactLayoutLine[] = "Compact Interval";
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

constexpr qsizetype MaxAsciiCell = 64;   // longer cells go through the locale's parser
constexpr int MaxQuotedCell = 40;        // how much of a bad cell an error message shows
constexpr qsizetype StagedPoints = 4096; // points an import gathers per channel before handing them over

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
            // No line of a sample file comes near the limit: what is longer
            // is not read any further.
            if (p - m_next > SampleMaxLineBytes)
                return lineTooLong();
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
    bool lineTooLong()
    {
        m_readFailed = true;
        m_readError = QStringLiteral("Line %1 is longer than %2 bytes; no line of sample data is that long.")
                          .arg(m_lineNumber + 1)
                          .arg(SampleMaxLineBytes);
        return false;
    }

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
        if (!m_progress)
            return true;
        const qint64 position = m_source.position();
        if (++m_rows % SampleProgressRows != 0 && position - m_reportedBytes < SampleProgressBytes)
            return true;
        for (int c = 0; c < m_data.channelCount(); ++c)
            handOver(c);
        m_reportedBytes = position;
        m_cancelled = !m_progress(std::min(position, m_total), m_total);
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
    qint64 m_reportedBytes = 0; ///< position at the last report
    bool m_cancelled = false;
};

bool readSampleData(ChartData &data, LineSource &source, const QLocale &locale, QString *error)
{
    return SampleParser(data, source, locale).run(error) == SampleFileResult::Done;
}

SampleFileResult readSampleDataFile(ChartData &data, const QString &path, const SampleProgress &progress,
                                    QString *error, const QLocale &locale, qsizetype chunkBytes)
{
    // Unbuffered: each piece is read straight into the reader's buffer. Only
    // a regular file: a FIFO or a device would never end (or never start).
    QFile file;
    if (QString reason; !Platform::OpenRegularFile(path, file, QIODevice::Unbuffered, &reason))
        return failed(error, reason);
    LineSource source(file, chunkBytes, path);
    return SampleParser(data, source, locale, progress, file.size()).run(error);
}

} // namespace

// Running out of memory ends the one import with its reason; the chart
// keeps what it held and what the import had added.

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
