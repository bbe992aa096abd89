#pragma once
// What the sample-data reader and writer share: the file's fixed texts, the
// buffers they take (with the limit tests set), the plain-ASCII number style
// of a locale and the failure helpers. Only the chart's sample-data sources
// include this.

#include "chart/SampleDataFile.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

namespace SampleDataDetail
{

constexpr char Tab = '\t';
constexpr char Comma = ',';
constexpr char Dot = '.';
constexpr char XSuffix[] = "(X)";

/// Largest buffer the reader or the writer may take; negative: any (see
/// SetSampleBufferLimit).
qsizetype bufferLimit();

/// The reader's and the writer's buffers, uninitialised. Fails with
/// std::bad_alloc like any allocation, and also when the buffer is larger
/// than the limit set for tests.
template <typename T> std::unique_ptr<T[]> takeBuffer(qsizetype count)
{
    const qsizetype limit = bufferLimit();
    if (limit >= 0 && count > limit / qsizetype(sizeof(T)))
        throw std::bad_alloc();
    return std::make_unique_for_overwrite<T[]>(std::size_t(count));
}

/// How a locale writes numbers, when it writes them in plain ASCII: digits
/// 0-9, "-" and "+", a one-character decimal separator and "e" or "E".
struct AsciiNumberStyle {
    bool usable = false;
    char decimalPoint = Dot;
    char exponent = 'e';
};

inline bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

AsciiNumberStyle asciiNumberStyle(const QLocale &locale);

QString nativePath(const QString &path);
/// Sets *error (when given) to reason; returns false.
bool failWith(QString *error, const QString &reason);
bool outOfMemory(QString *error);
/// Sets *error (when given) to reason; returns SampleFileResult::Failed.
SampleFileResult failed(QString *error, const QString &reason);

/// Writes all `size` bytes, a short write retried with the rest, so that a
/// full disk shows up as the system's error rather than as a silent short
/// count. False with the reason in *error.
bool writeAll(QIODevice &device, const char *bytes, qsizetype size, QString *error);

/// Writes a file as a whole: `write(device, &reason)` fills a new file that
/// replaces `path` only when it returns Done and the file reached the disk
/// (see FileReplacement); cancelled or failed, an existing file stays as it
/// was and no new one is left. A directory or a read-only file at `path` is
/// refused.
SampleFileResult writeReplacingFile(const QString &path, QString *error,
                                    const std::function<SampleFileResult(QIODevice &, QString *)> &write);

/// Buffered output of one file, written through writeAll() when the buffer
/// is full and at flush(). After a failed write nothing more is written;
/// failed() and errorText() tell why.
class BufferedOut
{
public:
    static constexpr qsizetype BufferSize = qsizetype(1) << 16;

    explicit BufferedOut(QIODevice &device) : m_device(device), m_buffer(takeBuffer<char>(BufferSize)) {}

    bool failed() const { return m_failed; }
    const QString &errorText() const { return m_error; }

    void put(char c)
    {
        *room(1) = c;
        ++m_used;
    }
    void put(const char *bytes, qsizetype size)
    {
        if (size > BufferSize - m_used) {
            flush();
            if (size > BufferSize) {
                writeOut(bytes, size);
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, bytes, std::size_t(size));
        m_used += size;
    }
    void put(const QByteArray &bytes) { put(bytes.constData(), bytes.size()); }

    /// Room for `size` (at most BufferSize) bytes at the end of the buffer;
    /// done(end) takes what was written there.
    char *room(qsizetype size)
    {
        if (m_used + size > BufferSize)
            flush();
        return m_buffer.get() + m_used;
    }
    void done(const char *end) { m_used = end - m_buffer.get(); }

    bool flush()
    {
        if (m_used > 0)
            writeOut(m_buffer.get(), m_used);
        m_used = 0;
        return !m_failed;
    }

private:
    void writeOut(const char *bytes, qsizetype size)
    {
        if (!m_failed && !writeAll(m_device, bytes, size, &m_error))
            m_failed = true;
    }

    QIODevice &m_device;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    bool m_failed = false;
    QString m_error;
};

} // namespace SampleDataDetail
