#pragma once
// The recording journal: every live sample, with its wall-clock time, is
// appended to "Data.journal" beside the settings file, so that the samples a
// crash would lose can be put back into the chart at the next start.
//
// Writing
// - append() encodes the sample into memory; the samples reach the file at
//   the latest FlushIntervalMs after the first one not yet written (a
//   single-shot timer), or at once when FlushBytes are waiting. Each flush is
//   one write() at the end of the file. A program crash loses nothing that
//   write() took (the system holds it); a power cut loses what came after the
//   last sync to the disk, done at most every SyncIntervalMs with a flush.
// - A write that fails is tried again with the next flush, the samples kept
//   in memory (up to MaxPendingBytes; beyond that the unwritten ones are
//   given up). A failure is told once through writeFailed() until a write
//   succeeds again. Bytes of a failed write that reached the file are cut
//   off, so the file stays a sequence of whole blocks.
//
// Channels: the single-module view records channel 0 (append() with four
// arguments); a window that polls many modules records each one (and what it
// computes from them) on a channel of its own, 1..MaxChannel, into a journal
// file of its own ("Data.watch.journal", with its own lock). Every channel
// keeps its own open block, so channels appended in turn (1, 2, ... every
// round) do not break each other's blocks; a flush writes the open block of
// every channel, all in the one write().
//
// File layout: a sequence of blocks, each
//   'K' 'J' version: 1 for channel 0; 2 followed by varint channel otherwise
//   varint zigzag(first X), varint zigzag(decimal), varint zigzag(first time ms),
//   varint count, varint payload length
//   payload: per sample varint zigzag(value - previous value) (the first against 0)
//            and varint zigzag(time - previous time) (the first against the first time)
//   CRC-32 (IEEE) of everything before it in the block, 4 bytes little-endian.
// Varints are little-endian base-128 (7 bits a byte, the high bit set on all
// but the last). The samples of a block have consecutive X (first X, +1, ...)
// and one decimal; a new block of the channel starts when either breaks.
//
// Reading takes every block that checks out (magic, bounds, CRC, payload);
// damaged bytes are never read as values. After a block that does not check
// out, reading goes on at the next place where a whole, sound block starts,
// so damage costs the samples of the damaged blocks only. The result says
// how many bytes were damaged and about how many samples they held, in all
// and per channel (for a channel: the gap in X between its good blocks
// around the damage, or else the count in the headers of its damaged
// blocks; never more than the bytes could hold). A block of a channel above
// MaxChannel is damage. Only a regular file is read: a FIFO or a device in
// the journal's place is never opened.
//
// One program at a time: the journal is claimed with a lock file beside it
// ("Data.journal.lock", released at the end of the run). A program that finds
// it held by another one that runs keeps no journal in this run and never
// touches that file. A lock that cannot be judged (empty, as a power cut
// right after its creation leaves it; unreadable; written on another host) is
// the operator's to judge: claimLeftover() says so, and takeOverLock() or
// runWithout() follow. The lock is taken only when there is a journal or a
// lock to look at, or a first sample to write, so a run that records nothing
// leaves no file behind, whatever way it ends.
//
// A journal of an earlier run is never cut or removed before the operator
// has answered the offer to restore it: one declined, or one with nothing
// left to restore, is renamed beside it (setAside(), at most KeptAsideFiles
// of each kind are kept).

#include <QElapsedTimer>
#include <QFile>
#include <QLatin1String>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class RecordingJournal : public QObject
{
    Q_OBJECT
public:
    static constexpr QLatin1String FileName{"Data.journal"};
    /// The journal of the window that watches many modules.
    static constexpr QLatin1String WatchFileName{"Data.watch.journal"};
    static constexpr QLatin1String LockSuffix{".lock"};
    static constexpr int FlushIntervalMs = 500;
    static constexpr int SyncIntervalMs = 5000;
    static constexpr qsizetype FlushBytes = 64 * 1024;
    static constexpr qsizetype MaxPendingBytes = 16 * 1024 * 1024;
    static constexpr qsizetype MaxBlockSamples = 65536;
    static constexpr std::uint8_t FormatVersion = 1;        ///< blocks of channel 0
    static constexpr std::uint8_t ChannelFormatVersion = 2; ///< blocks that name their channel
    static constexpr int MaxChannel = 1023;

    /// The samples of one block, as read back.
    struct Block {
        int channel = 0;
        qint64 firstX = 0;
        int decimal = 0;
        std::vector<qint32> values;
        std::vector<qint64> wallMs;
        qint64 endOffset = 0; ///< file offset just after the block
    };
    /// Return false to stop reading after this block.
    using BlockVisitor = std::function<bool(const Block &)>;

    /// What one channel holds, as read back.
    struct ChannelSummary {
        int channel = 0;
        qint64 blocks = 0;
        qint64 samples = 0;
        qint64 firstX = 0; ///< of its first block
        qint64 lastX = 0;  ///< of its last block
        qint64 lostSamples = 0;
    };

    struct ReadResult {
        bool opened = false; ///< the file exists and could be read
        qint64 blocks = 0;   ///< whole blocks read (and visited)
        qint64 samples = 0;
        qint64 firstX = 0; ///< of the first block read
        qint64 lastX = 0;  ///< of the last block read
        qint64 firstMs = 0;
        qint64 lastMs = 0;
        qint64 validBytes = 0; ///< end of the last good block: the part to go on after
        qint64 fileBytes = 0;
        qint64 damagedBytes = 0; ///< bytes in no good block
        qint64 lostSamples = 0;  ///< about how many samples the damaged bytes held
        /// Every channel with a good block or a lost sample, by channel.
        std::vector<ChannelSummary> channels;
        const ChannelSummary *channel(int channel) const;
        bool tailDropped() const { return validBytes < fileBytes; }
        QString error; ///< why the file could not be read
    };

    /// Reads the journal at `path` block by block, in order, calling `visit`
    /// for every whole block.
    static ReadResult Read(const QString &path, const BlockVisitor &visit = {});
    /// Reads journal bytes held in memory (the same rules).
    static ReadResult Parse(const std::uint8_t *data, qint64 size, const BlockVisitor &visit = {});

    /// The journal's place: "Data.journal" in the directory of the settings file.
    static QString PathBeside(const QString &settingsFilePath);
    /// `fileName` (e.g. WatchFileName) in the directory of the settings file.
    static QString PathBeside(const QString &settingsFilePath, QLatin1String fileName);
    /// One block as append() and flush() write it (for tests and fuzzing):
    /// consecutive X from firstX, one time per value.
    static QByteArray EncodeBlock(qint64 firstX, int decimal, const std::vector<qint32> &values,
                                  const std::vector<qint64> &wallMs, int channel = 0);

    explicit RecordingJournal(const QString &path, QObject *parent = nullptr);
    /// Writes what is still in memory; the file stays (a program that ends
    /// normally calls remove() first).
    ~RecordingJournal() override;
    RecordingJournal(const RecordingJournal &) = delete;
    RecordingJournal &operator=(const RecordingJournal &) = delete;

    QString path() const { return m_path; }

    /// Records one sample on channel 0. Cheap: the bytes reach the file with
    /// the next flush.
    void append(qint64 sampleX, qint32 rawValue, int decimal, qint64 wallMs)
    {
        if (!m_enabled || m_unavailable)
            return;
        if (m_blockCount == 0 || sampleX != m_nextX || decimal != m_blockDecimal ||
            m_blockCount >= MaxBlockSamples)
            startBlock(sampleX, decimal, wallMs);
        putSigned(std::int64_t(rawValue) - m_lastValue);
        putSigned(std::int64_t(std::uint64_t(wallMs) - std::uint64_t(m_lastMs)));
        m_lastValue = rawValue;
        m_lastMs = wallMs;
        m_nextX = sampleX + 1;
        ++m_blockCount;
        ++m_stats.samples;
        if (!m_flushTimer.isActive())
            m_flushTimer.start();
        if (qsizetype(m_payload.size()) + m_pending.size() >= FlushBytes)
            flush();
    }

    /// Records one sample on `channel` (0..MaxChannel; any other is not
    /// recorded). X counts on per channel: for a window that polls round
    /// after round, the round number.
    void append(int channel, qint64 sampleX, qint32 rawValue, int decimal, qint64 wallMs);

    /// Writes every sample appended so far to the file (one write()). False
    /// when the write failed (the samples stay in memory for the next try).
    bool flush();

    /// The samples are saved elsewhere, cleared, or the run ends normally:
    /// drops what is in memory and deletes the file. Recording goes on with a
    /// new file at the next sample.
    void remove();

    enum class Leftover {
        None,          ///< no journal of an earlier run
        Claimed,       ///< there is one, and this program now holds it
        HeldElsewhere, ///< a running program holds the journal: this run keeps none
        LockUnjudged,  ///< the lock cannot be judged: takeOverLock() or runWithout()
        NotRegular,    ///< something else than a file in its place: this run keeps none
    };
    /// At start, before the first sample: looks at the journal and its lock.
    /// A journal no running program holds is claimed (Claimed); the caller
    /// then reads it and adopt()s it, or setAside()s or remove()s it. A lock
    /// left by a program that no longer runs is taken over (None or Claimed).
    Leftover claimLeftover();
    /// Takes a lock that could not be judged (the operator said no program
    /// uses the journal); true when this program holds it now.
    bool takeOverLock();
    /// Records no journal in this run (the file and the lock stay as they are).
    void runWithout();
    static constexpr int KeptAsideFiles = 3;
    /// Renames the claimed journal to "<journal>.<kind>-<yyyyMMdd-HHmmss>",
    /// drops the oldest of that kind beyond KeptAsideFiles, and goes on with a
    /// new file at the next sample. The new name, or empty when the journal is
    /// not this program's or the rename failed (lastError()).
    QString setAside(const QString &kind);
    /// The lock file's path.
    QString lockPath() const { return m_path + LockSuffix; }
    /// Goes on recording into the claimed leftover journal: its good part,
    /// `validBytes` long (ReadResult::validBytes, or the end of the last block
    /// taken over), is kept and anything after it cut off.
    bool adopt(qint64 validBytes);

    /// Another running program holds the journal: this one keeps none.
    bool unavailable() const { return m_unavailable; }
    /// Off: append() records nothing (for measurements).
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    /// Samples waiting in memory for the next flush.
    bool hasPending() const { return m_blockCount > 0 || m_channelBytes > 0 || !m_pending.isEmpty(); }
    QString lastError() const { return m_lastError; }

    struct Stats {
        qint64 samples = 0; ///< appended
        qint64 flushes = 0; ///< writes to the file
        qint64 blocks = 0;
        qint64 bytesWritten = 0;
        qint64 flushNs = 0; ///< wall time spent in flush(), syncs included
        qint64 syncs = 0;
        qint64 syncNs = 0;
        qint64 syncMaxNs = 0;
        qint64 samplesGivenUp = 0;
    };
    const Stats &stats() const { return m_stats; }

signals:
    /// Writing the journal failed (once until a write succeeds again).
    void writeFailed(const QString &reason);

private:
    void startBlock(qint64 sampleX, int decimal, qint64 wallMs);
    void closeBlock();
    struct ChannelBlock;
    void closeChannelBlock(int channel, ChannelBlock &block);
    void closeAllBlocks();
    void dropOpenBlocks();
    void putSigned(std::int64_t value)
    {
        auto v = (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
        while (v >= 0x80) {
            m_payload.push_back(std::uint8_t(v) | 0x80);
            v >>= 7;
        }
        m_payload.push_back(std::uint8_t(v));
    }
    bool claim();
    enum class LockState { Taken, HeldElsewhere, Unjudged, Failed };
    LockState tryLock();
    bool openFile();
    bool fail(const QString &reason);

    QString m_path;
    QFile m_file;
    std::unique_ptr<QLockFile> m_lock;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceSync;
    bool m_enabled = true;
    bool m_unavailable = false;
    bool m_failing = false;
    bool m_toldUnavailable = false;
    bool m_ownsFile = false; ///< the file at m_path is this program's to write and remove
    qint64 m_goodBytes = 0;  ///< length of the file's whole blocks
    QString m_lastError;

    // The block being built.
    std::vector<std::uint8_t> m_payload;
    qint64 m_blockFirstX = 0;
    int m_blockDecimal = 0;
    qint64 m_blockFirstMs = 0;
    qint64 m_blockCount = 0;
    qint64 m_nextX = 0;
    std::int64_t m_lastValue = 0;
    qint64 m_lastMs = 0;
    // The blocks being built for channels 1..MaxChannel (at index channel - 1).
    struct ChannelBlock {
        std::vector<std::uint8_t> payload;
        qint64 firstX = 0;
        int decimal = 0;
        qint64 firstMs = 0;
        qint64 count = 0;
        qint64 nextX = 0;
        std::int64_t lastValue = 0;
        qint64 lastMs = 0;
    };
    std::vector<ChannelBlock> m_channels;
    qsizetype m_channelBytes = 0; ///< payload bytes of their open blocks
    /// Whole blocks not yet written.
    QByteArray m_pending;
    qint64 m_pendingSamples = 0;

    Stats m_stats;
};
