#include "io/RecordingJournal.h"

#include "io/JournalFormat.h"
#include "io/Platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <utility>

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
    JournalFormat::AppendBlock(m_pending, 0, m_blockFirstX, m_blockDecimal, m_blockFirstMs, m_blockCount,
                               m_payload.data(), qsizetype(m_payload.size()));
    m_pendingSamples += m_blockCount;
    m_blockCount = 0;
    m_payload.clear();
    ++m_stats.blocks;
}

namespace
{
void PutSigned(std::vector<std::uint8_t> &out, std::int64_t value)
{
    auto v = (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
    while (v >= 0x80) {
        out.push_back(std::uint8_t(v) | 0x80);
        v >>= 7;
    }
    out.push_back(std::uint8_t(v));
}
} // namespace

void RecordingJournal::append(int channel, qint64 sampleX, qint32 rawValue, int decimal, qint64 wallMs)
{
    if (channel == 0) {
        append(sampleX, rawValue, decimal, wallMs);
        return;
    }
    if (channel < 0 || channel > MaxChannel || !m_enabled || m_unavailable)
        return;
    if (std::size_t(channel) > m_channels.size())
        m_channels.resize(std::size_t(channel));
    ChannelBlock &b = m_channels[std::size_t(channel - 1)];
    if (b.count == 0 || sampleX != b.nextX || decimal != b.decimal || b.count >= MaxBlockSamples) {
        closeChannelBlock(channel, b);
        b.firstX = sampleX;
        b.decimal = decimal;
        b.firstMs = wallMs;
        b.lastMs = wallMs;
        b.lastValue = 0;
    }
    const std::size_t before = b.payload.size();
    PutSigned(b.payload, std::int64_t(rawValue) - b.lastValue);
    PutSigned(b.payload, std::int64_t(std::uint64_t(wallMs) - std::uint64_t(b.lastMs)));
    m_channelBytes += qsizetype(b.payload.size() - before);
    b.lastValue = rawValue;
    b.lastMs = wallMs;
    b.nextX = sampleX + 1;
    ++b.count;
    ++m_stats.samples;
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
    if (qsizetype(m_payload.size()) + m_channelBytes + m_pending.size() >= FlushBytes)
        flush();
}

void RecordingJournal::closeChannelBlock(int channel, ChannelBlock &block)
{
    if (block.count == 0)
        return;
    JournalFormat::AppendBlock(m_pending, channel, block.firstX, block.decimal, block.firstMs, block.count,
                               block.payload.data(), qsizetype(block.payload.size()));
    m_pendingSamples += block.count;
    m_channelBytes -= qsizetype(block.payload.size());
    block.count = 0;
    block.payload.clear();
    ++m_stats.blocks;
}

void RecordingJournal::closeAllBlocks()
{
    closeBlock();
    if (m_channelBytes == 0)
        return;
    for (std::size_t i = 0; i < m_channels.size(); ++i)
        closeChannelBlock(int(i) + 1, m_channels[i]);
}

void RecordingJournal::dropOpenBlocks()
{
    m_payload.clear();
    m_blockCount = 0;
    for (ChannelBlock &b : m_channels) {
        b.payload.clear();
        b.count = 0;
    }
    m_channelBytes = 0;
}

namespace
{
QString HeldElsewhereText()
{
    return QCoreApplication::translate("RecordingJournal", "记录文件正由另一个运行中的程序使用。");
}
} // namespace

RecordingJournal::LockState RecordingJournal::tryLock()
{
    auto lock = std::make_unique<QLockFile>(lockPath());
    // A lock is stale only when the program that took it is gone, however long it runs.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return LockState::Taken;
    }
    if (lock->error() != QLockFile::LockFailedError)
        return LockState::Failed;
    // Held: by a program that runs on this host (Qt found it alive), or by
    // one that cannot be judged from here.
    qint64 pid = 0;
    QString host, application;
    if (lock->getLockInfo(&pid, &host, &application) && pid > 0 &&
        (host.isEmpty() || host == QSysInfo::machineHostName()))
        return LockState::HeldElsewhere;
    return LockState::Unjudged;
}

bool RecordingJournal::claim()
{
    if (m_lock)
        return true;
    if (m_unavailable)
        return false;
    const LockState state = tryLock();
    if (state == LockState::Taken)
        return true;
    if (state == LockState::Failed)
        return fail(QCoreApplication::translate("RecordingJournal", "无法锁定记录文件 %1。")
                        .arg(QDir::toNativeSeparators(lockPath())));
    // Met while recording: the samples have no place from now on (flush()
    // tells the operator once).
    m_unavailable = true;
    m_lastError =
        state == LockState::HeldElsewhere
            ? HeldElsewhereText()
            : QCoreApplication::translate("RecordingJournal",
                                          "记录文件的锁 %1 无法判断（空的、无法读取或来自另一台计算机）。")
                  .arg(QDir::toNativeSeparators(lockPath()));
    return false;
}

RecordingJournal::Leftover RecordingJournal::claimLeftover()
{
    // Once this program holds the journal, the file is its own recording.
    if (m_lock || m_unavailable)
        return Leftover::None;
    const Platform::FileKind kind = Platform::KindOf(m_path);
    if (kind != Platform::FileKind::Missing && kind != Platform::FileKind::Regular) {
        m_unavailable = true;
        m_lastError = QStringLiteral("\"%1\" is not a regular file (it is %2).")
                          .arg(QDir::toNativeSeparators(m_path), Platform::KindText(kind));
        return Leftover::NotRegular;
    }
    const bool journalThere = kind == Platform::FileKind::Regular;
    if (!journalThere && !QFileInfo::exists(lockPath()) && !QFileInfo(lockPath()).isSymLink())
        return Leftover::None;
    switch (tryLock()) {
    case LockState::Taken:
        m_ownsFile = journalThere;
        return journalThere ? Leftover::Claimed : Leftover::None;
    case LockState::HeldElsewhere:
        m_unavailable = true;
        m_lastError = HeldElsewhereText();
        return Leftover::HeldElsewhere;
    case LockState::Unjudged:
        return Leftover::LockUnjudged;
    case LockState::Failed:
        break;
    }
    // The lock cannot be made (the directory takes no files): recording will
    // say so at its first write.
    return Leftover::None;
}

bool RecordingJournal::takeOverLock()
{
    if (m_lock)
        return true;
    QLockFile stale(lockPath());
    stale.removeStaleLockFile();
    if (tryLock() != LockState::Taken) {
        m_lastError = QCoreApplication::translate("RecordingJournal", "无法锁定记录文件 %1。")
                          .arg(QDir::toNativeSeparators(lockPath()));
        return false;
    }
    m_unavailable = false;
    m_ownsFile = QFileInfo(m_path).isFile();
    return true;
}

void RecordingJournal::runWithout()
{
    m_unavailable = true;
    m_lock.reset();
}

QString RecordingJournal::setAside(const QString &kind)
{
    if (!m_lock || !m_ownsFile)
        return {}; // not this program's journal
    m_flushTimer.stop();
    m_file.close();
    const QFileInfo journal(m_path);
    const QString prefix = journal.fileName() + u'.' + kind + u'-';
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = journal.dir().filePath(prefix + stamp);
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = journal.dir().filePath(prefix + stamp + u'-' + QString::number(n));
    if (!QFile::rename(m_path, aside)) {
        m_lastError = QCoreApplication::translate("RecordingJournal", "记录文件 %1 无法改名。")
                          .arg(QDir::toNativeSeparators(m_path));
        return {};
    }
    m_goodBytes = 0;
    // The names end in their time, so they sort oldest first.
    QStringList kept = journal.dir().entryList({prefix + u'*'}, QDir::Files | QDir::Hidden, QDir::Name);
    while (kept.size() > KeptAsideFiles)
        QFile::remove(journal.dir().filePath(kept.takeFirst()));
    return aside;
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
    if (const Platform::FileKind kind = Platform::KindOf(m_path);
        kind != Platform::FileKind::Missing && kind != Platform::FileKind::Regular) {
        // Never opened: a FIFO would block, a device swallow the samples.
        m_unavailable = true;
        m_lock.reset();
        m_lastError = QStringLiteral("\"%1\" is not a regular file (it is %2).")
                          .arg(QDir::toNativeSeparators(m_path), Platform::KindText(kind));
        return false;
    }
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
    closeAllBlocks();
    if (m_pending.isEmpty())
        return true;
    QElapsedTimer spent;
    spent.start();
    const bool claimed = claim(); // when it fails, it has told why
    if (!claimed || (!m_file.isOpen() && !openFile())) {
        if (m_unavailable) {
            // Another program's journal, or none to be had: these samples
            // have no place, and recording without a journal is told once.
            m_stats.samplesGivenUp += m_pendingSamples;
            m_pending.clear();
            m_pendingSamples = 0;
            if (!std::exchange(m_toldUnavailable, true))
                emit writeFailed(m_lastError);
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
    dropOpenBlocks();
    m_pending.clear();
    m_pendingSamples = 0;
    m_failing = false;
    if (!m_lock || !m_ownsFile)
        return; // not this program's journal
    m_file.close();
    QFile::remove(m_path);
    m_goodBytes = 0;
}
