// The recording journal: its file (samples read back exactly as appended;
// a torn or damaged tail dropped, never read as values; at most 10 bytes a
// sample at the automatic-sending rate), going on after the good part of a
// journal taken over, one program at a time; the main window offering a
// journal left by a crash and removing it at a clear, a full export and a
// normal end; and the program killed (SIGKILL) during automatic sending at
// full rate, started again and restored: every sample older than one second
// is back, in order, unchanged. Journals of several channels: channels
// appended in turn read back in few blocks, old blocks read as channel 0,
// damage costs the damaged channel only, two journals in one process.

#include "MainFixture.h"
#include "chart/ChartWidget.h"
#include "device/Protocol.h"
#include "io/RecordingJournal.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace
{
constexpr qint64 Epoch2024Ms = 1704067200000; // 2024-01-01 00:00 UTC
constexpr int WireRate = 1280;                // replies/s at 115200 baud
constexpr double MaxBytesPerSample = 10;
constexpr int FlushesPerSecond = 2;
constexpr int ChildTimeoutMs = 60000;
constexpr int FramesBeforeCount = 2 * WireRate; // two seconds of sending first
constexpr qint64 OlderThanMs = 1000;
constexpr int RestoreDecimal = 2;

struct Sample {
    qint64 x = 0;
    qint32 value = 0;
    int decimal = 0;
    qint64 ms = 0;
    bool operator==(const Sample &) const = default;
};

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

std::vector<Sample> ReadSamples(const QString &path, RecordingJournal::ReadResult *result = nullptr)
{
    std::vector<Sample> samples;
    const RecordingJournal::ReadResult r =
        RecordingJournal::Read(path, [&](const RecordingJournal::Block &b) {
            for (std::size_t i = 0; i < b.values.size(); ++i)
                samples.push_back({b.firstX + qint64(i), b.values[i], b.decimal, b.wallMs[i]});
            return true;
        });
    if (result)
        *result = r;
    return samples;
}

void Append(RecordingJournal &journal, const std::vector<Sample> &samples)
{
    for (const Sample &s : samples)
        journal.append(s.x, s.value, s.decimal, s.ms);
}

/// Samples at the wire's pace: `count` consecutive X from `firstX`, a load
/// with noise of +-`noise` (0: any 32-bit value), times 1000/1280 ms apart.
std::vector<Sample> PacedSamples(qint64 firstX, int count, int noise, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<Sample> samples;
    for (int i = 0; i < count; ++i) {
        const qint32 value =
            noise > 0 ? 12345 + qint32(random.bounded(2 * noise + 1)) - noise : qint32(random.generate());
        samples.push_back({firstX + i, value, 2, Epoch2024Ms + qint64(i) * 1000 / WireRate});
    }
    return samples;
}

/// The displayed value of a raw reply value: divided by 10^decimal when decimal > 0.
double Displayed(qint32 value, int decimal)
{
    return decimal > 0 ? double(value) / std::pow(10.0, decimal) : double(value);
}

/// Doubles compared bit for bit.
quint64 Bits(double v)
{
    return std::bit_cast<quint64>(v);
}

QStringList FilesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

/// The samples of every channel, and how many blocks held them.
struct ByChannel {
    std::map<int, std::vector<Sample>> samples;
    std::map<int, int> blocks;
};

ByChannel ReadByChannel(const QByteArray &bytes, RecordingJournal::ReadResult *result = nullptr)
{
    ByChannel read;
    const RecordingJournal::ReadResult r =
        RecordingJournal::Parse(reinterpret_cast<const std::uint8_t *>(bytes.constData()), bytes.size(),
                                [&](const RecordingJournal::Block &b) {
                                    ++read.blocks[b.channel];
                                    for (std::size_t i = 0; i < b.values.size(); ++i)
                                        read.samples[b.channel].push_back(
                                            {b.firstX + qint64(i), b.values[i], b.decimal, b.wallMs[i]});
                                    return true;
                                });
    if (result)
        *result = r;
    return read;
}

qint64 LostOn(const RecordingJournal::ReadResult &r, int channel)
{
    const RecordingJournal::ChannelSummary *summary = r.channel(channel);
    return summary ? summary->lostSamples : 0;
}

/// A journal of channel 0 as the first version of the program wrote it: the
/// samples {1, 24680}, {2, -5}, {3, 7} at decimal 2 and {10, -1} at decimal 3.
const QByteArray OldJournal("\x4b\x4a\x01\x02\x04\x80\xd0\x8f\xa5\x98\x63\x03\x0a\xd0\x81\x03\x00\xd9\x81\x03"
                            "\x02\x18\x04\xa7\xc6\xe5\xe4\x4b\x4a\x01\x14\x06\x94\xd0\x8f\xa5\x98\x63\x01\x02"
                            "\x01\x00\xa7\x2f\x24\xa4",
                            46);
const std::vector<Sample> OldSamples = {{1, 24680, 2, Epoch2024Ms},
                                        {2, -5, 2, Epoch2024Ms + 1},
                                        {3, 7, 2, Epoch2024Ms + 3},
                                        {10, -1, 3, Epoch2024Ms + 10}};
/// One block of channel 300: {7, 100} and {8, 101} at decimal 1, 250 ms apart.
const QByteArray Channel300Block("\x4b\x4a\x02\xac\x02\x0e\x02\x80\xd0\x8f\xa5\x98\x63\x02\x06\xc8\x01\x00"
                                 "\x02\xf4\x03\x50\xbd\xb7\x4a",
                                 25);
const std::vector<Sample> Channel300Samples = {{7, 100, 1, Epoch2024Ms}, {8, 101, 1, Epoch2024Ms + 250}};
/// The same block, sound in itself, naming channel 1024.
const QByteArray Channel1024Block("\x4b\x4a\x02\x80\x08\x0e\x02\x80\xd0\x8f\xa5\x98\x63\x02\x06\xc8\x01\x00"
                                  "\x02\xf4\x03\x33\xa3\x24\x39",
                                  25);

/// A watch: `modules` channels from 1, a value each per round (X = round),
/// `decimal` for all.
Sample WatchSample(int channel, qint64 round)
{
    return {round, qint32(channel * 1000 + round * 7 - 50), 2, Epoch2024Ms + round * 100 + channel};
}
} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void samplesReadBackExactlyAndCompact()
    {
        const QString path = m_dir.filePath(QStringLiteral("exact.journal"));
        constexpr qint32 Min = std::numeric_limits<qint32>::min();
        constexpr qint32 Max = std::numeric_limits<qint32>::max();
        std::vector<Sample> samples = {
            {1, 24680, 2, Epoch2024Ms},
            {2, -5, 2, Epoch2024Ms},
            {3, Max, 2, Epoch2024Ms + 1},
            {4, Min, 2, Epoch2024Ms + 1},
            {5, Max, 2, Epoch2024Ms - 3600000}, // the clock set back
            {6, 0, 0, Epoch2024Ms + 86400000},  // a decimal change, a day later
            {7, -1, 0, Epoch2024Ms + 86400000},
            {8, 1500, 4, 0},            // another decimal; a time of 0
            {9, 1500, -3, -1},          // a decimal below 0 (from a hand-edited file)
            {5001, 7, -3, Epoch2024Ms}, // X jumps ahead
            {7, 8, -3, Epoch2024Ms},    // ... and back
            {qint64(1) << 40, Min, std::numeric_limits<int>::max(), std::numeric_limits<qint64>::max()},
            {(qint64(1) << 40) + 1, Max, std::numeric_limits<int>::max(), std::numeric_limits<qint64>::min()},
        };
        // More consecutive samples than one block holds.
        const std::vector<Sample> many =
            PacedSamples(20000, int(RecordingJournal::MaxBlockSamples) + 100, 300, 7);
        samples.insert(samples.end(), many.begin(), many.end());
        {
            RecordingJournal journal(path);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const Sample &s = samples[i];
                journal.append(s.x, s.value, s.decimal, s.ms);
                if (i == 2 || i == 9)
                    QVERIFY(journal.flush());
            }
            QVERIFY(journal.flush());
        }
        RecordingJournal::ReadResult r;
        QCOMPARE(ReadSamples(path, &r), samples);
        QCOMPARE(r.samples, qint64(samples.size()));
        QVERIFY(!r.tailDropped());
        QCOMPARE(r.firstMs, Epoch2024Ms);
        QCOMPARE(r.lastX, samples.back().x);

        // At the wire's pace, flushed twice a second: at most 10 bytes a
        // sample, for a noisy load and for values all over the 32-bit range.
        for (const int noise : {300, 0}) {
            const QString paced = m_dir.filePath(QStringLiteral("paced%1.journal").arg(noise));
            const std::vector<Sample> run = PacedSamples(1, 10 * WireRate, noise, 11);
            {
                RecordingJournal journal(paced);
                for (std::size_t i = 0; i < run.size(); ++i) {
                    journal.append(run[i].x, run[i].value, run[i].decimal, run[i].ms);
                    if ((i + 1) % (WireRate / FlushesPerSecond) == 0)
                        QVERIFY(journal.flush());
                }
            }
            QCOMPARE(ReadSamples(paced), run);
            const double perSample = double(QFileInfo(paced).size()) / double(run.size());
            QVERIFY2(perSample <= MaxBytesPerSample, qPrintable(QString::number(perSample)));
        }
    }

    void tornOrDamagedTailIsDropped()
    {
        const QString path = m_dir.filePath(QStringLiteral("blocks.journal"));
        const std::vector<Sample> all = PacedSamples(1, 90, 300, 3);
        const std::vector<std::size_t> blockEnds = {40, 55, 90}; // samples after each flush
        std::vector<qint64> byteEnds;
        {
            RecordingJournal journal(path);
            std::size_t from = 0;
            for (const std::size_t end : blockEnds) {
                Append(journal, {all.begin() + qsizetype(from), all.begin() + qsizetype(end)});
                QVERIFY(journal.flush());
                byteEnds.push_back(QFileInfo(path).size());
                from = end;
            }
        }
        const QByteArray bytes = ReadAll(path);
        QCOMPARE(qint64(bytes.size()), byteEnds.back());
        const QString cut = m_dir.filePath(QStringLiteral("cut.journal"));
        // Whole blocks before `length` bytes: how many samples they hold and their length.
        const auto wholeBefore = [&](qint64 length, std::size_t &samples, qint64 &validBytes) {
            samples = 0;
            validBytes = 0;
            for (std::size_t b = 0; b < byteEnds.size() && byteEnds[b] <= length; ++b) {
                samples = blockEnds[b];
                validBytes = byteEnds[b];
            }
        };

        // Cut at every byte: exactly the whole blocks before the cut are read.
        for (qint64 length = 0; length <= bytes.size(); ++length) {
            QVERIFY(WriteAll(cut, bytes.left(length)));
            std::size_t samples = 0;
            qint64 validBytes = 0;
            wholeBefore(length, samples, validBytes);
            RecordingJournal::ReadResult r;
            const std::vector<Sample> read = ReadSamples(cut, &r);
            QVERIFY2(read == std::vector<Sample>(all.begin(), all.begin() + qsizetype(samples)),
                     qPrintable(QStringLiteral("cut at %1").arg(length)));
            QCOMPARE(r.validBytes, validBytes);
        }

        // A damaged byte anywhere: its block alone is lost, every other one
        // is read; between two good blocks the loss is counted exactly.
        for (qint64 at = 0; at < bytes.size(); ++at) {
            QByteArray damaged = bytes;
            damaged[at] = char(damaged[at] ^ 0x10);
            QVERIFY(WriteAll(cut, damaged));
            std::size_t block = 0;
            while (byteEnds[block] <= at)
                ++block;
            const std::size_t from = block == 0 ? 0 : blockEnds[block - 1];
            std::vector<Sample> expected(all.begin(), all.begin() + qsizetype(from));
            expected.insert(expected.end(), all.begin() + qsizetype(blockEnds[block]), all.end());
            RecordingJournal::ReadResult r;
            const QString label = QStringLiteral("byte %1 damaged").arg(at);
            QVERIFY2(ReadSamples(cut, &r) == expected, qPrintable(label));
            QCOMPARE(r.damagedBytes, byteEnds[block] - (block == 0 ? 0 : byteEnds[block - 1]));
            if (block == 1)
                QCOMPARE(r.lostSamples, qint64(blockEnds[1] - blockEnds[0]));
        }
    }

    void journalGoesOnAfterItsGoodPartOneProgramAtATime()
    {
        const QString path = m_dir.filePath(QStringLiteral("adopt.journal"));
        const std::vector<Sample> a = PacedSamples(1, 30, 300, 5);
        const std::vector<Sample> b = PacedSamples(31, 20, 300, 6);
        qint64 goodBytes = 0;
        {
            RecordingJournal journal(path);
            Append(journal, a);
            QVERIFY(journal.flush());
            goodBytes = QFileInfo(path).size();
            Append(journal, b);
        }
        // Killed while the second block was written: part of it is there.
        QVERIFY(QFile::resize(path, goodBytes + 7));

        RecordingJournal next(path);
        QCOMPARE(next.claimLeftover(), RecordingJournal::Leftover::Claimed);
        const RecordingJournal::ReadResult found = RecordingJournal::Read(path);
        QCOMPARE(found.samples, qint64(a.size()));
        QVERIFY(found.tailDropped());
        QVERIFY(next.adopt(found.validBytes));
        const std::vector<Sample> c = PacedSamples(31, 25, 300, 8);
        Append(next, c);
        QVERIFY(next.flush());
        std::vector<Sample> expected = a;
        expected.insert(expected.end(), c.begin(), c.end());
        QCOMPARE(ReadSamples(path), expected);

        // A second program on the same journal neither offers, writes nor removes it.
        {
            RecordingJournal other(path);
            QCOMPARE(other.claimLeftover(), RecordingJournal::Leftover::HeldElsewhere);
            QVERIFY(other.unavailable());
            Append(other, PacedSamples(1, 10, 300, 9));
            QVERIFY(!other.hasPending());
            other.flush();
            other.remove();
            QCOMPARE(ReadSamples(path), expected);
        }

        // Removed: the samples go on into a new file.
        next.remove();
        QVERIFY(!QFileInfo::exists(path));
        const std::vector<Sample> d = PacedSamples(56, 5, 300, 10);
        Append(next, d);
        QVERIFY(next.flush());
        QCOMPARE(ReadSamples(path), d);

        // A file that cannot be written: told once, the samples kept and
        // written once it can be.
        const QString blockedDir = m_dir.filePath(QStringLiteral("not yet there"));
        const QString blocked = QDir(blockedDir).filePath(RecordingJournal::FileName);
        RecordingJournal failing(blocked);
        int told = 0;
        connect(&failing, &RecordingJournal::writeFailed, this, [&told] { ++told; });
        const std::vector<Sample> e = PacedSamples(1, 8, 300, 12);
        Append(failing, e);
        QVERIFY(!failing.flush());
        QVERIFY(!failing.flush());
        QCOMPARE(told, 1);
        QVERIFY(failing.hasPending());
        QVERIFY(QDir().mkpath(blockedDir));
        QVERIFY(failing.flush());
        QCOMPARE(ReadSamples(blocked), e);
    }

    void mainWindowRestoresOrDropsALeftoverJournal()
    {
        const std::vector<Sample> left = {
            {1, 24680, 2, Epoch2024Ms},
            {2, -5, 2, Epoch2024Ms + 1},
            {3, std::numeric_limits<qint32>::max(), 2, Epoch2024Ms + 2},
            {4, std::numeric_limits<qint32>::min(), 2, Epoch2024Ms + 3},
            {5, 1500, 3, Epoch2024Ms + 4},
            {6, 24680, 0, Epoch2024Ms + 5},
            {7, 333, 1, Epoch2024Ms + 6},
        };
        for (const bool answer : {true, false}) {
            MainFixture f;
            const QString journalPath = RecordingJournal::PathBeside(f.iniPath());
            {
                RecordingJournal journal(journalPath);
                Append(journal, left);
            }
            // and the start of a block a kill cut short
            QFile torn(journalPath);
            QVERIFY(torn.open(QIODevice::Append));
            torn.write("KJ\x01\x02", 4);
            torn.close();
            const QByteArray journalBytes = ReadAll(journalPath);

            f.prompts.answerYes = answer;
            TfrmMain &m = f.create();
            QTRY_COMPARE(f.prompts.questions.size(), 1);
            QVERIFY2(f.prompts.questions.first().contains(QStringLiteral("有 %1 个").arg(left.size())),
                     qPrintable(f.prompts.questions.first()));
            const ChartWidget &chart = *m.chart();
            if (!answer) {
                // Declined: kept aside as it was, not deleted.
                QCOMPARE(chart.count(ChartWidget::SampleChannel), 0);
                QVERIFY(!QFileInfo::exists(journalPath));
                const QStringList kept = QDir(QFileInfo(journalPath).path())
                                             .entryList({RecordingJournal::FileName + QStringLiteral(".declined-*")});
                QCOMPARE(kept.size(), 1);
                QCOMPARE(ReadAll(QFileInfo(journalPath).dir().filePath(kept.first())), journalBytes);
                continue;
            }
            QCOMPARE(chart.count(ChartWidget::SampleChannel), qsizetype(left.size()));
            for (std::size_t i = 0; i < left.size(); ++i) {
                QCOMPARE(chart.x(ChartWidget::SampleChannel, qsizetype(i)), double(left[i].x));
                QCOMPARE(Bits(chart.y(ChartWidget::SampleChannel, qsizetype(i))),
                         Bits(Displayed(left[i].value, left[i].decimal)));
            }
            // Counting goes on after the restored samples, into the same journal.
            QCOMPARE(m.SampleCount(), qint64(left.size()));
            m.current().Decimal = 2;
            m.reply().ReplyValue = -777;
            m.ShowValue();
            m.PlotValue();
            QCOMPARE(chart.x(ChartWidget::SampleChannel, qsizetype(left.size())), double(left.size() + 1));
            QVERIFY(m.journal().flush());
            const std::vector<Sample> journal = ReadSamples(journalPath);
            QCOMPARE(journal.size(), left.size() + 1);
            QVERIFY(std::equal(left.begin(), left.end(), journal.begin()));
            QCOMPARE(journal.back().x, qint64(left.size() + 1));
            QCOMPARE(journal.back().value, -777);
            QCOMPARE(journal.back().decimal, 2);
        }
    }

    void clearAndFullExportRemoveTheJournal()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        const QString journalPath = RecordingJournal::PathBeside(f.iniPath());
        const auto plot = [&m](int n) {
            for (int i = 0; i < n; ++i) {
                m.reply().ReplyValue = 100 + i;
                m.ShowValue();
                m.PlotValue();
            }
            return m.journal().flush();
        };
        QVERIFY(plot(3));
        // The start-up's look for a journal left by a crash comes after
        // these: this run's own journal is not offered.
        QCoreApplication::processEvents();
        QVERIFY(f.prompts.questions.isEmpty());
        QCOMPARE(ReadSamples(journalPath).size(), std::size_t(3));
        m.btnClearClick();
        QVERIFY(!QFileInfo::exists(journalPath));

        QVERIFY(plot(4));
        QCOMPARE(ReadSamples(journalPath).size(), std::size_t(4));
        // An export that failed saved nothing: the journal stays.
        f.prompts.saveName = m_dir.filePath(QStringLiteral("no such dir/samples.txt"));
        m.btnExportClick();
        QCOMPARE(f.prompts.errors.size(), 1);
        QCOMPARE(ReadSamples(journalPath).size(), std::size_t(4));
        // One that wrote everything: removed; later samples go to a new one.
        f.prompts.saveName = m_dir.filePath(QStringLiteral("samples.txt"));
        m.btnExportClick();
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY(!QFileInfo::exists(journalPath));
        QVERIFY(plot(2));
        const std::vector<Sample> after = ReadSamples(journalPath);
        QCOMPARE(after.size(), std::size_t(2));
        QCOMPARE(after.front().x, qint64(5));
        QVERIFY(f.prompts.questions.isEmpty());
    }

    void killedDuringAutomaticSendingRestoresAtNextStart()
    {
        const QString dir = m_dir.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(dir));
        const QString iniPath = QDir(dir).filePath(SettingsKeys::FileName);
        {
            SettingsStore store(iniPath);
            QVERIFY(store.WriteInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyDecimal,
                                       RestoreDecimal));
        }
        const QString child = QStringLiteral(TEST_HELPERS_DIR "/journal_child");
        TxSim sim;
        QVERIFY(sim.start({QStringLiteral("--auto-rate"), QString::number(WireRate), QStringLiteral("--load"),
                           QStringLiteral("5000"), QStringLiteral("--noise"), QStringLiteral("400")}));

        // Recording at full rate until killed.
        QProcess recorder;
        recorder.start(child, {QStringLiteral("record"), dir, sim.portName()});
        QVERIFY(recorder.waitForStarted(ChildTimeoutMs));
        QVERIFY2(
            sim.waitUntil([&] { return recorder.canReadLine() || recorder.state() != QProcess::Running; },
                          ChildTimeoutMs),
            "the recording child did not start");
        QCOMPARE(recorder.readLine().trimmed(), QByteArray("recording"));
        QVERIFY(sim.waitForSentFrames(FramesBeforeCount, ChildTimeoutMs));
        // Every frame sent by now is more than a second old at the kill.
        const qsizetype sentBefore = sim.sentFrames().size();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(sim.waitUntil([&] { return clock.elapsed() >= OlderThanMs; }, ChildTimeoutMs));
        QCOMPARE(recorder.state(), QProcess::Running);
        recorder.kill();
        QVERIFY(recorder.waitForFinished(ChildTimeoutMs));
        // The answer comes after the log lines of every frame sent before it.
        QVERIFY(sim.ok(QStringLiteral("autosend off")));
        std::vector<qint32> sent;
        for (const QByteArray &frame : sim.sentFrames()) {
            if (frame.size() != qsizetype(ReplyFrameSize))
                continue;
            const Reply reply = DecodeReply(reinterpret_cast<const std::uint8_t *>(frame.constData()) + 1);
            if (reply.command == CmdReadValue)
                sent.push_back(reply.value);
        }
        QVERIFY(qsizetype(sent.size()) >= sentBefore);
        sim.stop();

        // Started again: asked, answered yes, restored, ended normally.
        QProcess restorer;
        restorer.start(child, {QStringLiteral("restore"), dir});
        QVERIFY(restorer.waitForFinished(ChildTimeoutMs));
        QVERIFY2(restorer.exitStatus() == QProcess::NormalExit && restorer.exitCode() == 0,
                 restorer.readAllStandardError().constData());
        QStringList questions;
        std::vector<std::pair<double, quint64>> points;
        qint64 restored = -1, sampleCount = -1;
        for (const QByteArray &line : restorer.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (line.startsWith("question "))
                questions << QString::fromUtf8(line.mid(9));
            else if (words.size() == 3 && words[0] == "point")
                points.emplace_back(words[1].toDouble(), words[2].toULongLong(nullptr, 16));
            else if (words.size() == 3 && words[0] == "restored") {
                restored = words[1].toLongLong();
                sampleCount = words[2].toLongLong();
            }
        }
        qInfo("restored %lld samples; sent %lld before the last second, %lld in all",
              static_cast<long long>(restored), static_cast<long long>(sentBefore),
              static_cast<long long>(sent.size()));
        QCOMPARE(qint64(points.size()), restored);
        QCOMPARE(sampleCount, restored);
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions.first().contains(QStringLiteral("有 %1 个").arg(restored)),
                 qPrintable(questions.first()));
        QVERIFY2(
            restored >= qint64(sentBefore) && restored <= qint64(sent.size()),
            qPrintable(QStringLiteral("restored %1, sent %2 more than a second before the kill, %3 in all")
                           .arg(restored)
                           .arg(sentBefore)
                           .arg(sent.size())));
        for (std::size_t i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i].first, double(i + 1));
            QVERIFY2(points[i].second == Bits(Displayed(sent[i], RestoreDecimal)),
                     qPrintable(QStringLiteral("sample %1").arg(i + 1)));
        }
        // The normal end removed the journal and its lock.
        QCOMPARE(FilesIn(dir), QStringList{SettingsKeys::FileName});
    }

    void channelsInterleavedAndOldBlocksReadBack()
    {
        // Old journals read as they are, on channel 0; the four-argument
        // append and channel 0 write them byte for byte.
        RecordingJournal::ReadResult r;
        QCOMPARE(ReadByChannel(OldJournal, &r).samples,
                 (std::map<int, std::vector<Sample>>{{0, OldSamples}}));
        QCOMPARE(r.blocks, 2);
        QVERIFY(r.channels.size() == 1 && r.channels[0].channel == 0 && r.channels[0].samples == 4);
        const QString oldPath = m_dir.filePath(QStringLiteral("old.journal"));
        const QString viaChannel = m_dir.filePath(QStringLiteral("channel0.journal"));
        const QString channel300 = m_dir.filePath(QStringLiteral("channel300.journal"));
        {
            RecordingJournal plain(oldPath), zero(viaChannel), named(channel300);
            for (const Sample &s : OldSamples) {
                plain.append(s.x, s.value, s.decimal, s.ms);
                zero.append(0, s.x, s.value, s.decimal, s.ms);
            }
            for (const Sample &s : Channel300Samples)
                named.append(300, s.x, s.value, s.decimal, s.ms);
            // Channels beyond the range are not recorded.
            named.append(RecordingJournal::MaxChannel + 1, 1, 1, 0, Epoch2024Ms);
            named.append(-1, 1, 1, 0, Epoch2024Ms);
        }
        QCOMPARE(ReadAll(oldPath), OldJournal);
        QCOMPARE(ReadAll(viaChannel), OldJournal);
        QCOMPARE(ReadAll(channel300), Channel300Block);

        // A channel above the range is damage; the blocks around it are read.
        QCOMPARE(ReadByChannel(OldJournal + Channel1024Block + Channel300Block, &r).samples,
                 (std::map<int, std::vector<Sample>>{{0, OldSamples}, {300, Channel300Samples}}));
        QCOMPARE(r.damagedBytes, Channel1024Block.size());

        // 32 modules and their sum on channel 33, round after round, flushed
        // every ten rounds: one block per channel and flush, and one more for
        // module 5, which missed rounds 15 to 17; module 9 records nothing.
        constexpr int Modules = 32, Sum = Modules + 1, Rounds = 40, RoundsPerFlush = 10;
        const QString path = m_dir.filePath(RecordingJournal::WatchFileName);
        std::map<int, std::vector<Sample>> expected;
        {
            RecordingJournal watch(path);
            for (qint64 round = 1; round <= Rounds; ++round) {
                for (int channel = 1; channel <= Sum; ++channel) {
                    if (channel == 9 || (channel == 5 && round >= 15 && round <= 17))
                        continue;
                    const Sample s = WatchSample(channel, round);
                    watch.append(channel, s.x, s.value, s.decimal, s.ms);
                    expected[channel].push_back(s);
                }
                if (round % RoundsPerFlush == 0)
                    QVERIFY(watch.flush());
            }
        }
        ByChannel watched = ReadByChannel(ReadAll(path), &r);
        QCOMPARE(watched.samples, expected);
        for (int channel = 1; channel <= Sum; ++channel) {
            const int blocks = channel == 9   ? 0
                               : channel == 5 ? Rounds / RoundsPerFlush + 1
                                              : Rounds / RoundsPerFlush;
            QCOMPARE(watched.blocks[channel], blocks);
            const RecordingJournal::ChannelSummary *summary = r.channel(channel);
            QCOMPARE(summary != nullptr, blocks > 0);
            if (summary) {
                QCOMPARE(summary->samples, qint64(expected[channel].size()));
                QCOMPARE(summary->firstX, 1);
                QCOMPARE(summary->lastX, Rounds);
                QCOMPARE(summary->lostSamples, 0);
            }
        }
        QCOMPARE(r.blocks, qint64(Sum - 1) * (Rounds / RoundsPerFlush) + 1);

        // Without a flush: within the flush interval, every channel's samples are in the file.
        QVERIFY(QFile::remove(path));
        RecordingJournal watch(path);
        for (int channel = 1; channel <= 3; ++channel) {
            const Sample s = WatchSample(channel, 1);
            watch.append(channel, s.x, s.value, s.decimal, s.ms);
        }
        QTRY_COMPARE(ReadByChannel(ReadAll(path)).samples.size(), std::size_t(3));
        QVERIFY(!watch.hasPending());
    }

    void damageInOneChannelCostsThatChannelOnly()
    {
        // Three channels, three flushes of ten rounds: nine blocks, channel
        // 1, 2, 3 after each other.
        constexpr int Channels = 3, Rounds = 30, RoundsPerFlush = 10;
        const QString path = m_dir.filePath(QStringLiteral("damage.journal"));
        std::map<int, std::vector<Sample>> all;
        {
            RecordingJournal journal(path);
            for (qint64 round = 1; round <= Rounds; ++round) {
                for (int channel = 1; channel <= Channels; ++channel) {
                    const Sample s = WatchSample(channel, round);
                    journal.append(channel, s.x, s.value, s.decimal, s.ms);
                    all[channel].push_back(s);
                }
                if (round % RoundsPerFlush == 0)
                    QVERIFY(journal.flush());
            }
        }
        const QByteArray bytes = ReadAll(path);
        std::vector<qint64> ends{0};
        RecordingJournal::Parse(reinterpret_cast<const std::uint8_t *>(bytes.constData()), bytes.size(),
                                [&](const RecordingJournal::Block &b) {
                                    ends.push_back(b.endOffset);
                                    return true;
                                });
        QCOMPARE(ends.size(), std::size_t(Channels * Rounds / RoundsPerFlush + 1));

        // Any byte of channel 2's middle block: its ten rounds are lost, and
        // counted on channel 2 only.
        std::map<int, std::vector<Sample>> expected = all;
        auto &two = expected[2];
        two.erase(two.begin() + RoundsPerFlush, two.begin() + 2 * RoundsPerFlush);
        for (qint64 at = ends[4]; at < ends[5]; ++at) {
            QByteArray damaged = bytes;
            damaged[at] = char(damaged[at] ^ 0x10);
            RecordingJournal::ReadResult r;
            const QString label = QStringLiteral("byte %1 damaged").arg(at);
            QVERIFY2(ReadByChannel(damaged, &r).samples == expected, qPrintable(label));
            QCOMPARE(r.damagedBytes, ends[5] - ends[4]);
            QCOMPARE(LostOn(r, 2), RoundsPerFlush);
            QCOMPARE(LostOn(r, 1), 0);
            QCOMPARE(LostOn(r, 3), 0);
        }

        // The last block's CRC damaged: channel 3 loses its last ten rounds,
        // as its header says.
        QByteArray torn = bytes;
        torn[torn.size() - 1] = char(torn[torn.size() - 1] ^ 0x01);
        expected = all;
        expected[3].resize(Rounds - RoundsPerFlush);
        RecordingJournal::ReadResult r;
        QCOMPARE(ReadByChannel(torn, &r).samples, expected);
        QCOMPARE(r.lostSamples, RoundsPerFlush);
        QCOMPARE(LostOn(r, 3), RoundsPerFlush);
        QVERIFY(r.tailDropped());
    }

    void twoJournalsInOneProcess()
    {
        const QString dir = m_dir.filePath(QStringLiteral("two"));
        QVERIFY(QDir().mkpath(dir));
        const QString ini = QDir(dir).filePath(SettingsKeys::FileName);
        const QString mainPath = RecordingJournal::PathBeside(ini);
        const QString watchPath = RecordingJournal::PathBeside(ini, RecordingJournal::WatchFileName);
        QCOMPARE(watchPath, QDir(dir).filePath(QStringLiteral("Data.watch.journal")));
        const std::vector<Sample> single = PacedSamples(1, 50, 300, 21);
        std::map<int, std::vector<Sample>> watched;
        {
            RecordingJournal main(mainPath), watch(watchPath);
            QCOMPARE(main.claimLeftover(), RecordingJournal::Leftover::None);
            QCOMPARE(watch.claimLeftover(), RecordingJournal::Leftover::None);
            for (std::size_t i = 0; i < single.size(); ++i) {
                Append(main, {single[i]});
                for (int channel = 1; channel <= 4; ++channel) {
                    const Sample s = WatchSample(channel, qint64(i) + 1);
                    watch.append(channel, s.x, s.value, s.decimal, s.ms);
                    watched[channel].push_back(s);
                }
            }
            QVERIFY(main.flush());
            QVERIFY(watch.flush());
            QVERIFY(QFileInfo::exists(main.lockPath()));
            QVERIFY(QFileInfo::exists(watch.lockPath()));
            QCOMPARE(ReadByChannel(ReadAll(mainPath)).samples,
                     (std::map<int, std::vector<Sample>>{{0, single}}));
            QCOMPARE(ReadByChannel(ReadAll(watchPath)).samples, watched);

            // Each file is held on its own: a third one on the watch journal keeps none.
            RecordingJournal third(watchPath);
            QCOMPARE(third.claimLeftover(), RecordingJournal::Leftover::HeldElsewhere);

            // The single-module journal removed: the watch goes on.
            main.remove();
            const Sample s = WatchSample(1, qint64(single.size()) + 1);
            watch.append(1, s.x, s.value, s.decimal, s.ms);
            watched[1].push_back(s);
        }
        QCOMPARE(ReadByChannel(ReadAll(watchPath)).samples, watched);
        QCOMPARE(FilesIn(dir), QStringList{RecordingJournal::WatchFileName});
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
