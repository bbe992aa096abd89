#include "io/RecordingJournal.h"

#include "io/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
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

/// Reads the block at p (size bytes up to the end of the file) into
/// `block`. Returns its length, or 0 when no whole, sound block starts there.
qint64 ParseBlock(const std::uint8_t *p, qint64 size, RecordingJournal::Block &block)
{
    if (size < MagicBytes + CrcBytes || p[0] != Magic0 || p[1] != Magic1 ||
        p[2] != RecordingJournal::FormatVersion)
        return 0;
    Cursor header(p + MagicBytes, p + size);
    std::int64_t firstX = 0, decimal = 0, firstMs = 0;
    std::uint64_t count = 0, payloadBytes = 0;
    if (!header.signedValue(firstX) || !header.signedValue(decimal) || !header.signedValue(firstMs) ||
        !header.unsignedValue(count) || !header.unsignedValue(payloadBytes))
        return 0;
    if (decimal < std::numeric_limits<int>::min() || decimal > std::numeric_limits<int>::max() || count < 1 ||
        count > std::uint64_t(RecordingJournal::MaxBlockSamples) ||
        firstX > std::numeric_limits<qint64>::max() - qint64(count) ||
        payloadBytes < count * MinSampleBytes || payloadBytes > count * MaxSampleBytes)
        return 0;
    const qint64 headerBytes = header.position() - p;
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

RecordingJournal::ReadResult RecordingJournal::Parse(const std::uint8_t *data, qint64 size,
                                                     const BlockVisitor &visit)
{
    ReadResult result;
    result.opened = true;
    result.fileBytes = size;
    Block block;
    qint64 pos = 0;
    while (pos < size) {
        const qint64 length = ParseBlock(data + pos, size - pos, block);
        if (length == 0)
            break;
        pos += length;
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
            break;
    }
    return result;
}

RecordingJournal::ReadResult RecordingJournal::Read(const QString &path, const BlockVisitor &visit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReadResult none;
        none.error = file.errorString();
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

// --- Writing -------------------------------------------------------------------

RecordingJournal::RecordingJournal(const QString &path, QObject *parent) : QObject(parent), m_path(path)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(FlushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &RecordingJournal::flush);
}

RecordingJournal::~RecordingJournal()
{
    // Nobody is left to be told of a failure now.
    blockSignals(true);
    flush();
}

void RecordingJournal::startBlock(qint64 sampleX, int decimal, qint64 wallMs)
{
    closeBlock();
    m_blockFirstX = sampleX;
    m_blockDecimal = decimal;
    m_blockFirstMs = wallMs;
    m_lastMs = wallMs;
    m_lastValue = 0;
}

void RecordingJournal::closeBlock()
{
    if (m_blockCount == 0)
        return;
    const qsizetype start = m_pending.size();
    m_pending.append(char(Magic0));
    m_pending.append(char(Magic1));
    m_pending.append(char(FormatVersion));
    PutSigned(m_pending, m_blockFirstX);
    PutSigned(m_pending, m_blockDecimal);
    PutSigned(m_pending, m_blockFirstMs);
    PutUnsigned(m_pending, std::uint64_t(m_blockCount));
    PutUnsigned(m_pending, std::uint64_t(m_payload.size()));
    m_pending.append(reinterpret_cast<const char *>(m_payload.data()), qsizetype(m_payload.size()));
    const std::uint32_t crc = Crc32(reinterpret_cast<const std::uint8_t *>(m_pending.constData()) + start,
                                    m_pending.size() - start);
    for (int i = 0; i < CrcBytes; ++i)
        m_pending.append(char(std::uint8_t(crc >> (8 * i))));
    m_pendingSamples += m_blockCount;
    m_blockCount = 0;
    m_payload.clear();
    ++m_stats.blocks;
}

bool RecordingJournal::claim()
{
    if (m_lock)
        return true;
    if (m_unavailable)
        return false;
    auto lock = std::make_unique<QLockFile>(m_path + LockSuffix);
    // A lock is stale only when the program that took it is gone, however long it runs.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        m_unavailable = true;
        m_lastError = QCoreApplication::translate("RecordingJournal", "记录文件正由另一个运行中的程序使用。");
        return false;
    }
    return fail(QCoreApplication::translate("RecordingJournal", "无法锁定记录文件 %1。")
                    .arg(QDir::toNativeSeparators(m_path + LockSuffix)));
}

bool RecordingJournal::claimLeftover()
{
    // Once this program holds the journal, the file is its own recording.
    if (m_lock || m_unavailable || !QFileInfo::exists(m_path) || !claim())
        return false;
    m_ownsFile = true;
    return true;
}

bool RecordingJournal::adopt(qint64 validBytes)
{
    if (!m_lock)
        return false;
    m_file.close();
    m_ownsFile = true;
    if (!openFile())
        return fail(m_file.errorString());
    const qint64 size = m_file.size();
    if (size > validBytes && !m_file.resize(validBytes)) {
        const QString reason = m_file.errorString();
        m_file.close();
        return fail(reason);
    }
    m_goodBytes = std::min(size, validBytes);
    return true;
}

bool RecordingJournal::openFile()
{
    if (!m_ownsFile && QFileInfo::exists(m_path)) {
        // Left by a program that ran meanwhile: offered at the next start,
        // never written into or removed by this one.
        m_unavailable = true;
        m_lock.reset();
        m_lastError = QCoreApplication::translate("RecordingJournal", "记录文件正由另一个运行中的程序使用。");
        return false;
    }
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    m_ownsFile = true;
    m_goodBytes = m_file.size();
    m_sinceSync.start();
    return true;
}

bool RecordingJournal::fail(const QString &reason)
{
    m_lastError = reason;
    if (m_pending.size() > MaxPendingBytes) {
        m_stats.samplesGivenUp += m_pendingSamples;
        m_pending.clear();
        m_pendingSamples = 0;
    }
    if (!m_pending.isEmpty())
        m_flushTimer.start(); // try again
    if (!m_failing) {
        m_failing = true;
        emit writeFailed(reason);
    }
    return false;
}

bool RecordingJournal::flush()
{
    m_flushTimer.stop();
    closeBlock();
    if (m_pending.isEmpty())
        return true;
    QElapsedTimer spent;
    spent.start();
    const bool claimed = claim(); // when it fails, it has told why
    if (!claimed || (!m_file.isOpen() && !openFile())) {
        if (m_unavailable) {
            // Another program's journal: these samples have no place.
            m_stats.samplesGivenUp += m_pendingSamples;
            m_pending.clear();
            m_pendingSamples = 0;
            return false;
        }
        return claimed ? fail(m_file.errorString()) : false;
    }
    // A failed write may have left part of a block: cut it off first.
    if (m_failing && m_file.size() != m_goodBytes && !m_file.resize(m_goodBytes))
        return fail(m_file.errorString());
    const qint64 written = m_file.write(m_pending);
    if (written != m_pending.size()) {
        const QString reason = m_file.errorString();
        m_file.resize(m_goodBytes);
        return fail(reason);
    }
    m_goodBytes += written;
    m_stats.bytesWritten += written;
    ++m_stats.flushes;
    m_pending.clear();
    m_pendingSamples = 0;
    m_failing = false;
    if (m_sinceSync.elapsed() >= SyncIntervalMs) {
        QElapsedTimer syncing;
        syncing.start();
        QString error;
        Platform::SyncHandle(m_file.handle(), &error); // only for a power cut: a failure changes nothing
        m_sinceSync.start();
        const qint64 ns = syncing.nsecsElapsed();
        ++m_stats.syncs;
        m_stats.syncNs += ns;
        m_stats.syncMaxNs = std::max(m_stats.syncMaxNs, ns);
    }
    m_stats.flushNs += spent.nsecsElapsed();
    return true;
}

void RecordingJournal::remove()
{
    m_flushTimer.stop();
    m_payload.clear();
    m_blockCount = 0;
    m_pending.clear();
    m_pendingSamples = 0;
    m_failing = false;
    if (!m_lock || !m_ownsFile)
        return; // not this program's journal
    m_file.close();
    QFile::remove(m_path);
    m_goodBytes = 0;
}
