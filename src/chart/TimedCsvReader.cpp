// Import of the time-stamped CSV file (layout in TimedCsvFile.h): the file is
// read in pieces into one buffer and cut into records with RFC 4180 quoting
// (a quoted cell may hold separators and line ends), then each row's cells
// become points of the channels the window chose for their columns.

#include "chart/ChartData.h"
#include "chart/SampleDataFilePrivate.h"
#include "chart/TimedCsvFile.h"
#include "io/Platform.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

using namespace SampleDataDetail;

namespace
{

constexpr char Utf8Bom[] = "\xEF\xBB\xBF";
constexpr char Quote = '"';
constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr int TimeColumns = 2; // time, epoch_ms
constexpr int EpochCell = 1;
constexpr int MaxQuotedCell = 40; // how much of a bad cell an error message shows
constexpr qsizetype MaxBufferBytes = 2 * std::max(SampleMaxLineBytes, SampleReadChunkBytes);
// Whole milliseconds a double may hold for epoch_ms (far beyond any date).
constexpr double MaxEpochMs = 9.0e18;

// Cuts the bytes of a device into records. Cells are views into the reader's
// buffer, valid until the next record is read; a quoted cell is given
// without its quotes and with its doubled quotes made single.
class RecordReader
{
public:
    enum class Outcome { Record, End, TooManyCells, Failed };

    // Reads `device` in pieces of `chunkBytes`; `name` is the file's name
    // for error texts.
    RecordReader(QIODevice &device, QString name, qsizetype chunkBytes)
        : m_device(device), m_name(std::move(name)),
          m_capacity(std::clamp(chunkBytes, qsizetype(1), MaxBufferBytes))
    {
    }

    /// Line of the file the last record began on (1-based).
    qint64 lineNumber() const { return m_recordLine; }
    /// Bytes taken by the records read so far.
    qint64 position() const { return m_readBytes - qint64(m_end - m_next); }
    const QString &errorText() const { return m_error; }
    const std::vector<QByteArrayView> &cells() const { return m_cells; }
    /// Whether the last record was a line with nothing on it.
    bool blank() const { return m_cells.size() == 1 && m_cells.front().isEmpty() && !m_lastQuoted; }

    /// Skips a UTF-8 byte order mark at the start. False when reading fails.
    bool skipByteOrderMark()
    {
        if (!fillAtLeast(qsizetype(sizeof Utf8Bom - 1)))
            return false;
        if (QByteArrayView(m_next, m_end - m_next).startsWith(QByteArrayView(Utf8Bom)))
            m_next += sizeof Utf8Bom - 1;
        return true;
    }

    /// Reads the next record of at most `maxCells` cells; TooManyCells as
    /// soon as it has more (the rest of it is not read).
    Outcome next(qsizetype maxCells)
    {
        if (m_pendingCr) {
            if (!fillAtLeast(1))
                return Outcome::Failed;
            if (m_next < m_end && *m_next == Lf)
                ++m_next;
            m_pendingCr = false;
        }
        m_recordLine = m_line + 1;
        m_bounds.clear();
        m_lastQuoted = false;
        State state = State::CellStart;
        qsizetype cellBegin = 0;
        bool quoted = false;
        qsizetype i = 0; // bytes of the record scanned, from m_next
        for (;;) {
            const char *base = m_next;
            const qsizetype available = m_end - m_next;
            while (i < available) {
                if (state == State::CellStart) {
                    if (base[i] == Quote) {
                        state = State::Quoted;
                        quoted = true;
                        ++i;
                        continue;
                    }
                    state = State::Plain;
                }
                if (state == State::Plain) {
                    while (i < available && base[i] != Comma && base[i] != Cr && base[i] != Lf)
                        ++i;
                    if (i == available)
                        break;
                    m_bounds.push_back({cellBegin, i, quoted});
                    if (base[i] != Comma)
                        return endRecord(i);
                    if (qsizetype(m_bounds.size()) >= maxCells)
                        return Outcome::TooManyCells;
                    cellBegin = ++i;
                    quoted = false;
                    state = State::CellStart;
                } else if (state == State::Quoted) {
                    const auto *at =
                        static_cast<const char *>(std::memchr(base + i, Quote, std::size_t(available - i)));
                    i = at ? at - base + 1 : available;
                    if (at)
                        state = State::QuoteSeen;
                } else { // QuoteSeen: a doubled quote, or the end of the quoted part
                    state = base[i] == Quote ? State::Quoted : State::Plain;
                    if (state == State::Quoted)
                        ++i;
                }
            }
            if (i > SampleMaxLineBytes)
                return fail(
                    QStringLiteral("Line %1 is longer than %2 bytes; no line of a CSV file of the chart "
                                   "is that long.")
                        .arg(m_recordLine)
                        .arg(SampleMaxLineBytes));
            if (m_atEnd)
                break;
            if (!refill())
                return Outcome::Failed;
        }
        // The end of the file ends the last record.
        if (state == State::Quoted)
            return fail(
                QStringLiteral("Line %1: a quoted cell has no closing quote before the end of the file.")
                    .arg(m_recordLine));
        if (i == 0 && m_bounds.empty())
            return Outcome::End;
        m_bounds.push_back({cellBegin, i, quoted});
        return endRecord(i);
    }

private:
    enum class State { CellStart, Plain, Quoted, QuoteSeen };

    struct Bounds {
        qsizetype begin;
        qsizetype end;
        bool quoted;
    };

    // The record is the `length` bytes at m_next; a CR or LF may follow.
    Outcome endRecord(qsizetype length)
    {
        if (length > SampleMaxLineBytes)
            return fail(QStringLiteral("Line %1 is longer than %2 bytes; no line of a CSV file of the chart "
                                       "is that long.")
                            .arg(m_recordLine)
                            .arg(SampleMaxLineBytes));
        char *base = m_next;
        qint64 lines = 1;
        m_cells.clear();
        for (const Bounds &cell : m_bounds) {
            if (!cell.quoted) {
                m_cells.emplace_back(base + cell.begin, cell.end - cell.begin);
                continue;
            }
            // Unquoted in place: the text only gets shorter.
            char *to = base + cell.begin;
            bool inQuotes = true;
            for (qsizetype k = cell.begin + 1; k < cell.end; ++k) {
                const char c = base[k];
                if (inQuotes && c == Quote) {
                    if (k + 1 < cell.end && base[k + 1] == Quote)
                        ++k;
                    else {
                        inQuotes = false;
                        continue;
                    }
                }
                lines += c == Lf ? 1 : 0;
                *to++ = c;
            }
            m_cells.emplace_back(base + cell.begin, to - (base + cell.begin));
        }
        m_lastQuoted = !m_bounds.empty() && m_bounds.back().quoted;
        m_next += length;
        if (m_next < m_end) {
            m_pendingCr = *m_next == Cr;
            ++m_next;
        }
        m_line += lines;
        return Outcome::Record;
    }

    Outcome fail(const QString &reason)
    {
        m_error = reason;
        return Outcome::Failed;
    }

    bool fillAtLeast(qsizetype count)
    {
        while (!m_atEnd && m_end - m_next < count) {
            if (!refill())
                return false;
        }
        return true;
    }

    // Keeps the unfinished record, moved to the front (into a buffer twice
    // the size when it fills the buffer), and reads the next piece behind
    // it. A read of nothing is the end of the file.
    bool refill()
    {
        const qsizetype kept = m_end - m_next;
        if (!m_buffer) {
            m_buffer = takeBuffer<char>(m_capacity);
        } else if (kept == m_capacity) {
            // A record is never kept beyond SampleMaxLineBytes, so the
            // buffer stops growing below MaxBufferBytes.
            const qsizetype larger = std::clamp(2 * m_capacity, qsizetype(1), MaxBufferBytes);
            auto buffer = takeBuffer<char>(larger);
            std::memcpy(buffer.get(), m_next, std::size_t(kept));
            m_buffer = std::move(buffer);
            m_capacity = larger;
        } else if (kept > 0 && m_next != m_buffer.get()) {
            std::memmove(m_buffer.get(), m_next, std::size_t(kept));
        }
        m_next = m_buffer.get();
        m_end = m_next + kept;
        const qint64 got = m_device.read(m_buffer.get() + kept, m_capacity - kept);
        if (got < 0) {
            m_error =
                QStringLiteral("Cannot read file \"%1\": %2").arg(nativePath(m_name), m_device.errorString());
            return false;
        }
        m_atEnd = got == 0;
        m_end += got;
        m_readBytes += got;
        return true;
    }

    QIODevice &m_device;
    QString m_name;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_capacity;
    char *m_next = nullptr;
    char *m_end = nullptr;
    bool m_atEnd = false;
    bool m_pendingCr = false; // the last record ended in CR: an LF after it belongs to it
    qint64 m_readBytes = 0;
    qint64 m_line = 0; // lines the records so far took
    qint64 m_recordLine = 0;
    std::vector<Bounds> m_bounds;
    std::vector<QByteArrayView> m_cells;
    bool m_lastQuoted = false;
    QString m_error;
};

QByteArrayView trimmed(QByteArrayView cell)
{
    while (!cell.isEmpty() && (cell.front() == ' ' || cell.front() == '\t'))
        cell = cell.sliced(1);
    while (!cell.isEmpty() && (cell.back() == ' ' || cell.back() == '\t'))
        cell.chop(1);
    return cell;
}

// A finite number in plain decimal or exponent form, "." as decimal point.
bool parseNumber(QByteArrayView cell, double &value)
{
    const char *p = cell.data();
    const char *end = p + cell.size();
    if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-')
        ++p;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

// Milliseconds since the epoch: an integer, or a number with a whole value
// (as a spreadsheet may write it back, e.g. 1.7e+12).
bool parseEpochMs(QByteArrayView cell, qint64 &ms)
{
    const char *end = cell.data() + cell.size();
    const auto result = std::from_chars(cell.data(), end, ms);
    if (result.ec == std::errc() && result.ptr == end)
        return true;
    double value = 0.0;
    if (!parseNumber(cell, value) || std::fabs(value) > MaxEpochMs || value != std::trunc(value))
        return false;
    ms = qint64(value);
    return true;
}

QString shown(QByteArrayView cell)
{
    QString text = QString::fromUtf8(cell.first(std::min<qsizetype>(cell.size(), MaxQuotedCell)));
    return cell.size() > MaxQuotedCell ? text + QStringLiteral("...") : text;
}

class TimedCsvParser
{
public:
    TimedCsvParser(ChartData &data, RecordReader &reader, const SampleProgress &progress, qint64 total)
        : m_data(data), m_reader(reader), m_progress(progress), m_total(total)
    {
    }

    SampleFileResult run(const std::function<int(const QString &)> &channelFor, QString *error)
    {
        try {
            if (!readHeader(channelFor, error))
                return SampleFileResult::Failed;
            const SampleFileResult read = readRows(error);
            if (read == SampleFileResult::Done && m_progress) {
                const qint64 total = std::max(m_total, m_reader.position());
                m_progress(total, total);
            }
            return read;
        } catch (const std::bad_alloc &) {
            return failed(error, m_reader.lineNumber() > 0
                                     ? QStringLiteral("Out of memory at line %1.").arg(m_reader.lineNumber())
                                     : QStringLiteral("Out of memory."));
        }
    }

private:
    bool readHeader(const std::function<int(const QString &)> &channelFor, QString *error)
    {
        if (!m_reader.skipByteOrderMark())
            return failWith(error, m_reader.errorText());
        switch (m_reader.next(TimeColumns + TimedCsvMaxColumns)) {
        case RecordReader::Outcome::End:
            return failWith(error, QStringLiteral("The file is empty."));
        case RecordReader::Outcome::Failed:
            return failWith(error, m_reader.errorText());
        case RecordReader::Outcome::TooManyCells:
            return failWith(error,
                            QStringLiteral("Line 1 has more than %1 value columns.").arg(TimedCsvMaxColumns));
        case RecordReader::Outcome::Record:
            break;
        }
        const std::vector<QByteArrayView> &cells = m_reader.cells();
        const auto is = [](QByteArrayView cell, QByteArrayView word) {
            cell = trimmed(cell);
            return cell.size() == word.size() && qstrnicmp(cell.data(), word.data(), word.size()) == 0;
        };
        if (cells.size() < std::size_t(TimeColumns) || !is(cells[0], "time") || !is(cells[1], "epoch_ms"))
            return failWith(error, QStringLiteral("Line 1 does not begin with the columns \"time,epoch_ms\"; "
                                                  "the file is no time-stamped CSV file of the chart."));
        m_cellCount = qsizetype(cells.size());
        std::vector<QString> headers;
        for (std::size_t c = TimeColumns; c < cells.size(); ++c)
            headers.push_back(QString::fromUtf8(cells[c]));
        // The window may add channels while it is asked, so the indexes are
        // checked once all are known.
        for (const QString &header : headers)
            m_channels.push_back(channelFor ? channelFor(header) : -1);
        for (int &channel : m_channels) {
            if (channel >= m_data.channelCount())
                channel = -1;
        }
        m_headers = std::move(headers);
        m_values.resize(m_channels.size());
        return true;
    }

    SampleFileResult readRows(QString *error)
    {
        qint64 row = 0;
        for (;;) {
            switch (m_reader.next(m_cellCount)) {
            case RecordReader::Outcome::End:
                return SampleFileResult::Done;
            case RecordReader::Outcome::Failed:
                return failed(error, m_reader.errorText());
            case RecordReader::Outcome::TooManyCells:
                return failed(error, QStringLiteral("Line %1 has more cells than the %2 of the header.")
                                         .arg(m_reader.lineNumber())
                                         .arg(m_cellCount));
            case RecordReader::Outcome::Record:
                break;
            }
            if (!m_reader.blank()) {
                if (!readRow(double(row), error))
                    return SampleFileResult::Failed;
                ++row;
            }
            if (!reportProgress())
                return SampleFileResult::Cancelled;
        }
    }

    // The points of one row, appended only once every cell has been read.
    bool readRow(double x, QString *error)
    {
        const std::vector<QByteArrayView> &cells = m_reader.cells();
        const QByteArrayView epochCell =
            cells.size() > std::size_t(EpochCell) ? trimmed(cells[EpochCell]) : QByteArrayView();
        qint64 ms = 0;
        const bool timed = !epochCell.isEmpty();
        if (timed && !parseEpochMs(epochCell, ms))
            return failWith(error, QStringLiteral("\"%1\" is not a time in milliseconds since the epoch "
                                                  "(line %2, column epoch_ms).")
                                       .arg(shown(epochCell))
                                       .arg(m_reader.lineNumber()));
        for (std::size_t c = 0; c < m_channels.size(); ++c) {
            Value &value = m_values[c];
            value.present = false;
            const std::size_t at = c + TimeColumns;
            if (m_channels[c] < 0 || at >= cells.size())
                continue;
            const QByteArrayView cell = trimmed(cells[at]);
            if (cell.isEmpty())
                continue;
            if (!parseNumber(cell, value.y))
                return failWith(error, QStringLiteral("\"%1\" is not a number (line %2, column \"%3\").")
                                           .arg(shown(cell))
                                           .arg(m_reader.lineNumber())
                                           .arg(m_headers[c]));
            value.present = true;
        }
        for (std::size_t c = 0; c < m_channels.size(); ++c) {
            if (!m_values[c].present)
                continue;
            if (timed)
                m_data.appendTimed(m_channels[c], x, m_values[c].y, ms);
            else
                m_data.append(m_channels[c], x, m_values[c].y);
        }
        return true;
    }

    // Reports every SampleProgressRows records or SampleProgressBytes bytes.
    // False: cancelled.
    bool reportProgress()
    {
        if (!m_progress)
            return true;
        const qint64 position = m_reader.position();
        if (++m_records % SampleProgressRows != 0 && position - m_reportedBytes < SampleProgressBytes)
            return true;
        m_reportedBytes = position;
        return m_progress(std::min(position, m_total), m_total);
    }

    struct Value {
        double y = 0.0;
        bool present = false;
    };

    ChartData &m_data;
    RecordReader &m_reader;
    SampleProgress m_progress;
    qint64 m_total = 0;
    qsizetype m_cellCount = 0;      // cells of the header
    std::vector<int> m_channels;    // per value column; -1: left out
    std::vector<QString> m_headers; // per value column
    std::vector<Value> m_values;    // per value column, of the row being read
    qint64 m_records = 0;
    qint64 m_reportedBytes = 0;
};

SampleFileResult readTimedCsvFile(ChartData &data, const QString &path,
                                  const std::function<int(const QString &)> &channelFor,
                                  const SampleProgress &progress, QString *error, qsizetype chunkBytes)
{
    // Unbuffered: each piece is read straight into the reader's buffer. Only
    // a regular file: a FIFO or a device would never end (or never start).
    QFile file;
    if (QString reason; !Platform::OpenRegularFile(path, file, QIODevice::Unbuffered, &reason))
        return failed(error, reason);
    RecordReader reader(file, path, chunkBytes);
    return TimedCsvParser(data, reader, progress, file.size()).run(channelFor, error);
}

} // namespace

SampleFileResult ReadTimedCsvFile(ChartData &data, const QString &path,
                                  const std::function<int(const QString &header)> &channelFor,
                                  const SampleProgress &progress, QString *error, qsizetype chunkBytes)
{
    try {
        return readTimedCsvFile(data, path, channelFor, progress, error, chunkBytes);
    } catch (const std::bad_alloc &) {
        outOfMemory(error);
        return SampleFileResult::Failed;
    }
}
