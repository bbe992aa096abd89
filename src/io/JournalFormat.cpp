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
#include <utility>

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
    std::uint64_t channel = 0;
    std::int64_t firstX = 0;
    std::int64_t decimal = 0;
    std::int64_t firstMs = 0;
    std::uint64_t count = 0;
    std::uint64_t payloadBytes = 0;
    qint64 headerBytes = 0;
};

/// Reads a block's header at p (size bytes up to the end of the file): false
/// when no block can start there (magic, version, varints, bounds).
bool IsVersion(std::uint8_t version)
{
    return version == RecordingJournal::FormatVersion || version == RecordingJournal::ChannelFormatVersion;
}

bool ParseHeader(const std::uint8_t *p, qint64 size, BlockHeader &h)
{
    if (size < MagicBytes + CrcBytes || p[0] != Magic0 || p[1] != Magic1 || !IsVersion(p[2]))
        return false;
    Cursor header(p + MagicBytes, p + size);
    h.channel = 0;
    if (p[2] == RecordingJournal::ChannelFormatVersion &&
        (!header.unsignedValue(h.channel) || h.channel > std::uint64_t(RecordingJournal::MaxChannel)))
        return false;
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

    block.channel = int(h.channel);
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
        if (from + MagicBytes <= size && data[from + 1] == Magic1 && IsVersion(data[from + 2]))
            return from;
        ++from;
    }
    return size;
}

/// Accounts the damaged bytes of a journal per channel: about how many
/// samples they held, never more than such bytes can hold. A channel with
/// good blocks on both sides of damage lost the X its blocks skip; otherwise
/// the headers of damaged blocks (those that still fit where they were
/// found) tell the channel and the count.
class LossAccount
{
public:
    LossAccount(RecordingJournal::ReadResult &result, const std::uint8_t *data, qint64 size)
        : m_result(result), m_data(data), m_size(size)
    {
        m_index.fill(-1);
    }

    /// The bytes [from, to) are in no good block.
    void damage(qint64 from, qint64 to)
    {
        if (to <= from)
            return;
        m_result.damagedBytes += to - from;
        ++m_regions;
        BlockHeader h;
        qint64 pos = from;
        while (pos < to) {
            if (!ParseHeader(m_data + pos, m_size - pos, h)) {
                pos = NextCandidate(m_data, pos + 1, to);
                continue;
            }
            const qint64 length = h.headerBytes + qint64(h.payloadBytes) + CrcBytes;
            if (length > to - pos && to != m_size) {
                pos = NextCandidate(m_data, pos + 1, to); // would run into the good block after
                continue;
            }
            state(int(h.channel)).recent += h.count;
            pos += length;
        }
    }

    /// A good block was read.
    void block(const RecordingJournal::Block &b)
    {
        const int index = indexOf(b.channel);
        Channel &c = m_channels[std::size_t(index)];
        RecordingJournal::ChannelSummary &summary = m_result.channels[std::size_t(index)];
        if (summary.blocks > 0 && m_regions > c.regionsAtLast && b.firstX > summary.lastX) {
            // The X it skipped; the headers seen meanwhile are part of them.
            grant(index, std::uint64_t(b.firstX) - std::uint64_t(summary.lastX) - 1);
            c.recent = 0;
        }
        c.held += std::exchange(c.recent, 0);
        c.regionsAtLast = m_regions;
        const qint64 count = qint64(b.values.size());
        if (summary.blocks++ == 0)
            summary.firstX = b.firstX;
        summary.lastX = b.firstX + count - 1;
        summary.samples += count;
    }

    /// After the last byte: the counts in damaged headers not covered by a
    /// gap; the channels in order, those with nothing to tell left out.
    void finish()
    {
        for (int channel = 0; channel <= RecordingJournal::MaxChannel; ++channel) {
            const int index = m_index[std::size_t(channel)];
            if (index >= 0)
                grant(index, m_channels[std::size_t(index)].held + m_channels[std::size_t(index)].recent);
        }
        std::vector<RecordingJournal::ChannelSummary> &all = m_result.channels;
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [](const auto &c) { return c.blocks == 0 && c.lostSamples == 0; }),
                  all.end());
        std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.channel < b.channel; });
    }

private:
    struct Channel {
        qint64 regionsAtLast = 0; ///< damaged places before its last good block
        std::uint64_t held = 0;   ///< counts of its damaged headers no gap covers
        std::uint64_t recent = 0; ///< ... and of those since its last good block
    };

    int indexOf(int channel)
    {
        int &index = m_index[std::size_t(channel)];
        if (index < 0) {
            index = int(m_channels.size());
            m_channels.emplace_back();
            m_result.channels.push_back({});
            m_result.channels.back().channel = channel;
        }
        return index;
    }
    Channel &state(int channel) { return m_channels[std::size_t(indexOf(channel))]; }

    void grant(int index, std::uint64_t lost)
    {
        const qint64 budget = m_result.damagedBytes / MinSampleBytes - m_result.lostSamples;
        const qint64 granted =
            qint64(std::min<std::uint64_t>(lost, std::uint64_t(std::max<qint64>(budget, 0))));
        m_result.lostSamples += granted;
        m_result.channels[std::size_t(index)].lostSamples += granted;
    }

    RecordingJournal::ReadResult &m_result;
    const std::uint8_t *m_data;
    qint64 m_size;
    qint64 m_regions = 0;
    std::array<int, RecordingJournal::MaxChannel + 1> m_index;
    std::vector<Channel> m_channels;
};
} // namespace

const RecordingJournal::ChannelSummary *RecordingJournal::ReadResult::channel(int channel) const
{
    const auto found =
        std::lower_bound(channels.begin(), channels.end(), channel,
                         [](const ChannelSummary &c, int wanted) { return c.channel < wanted; });
    return found != channels.end() && found->channel == channel ? &*found : nullptr;
}

RecordingJournal::ReadResult RecordingJournal::Parse(const std::uint8_t *data, qint64 size,
                                                     const BlockVisitor &visit)
{
    ReadResult result;
    result.opened = true;
    result.fileBytes = size;
    LossAccount losses(result, data, size);
    Block block;
    qint64 pos = 0;
    qint64 damageFrom = 0; // start of the bytes since the last good block
    while (pos < size) {
        const qint64 length = ParseBlock(data + pos, size - pos, block);
        if (length == 0) {
            pos = NextCandidate(data, pos + 1, size);
            continue;
        }
        losses.damage(damageFrom, pos);
        losses.block(block);
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
        if (visit && !visit(block)) {
            losses.finish();
            return result;
        }
    }
    losses.damage(damageFrom, size);
    losses.finish();
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
    return PathBeside(settingsFilePath, FileName);
}

QString RecordingJournal::PathBeside(const QString &settingsFilePath, QLatin1String fileName)
{
    return QFileInfo(settingsFilePath).absoluteDir().filePath(fileName);
}

namespace JournalFormat
{
void AppendBlock(QByteArray &out, int channel, qint64 firstX, int decimal, qint64 firstMs, qint64 count,
                 const std::uint8_t *payload, qsizetype payloadBytes)
{
    const qsizetype start = out.size();
    out.append(char(Magic0));
    out.append(char(Magic1));
    if (channel == 0) {
        out.append(char(RecordingJournal::FormatVersion));
    } else {
        out.append(char(RecordingJournal::ChannelFormatVersion));
        PutUnsigned(out, std::uint64_t(std::uint32_t(channel)));
    }
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
                                         const std::vector<qint64> &wallMs, int channel)
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
    JournalFormat::AppendBlock(block, channel, firstX, decimal, wallMs.empty() ? 0 : wallMs.front(),
                               qint64(std::min(values.size(), wallMs.size())),
                               reinterpret_cast<const std::uint8_t *>(payload.constData()), payload.size());
    return block;
}
