// Reading and encoding the recording journal's blocks.

#include "io/JournalFormat.h"
#include "io/RecordingJournal.h"

#include "io/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace
{
constexpr std::uint8_t Magic0 = 'K';
constexpr std::uint8_t Magic1 = 'J';
constexpr qint64 MagicBytes = 3; // the two magic bytes and the version
constexpr qint64 CrcBytes = 4;
constexpr int MaxVarintBytes = 10;
constexpr qint64 MinSampleBytes = 2;
constexpr qint64 MaxSampleBytes = 2 * MaxVarintBytes;
/// A value delta beyond this cannot lead from one 32-bit value to another.
constexpr std::int64_t MaxValueStep = std::int64_t(1) << 32;

constexpr std::array<std::uint32_t, 256> CrcTable = [] {
    constexpr std::uint32_t Polynomial = 0xEDB88320u; // CRC-32 (IEEE 802.3), reflected
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? Polynomial ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}();

std::uint32_t Crc32(const std::uint8_t *data, qint64 size)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (qint64 i = 0; i < size; ++i)
        c = CrcTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutUnsigned(QByteArray &out, std::uint64_t v)
{
    while (v >= 0x80) {
        out.append(char(std::uint8_t(v) | 0x80));
        v >>= 7;
    }
    out.append(char(std::uint8_t(v)));
}

void PutSigned(QByteArray &out, std::int64_t v)
{
    PutUnsigned(out, (std::uint64_t(v) << 1) ^ std::uint64_t(v >> 63));
}

/// Reads varints from a byte range, never past its end.
class Cursor
{
public:
    Cursor(const std::uint8_t *begin, const std::uint8_t *end) : m_p(begin), m_end(end) {}

    bool unsignedValue(std::uint64_t &v)
    {
        v = 0;
        for (int i = 0; i < MaxVarintBytes; ++i) {
            if (m_p == m_end)
                return false;
            const std::uint8_t b = *m_p++;
            v |= std::uint64_t(b & 0x7Fu) << (7 * i);
            if (!(b & 0x80u))
                return true;
        }
        return false;
    }
    bool signedValue(std::int64_t &v)
    {
        std::uint64_t u = 0;
        if (!unsignedValue(u))
            return false;
        v = std::int64_t((u >> 1) ^ (~(u & 1u) + 1u));
        return true;
    }
    const std::uint8_t *position() const { return m_p; }
    bool atEnd() const { return m_p == m_end; }

private:
    const std::uint8_t *m_p;
    const std::uint8_t *m_end;
};

/// The fixed part of a block.
struct BlockHeader {
    std::int64_t firstX = 0;
    std::int64_t decimal = 0;
    std::int64_t firstMs = 0;
    std::uint64_t count = 0;
    std::uint64_t payloadBytes = 0;
    qint64 headerBytes = 0;
};

/// Reads a block's header at p (size bytes up to the end of the file): false
/// when no block can start there (magic, version, varints, bounds).
bool ParseHeader(const std::uint8_t *p, qint64 size, BlockHeader &h)
{
    if (size < MagicBytes + CrcBytes || p[0] != Magic0 || p[1] != Magic1 ||
        p[2] != RecordingJournal::FormatVersion)
        return false;
    Cursor header(p + MagicBytes, p + size);
    if (!header.signedValue(h.firstX) || !header.signedValue(h.decimal) || !header.signedValue(h.firstMs) ||
        !header.unsignedValue(h.count) || !header.unsignedValue(h.payloadBytes))
        return false;
    h.headerBytes = header.position() - p;
    return h.decimal >= std::numeric_limits<int>::min() && h.decimal <= std::numeric_limits<int>::max() &&
           h.count >= 1 && h.count <= std::uint64_t(RecordingJournal::MaxBlockSamples) &&
           h.firstX <= std::numeric_limits<qint64>::max() - qint64(h.count) &&
           h.payloadBytes >= h.count * MinSampleBytes && h.payloadBytes <= h.count * MaxSampleBytes;
}

/// Reads the block at p (size bytes up to the end of the file) into
/// `block`. Returns its length, or 0 when no whole, sound block starts there.
qint64 ParseBlock(const std::uint8_t *p, qint64 size, RecordingJournal::Block &block)
{
    BlockHeader h;
    if (!ParseHeader(p, size, h))
        return 0;
    const std::int64_t firstX = h.firstX, decimal = h.decimal, firstMs = h.firstMs;
    const std::uint64_t count = h.count, payloadBytes = h.payloadBytes;
    const qint64 headerBytes = h.headerBytes;
    if (qint64(payloadBytes) > size - headerBytes - CrcBytes)
        return 0; // runs past the end of the file
    const qint64 crcAt = headerBytes + qint64(payloadBytes);
    const std::uint32_t stored = std::uint32_t(p[crcAt]) | std::uint32_t(p[crcAt + 1]) << 8 |
                                 std::uint32_t(p[crcAt + 2]) << 16 | std::uint32_t(p[crcAt + 3]) << 24;
    if (Crc32(p, crcAt) != stored)
        return 0;

    block.firstX = firstX;
    block.decimal = int(decimal);
    block.values.resize(std::size_t(count));
    block.wallMs.resize(std::size_t(count));
    Cursor payload(p + headerBytes, p + crcAt);
    std::int64_t value = 0;
    std::uint64_t ms = std::uint64_t(firstMs);
    for (std::size_t i = 0; i < std::size_t(count); ++i) {
        std::int64_t valueStep = 0, msStep = 0;
        if (!payload.signedValue(valueStep) || !payload.signedValue(msStep) || valueStep > MaxValueStep ||
            valueStep < -MaxValueStep)
            return 0;
        value += valueStep;
        if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
            return 0;
        ms += std::uint64_t(msStep);
        block.values[i] = qint32(value);
        block.wallMs[i] = qint64(ms);
    }
    if (!payload.atEnd())
        return 0;
    return crcAt + CrcBytes;
}
} // namespace

// --- Reading -------------------------------------------------------------------

namespace
{
/// The next place at or after `from` where a block could start.
qint64 NextCandidate(const std::uint8_t *data, qint64 from, qint64 size)
{
    while (from + MagicBytes <= size) {
        const void *found = std::memchr(data + from, Magic0, std::size_t(size - from));
        if (!found)
            break;
        from = static_cast<const std::uint8_t *>(found) - data;
        if (from + MagicBytes <= size && data[from + 1] == Magic1 &&
            data[from + 2] == RecordingJournal::FormatVersion)
            return from;
        ++from;
    }
    return size;
}

/// Accounts the damaged bytes [from, to) of a journal: about how many samples
/// they held, never more than such bytes can hold. `before`: the last X of
/// the good block before them (if any); `after`: the good block after them.
void AccountDamage(RecordingJournal::ReadResult &result, const std::uint8_t *data, qint64 from, qint64 to,
                   const qint64 *before, const RecordingJournal::Block *after)
{
    if (to <= from)
        return;
    const qint64 bytes = to - from;
    std::uint64_t lost = 0;
    BlockHeader header;
    if (before && after && after->firstX > *before)
        lost = std::uint64_t(after->firstX) - std::uint64_t(*before) - 1; // the X they skipped
    else if (ParseHeader(data + from, bytes, header))
        lost = header.count;
    result.damagedBytes += bytes;
    result.lostSamples += qint64(std::min<std::uint64_t>(lost, std::uint64_t(bytes / MinSampleBytes)));
}
} // namespace

RecordingJournal::ReadResult RecordingJournal::Parse(const std::uint8_t *data, qint64 size,
                                                     const BlockVisitor &visit)
{
    ReadResult result;
    result.opened = true;
    result.fileBytes = size;
    Block block;
    qint64 pos = 0;
    qint64 damageFrom = 0; // start of the bytes since the last good block
    while (pos < size) {
        const qint64 length = ParseBlock(data + pos, size - pos, block);
        if (length == 0) {
            pos = NextCandidate(data, pos + 1, size);
            continue;
        }
        AccountDamage(result, data, damageFrom, pos, result.blocks > 0 ? &result.lastX : nullptr, &block);
        pos += length;
        damageFrom = pos;
        block.endOffset = pos;
        const qint64 count = qint64(block.values.size());
        if (result.blocks == 0) {
            result.firstX = block.firstX;
            result.firstMs = block.wallMs.front();
        }
        result.lastX = block.firstX + count - 1;
        result.lastMs = block.wallMs.back();
        result.samples += count;
        ++result.blocks;
        result.validBytes = pos;
        if (visit && !visit(block))
            return result;
    }
    AccountDamage(result, data, damageFrom, size, nullptr, nullptr);
    return result;
}

RecordingJournal::ReadResult RecordingJournal::Read(const QString &path, const BlockVisitor &visit)
{
    QFile file;
    if (QString reason; !Platform::OpenRegularFile(path, file, QIODevice::NotOpen, &reason)) {
        ReadResult none;
        none.error = reason;
        return none;
    }
    const qint64 size = file.size();
    if (size == 0)
        return Parse(nullptr, 0, visit);
    if (const uchar *mapped = file.map(0, size)) {
        ReadResult result = Parse(mapped, size, visit);
        file.unmap(const_cast<uchar *>(mapped));
        return result;
    }
    const QByteArray bytes = file.readAll();
    return Parse(reinterpret_cast<const std::uint8_t *>(bytes.constData()), bytes.size(), visit);
}

QString RecordingJournal::PathBeside(const QString &settingsFilePath)
{
    return QFileInfo(settingsFilePath).absoluteDir().filePath(FileName);
}

namespace JournalFormat
{
void AppendBlock(QByteArray &out, qint64 firstX, int decimal, qint64 firstMs, qint64 count,
                 const std::uint8_t *payload, qsizetype payloadBytes)
{
    const qsizetype start = out.size();
    out.append(char(Magic0));
    out.append(char(Magic1));
    out.append(char(RecordingJournal::FormatVersion));
    PutSigned(out, firstX);
    PutSigned(out, decimal);
    PutSigned(out, firstMs);
    PutUnsigned(out, std::uint64_t(count));
    PutUnsigned(out, std::uint64_t(payloadBytes));
    out.append(reinterpret_cast<const char *>(payload), payloadBytes);
    const std::uint32_t crc =
        Crc32(reinterpret_cast<const std::uint8_t *>(out.constData()) + start, out.size() - start);
    for (int i = 0; i < CrcBytes; ++i)
        out.append(char(std::uint8_t(crc >> (8 * i))));
}
} // namespace JournalFormat

QByteArray RecordingJournal::EncodeBlock(qint64 firstX, int decimal, const std::vector<qint32> &values,
                                         const std::vector<qint64> &wallMs)
{
    QByteArray payload;
    std::int64_t lastValue = 0;
    qint64 lastMs = wallMs.empty() ? 0 : wallMs.front();
    for (std::size_t i = 0; i < values.size() && i < wallMs.size(); ++i) {
        PutSigned(payload, std::int64_t(values[i]) - lastValue);
        PutSigned(payload, std::int64_t(std::uint64_t(wallMs[i]) - std::uint64_t(lastMs)));
        lastValue = values[i];
        lastMs = wallMs[i];
    }
    QByteArray block;
    JournalFormat::AppendBlock(block, firstX, decimal, wallMs.empty() ? 0 : wallMs.front(),
                               qint64(std::min(values.size(), wallMs.size())),
                               reinterpret_cast<const std::uint8_t *>(payload.constData()), payload.size());
    return block;
}
