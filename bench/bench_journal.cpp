// Cost of the recording journal at the 115200-baud automatic-sending rate of
// 1,280 samples/s.
//
// 1. The journal alone: ten minutes' worth of samples appended and flushed
//    every 640 samples (twice a second at the real rate), for a noisy load
//    and for values all over the 32-bit range: CPU per sample and per flush,
//    the share of one core that makes at 1,280 samples/s, bytes per sample
//    on disk. Then the same samples spread over 32 modules polled round
//    after round and their sum (33 channels, X the round): CPU per sample,
//    bytes per sample, blocks. Then the time one sync to the disk takes
//    beside the settings.
// 2. The real path: the main window receiving automatic sending from the
//    simulator at 1,280 replies/s (serial port -> assembler -> device link ->
//    value display, chart and journal), in alternating spells with the
//    journal on and off: process CPU of each, the time spent in the
//    journal's flushes (syncs included), bytes per sample on disk. At the end
//    the journal is read back and compared with the chart: every journaled
//    sample restores to the chart's value, bit for bit.
//
// Usage: bench_journal [seconds per spell]

#include "BenchClock.h"
#include "MainFixture.h"
#include "chart/ChartWidget.h"
#include "io/Platform.h"
#include "io/RecordingJournal.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace
{
constexpr int RealRateHz = 1280;
constexpr int SamplesPerFlush = RealRateHz * RecordingJournal::FlushIntervalMs / 1000;
constexpr int AloneSeconds = 600;
constexpr int DefaultSpellSeconds = 10;
constexpr int Spells = 4; // on, off, on, off
constexpr int SyncRounds = 20;
constexpr qint64 Epoch2024Ms = 1704067200000;
constexpr int PacedLoad = 5000;
constexpr int PacedNoise = 400;
constexpr int DrainMs = 300;
constexpr double TargetCoreShare = 0.01;
constexpr double TargetBytesPerSample = 10;


qint64 ThreadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}


struct AloneFigures {
    double nsPerSample = 0; ///< appends and flushes, thread CPU
    double usPerFlush = 0;  ///< wall time inside flush()
    double bytesPerSample = 0;
    bool exact = false;
};

/// The journal alone, at full speed, flushed as at the real rate.
AloneFigures JournalAlone(const QString &path, int noise)
{
    QRandomGenerator random(42);
    const int count = AloneSeconds * RealRateHz;
    std::vector<qint32> values(static_cast<std::size_t>(count));
    std::vector<qint64> times(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        values[std::size_t(i)] =
            noise > 0 ? PacedLoad + qint32(random.bounded(2 * noise + 1)) - noise : qint32(random.generate());
        times[std::size_t(i)] = Epoch2024Ms + qint64(i) * 1000 / RealRateHz;
    }
    QFile::remove(path);
    AloneFigures figures;
    {
        RecordingJournal journal(path);
        const qint64 cpu0 = ThreadCpuNs();
        for (int i = 0; i < count; ++i) {
            journal.append(i + 1, values[std::size_t(i)], 2, times[std::size_t(i)]);
            if ((i + 1) % SamplesPerFlush == 0)
                journal.flush();
        }
        journal.flush();
        figures.nsPerSample = double(ThreadCpuNs() - cpu0) / count;
        figures.usPerFlush =
            double(journal.stats().flushNs) / 1000.0 / double(std::max<qint64>(journal.stats().flushes, 1));
    }
    figures.bytesPerSample = double(QFileInfo(path).size()) / count;
    qint64 i = 0;
    bool exact = true;
    RecordingJournal::Read(path, [&](const RecordingJournal::Block &b) {
        for (std::size_t k = 0; k < b.values.size(); ++k, ++i)
            exact = exact && b.firstX + qint64(k) == i + 1 && b.values[k] == values[std::size_t(i)] &&
                    b.wallMs[k] == times[std::size_t(i)];
        return true;
    });
    figures.exact = exact && i == count;
    QFile::remove(path);
    return figures;
}

/// The same rate spread over a watch of WatchModules modules and their sum,
/// one channel each, flushed as at the real rate.
void WatchAlone(const QString &path)
{
    constexpr int WatchModules = 32;
    const int rounds = AloneSeconds * RealRateHz / WatchModules;
    const int roundsPerFlush = SamplesPerFlush / WatchModules;
    QRandomGenerator random(42);
    std::vector<qint32> values(std::size_t(rounds) * (WatchModules + 1));
    for (qint32 &v : values)
        v = PacedLoad + qint32(random.bounded(2 * PacedNoise + 1)) - PacedNoise;
    QFile::remove(path);
    qint64 ns = 0, samples = 0;
    {
        RecordingJournal journal(path);
        const qint64 cpu0 = ThreadCpuNs();
        for (int round = 0; round < rounds; ++round) {
            const qint64 ms = Epoch2024Ms + qint64(round) * 1000 * WatchModules / RealRateHz;
            for (int channel = 1; channel <= WatchModules + 1; ++channel)
                journal.append(channel, round + 1,
                               values[std::size_t(round) * (WatchModules + 1) + std::size_t(channel - 1)], 2,
                               ms + channel);
            if ((round + 1) % roundsPerFlush == 0)
                journal.flush();
        }
        journal.flush();
        ns = ThreadCpuNs() - cpu0;
        samples = journal.stats().samples;
    }
    std::size_t i = 0;
    bool exact = true;
    const RecordingJournal::ReadResult r =
        RecordingJournal::Read(path, [&](const RecordingJournal::Block &b) {
            for (std::size_t k = 0; k < b.values.size(); ++k)
                exact = exact &&
                        b.values[k] == values[std::size_t(b.firstX - 1 + qint64(k)) * (WatchModules + 1) +
                                              std::size_t(b.channel - 1)];
            i += b.values.size();
            return true;
        });
    std::printf("  %d modules and their sum:    %6.1f ns/sample (appends and flushes), %5.2f bytes/sample, "
                "%lld blocks of %lld channels; read back %s\n",
                WatchModules, double(ns) / double(samples), double(r.fileBytes) / double(samples),
                static_cast<long long>(r.blocks), static_cast<long long>(r.channels.size()),
                exact && qint64(i) == samples ? "exact" : "NOT EXACT");
    QFile::remove(path);
}

/// Wall time of one sync of a journal-sized append, in the directory given.
void SyncCost(const QString &dir)
{
    QFile file(QDir(dir).filePath(QStringLiteral("sync.bench")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return;
    const QByteArray fiveSeconds(5 * RealRateHz * 3, 'x'); // about 3 bytes a sample
    std::vector<double> ms;
    for (int i = 0; i < SyncRounds; ++i) {
        file.write(fiveSeconds);
        QElapsedTimer t;
        t.start();
        QString error;
        Platform::SyncHandle(file.handle(), &error);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    file.close();
    file.remove();
    std::sort(ms.begin(), ms.end());
    std::printf("sync to the disk after 5 s of samples (%s): median %.2f ms, max %.2f ms "
                "(one every %d s: %.4f%% of the time)\n",
                qPrintable(dir), ms[ms.size() / 2], ms.back(), RecordingJournal::SyncIntervalMs / 1000,
                100.0 * ms[ms.size() / 2] / RecordingJournal::SyncIntervalMs);
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int spellSeconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : DefaultSpellSeconds;

    // 1. The journal alone.
    QTemporaryDir scratch;
    const QString alonePath = scratch.filePath(QStringLiteral("alone.journal"));
    std::printf("journal alone: %d s of samples at %d/s, flushed every %d samples\n", AloneSeconds,
                RealRateHz, SamplesPerFlush);
    for (const int noise : {PacedNoise, 0}) {
        const AloneFigures a = JournalAlone(alonePath, noise);
        std::printf("  %-28s %6.1f ns/sample (appends and flushes), %6.1f us/flush, %5.2f bytes/sample, "
                    "%.4f%% of a core at %d/s; read back %s\n",
                    noise > 0 ? "load 5000 +-400:" : "any 32-bit value:", a.nsPerSample, a.usPerFlush,
                    a.bytesPerSample, 100.0 * a.nsPerSample * RealRateHz / 1e9, RealRateHz,
                    a.exact ? "exact" : "NOT EXACT");
    }
    WatchAlone(alonePath);

    // 2. The real path.
    MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
    SyncCost(f.settingsDir());
    if (!f.connect({QStringLiteral("--load"), QString::number(PacedLoad), QStringLiteral("--noise"),
                    QString::number(PacedNoise)}) ||
        !f.sim().ok(QStringLiteral("log off")))
        return std::puts("main window could not open the simulator"), 1;
    TfrmMain &m = f.main();
    m.resize(1000, 600);
    m.current().Decimal = 2;
    RecordingJournal &journal = m.journal();
    const QString journalPath = journal.path();
    f.prompts.answerYes = true;
    m.btnReportClick();
    QTest::qWait(50);
    f.sim().ok(QStringLiteral("autosend off"));
    QTest::qWait(DrainMs);
    m.btnClearClick();
    f.sim().ok(QStringLiteral("autorate %1").arg(RealRateHz));

    std::printf("\nreal path at %d replies/s, spells of %d s, journal in %s:\n", RealRateHz, spellSeconds,
                qPrintable(journalPath));
    double cpuOn = 0, cpuOff = 0, wallOn = 0, wallOff = 0;
    qint64 samplesOn = 0;
    for (int spell = 0; spell < Spells; ++spell) {
        const bool on = spell % 2 == 0;
        journal.setEnabled(on);
        const qint64 before = m.SampleCount();
        const RecordingJournal::Stats stats0 = journal.stats();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer t;
        t.start();
        f.sim().ok(QStringLiteral("autosend on"));
        RunFor(spellSeconds * 1000);
        f.sim().ok(QStringLiteral("autosend off"));
        const double wall = double(t.nsecsElapsed()) / 1e9;
        const double cpu = ProcessCpuSeconds() - cpu0;
        RunFor(DrainMs);
        journal.flush();
        const qint64 got = m.SampleCount() - before;
        const RecordingJournal::Stats &s = journal.stats();
        std::printf("  journal %-3s %5.2f s: %6lld samples (%4.0f/s), process CPU %5.2f%% of one core; "
                    "journal flushes %lld, %.3f ms in them (%.4f%% of the time), syncs %lld (max %.2f ms)\n",
                    on ? "on" : "off", wall, static_cast<long long>(got), double(got) / wall,
                    100.0 * cpu / wall, static_cast<long long>(s.flushes - stats0.flushes),
                    double(s.flushNs - stats0.flushNs) / 1e6,
                    100.0 * double(s.flushNs - stats0.flushNs) / 1e9 / wall,
                    static_cast<long long>(s.syncs - stats0.syncs), double(s.syncMaxNs) / 1e6);
        (on ? cpuOn : cpuOff) += cpu;
        (on ? wallOn : wallOff) += wall;
        if (on)
            samplesOn += got;
    }
    journal.setEnabled(true);

    // Read back against the chart.
    const ChartWidget &chart = *m.chart();
    qint64 read = 0, mismatched = 0;
    const RecordingJournal::ReadResult r =
        RecordingJournal::Read(journalPath, [&](const RecordingJournal::Block &b) {
            for (std::size_t k = 0; k < b.values.size(); ++k) {
                const qint64 index = b.firstX + qint64(k) - 1;
                ++read;
                if (index < 0 || index >= chart.count(ChartWidget::SampleChannel) ||
                    chart.x(ChartWidget::SampleChannel, index) != double(b.firstX + qint64(k)) ||
                    std::bit_cast<quint64>(chart.y(ChartWidget::SampleChannel, index)) !=
                        std::bit_cast<quint64>(ModuleSession::DisplayValueOf(b.values[k], b.decimal)))
                    ++mismatched;
            }
            return true;
        });
    const double bytesPerSample = double(r.fileBytes) / double(std::max<qint64>(read, 1));
    const double shareOn = cpuOn / wallOn, shareOff = cpuOff / wallOff;
    const RecordingJournal::Stats &s = journal.stats();
    // The journal's own CPU: the appends (as measured alone) and the flushes.
    const AloneFigures a = JournalAlone(alonePath, PacedNoise);
    // ... and the wall-clock reading each sample takes with it.
    constexpr int ClockReads = 1000000;
    qint64 sink = 0;
    const qint64 clock0 = ThreadCpuNs();
    for (int i = 0; i < ClockReads; ++i)
        sink ^= QDateTime::currentMSecsSinceEpoch();
    const double clockNs = double(ThreadCpuNs() - clock0) / ClockReads;
    if (sink == 1)
        std::puts(""); // keeps the readings from being left out
    const double journalShare =
        ((a.nsPerSample + clockNs) * double(samplesOn) + double(s.flushNs)) / 1e9 / wallOn;
    std::printf("  process CPU with the journal %.2f%%, without %.2f%% of one core (difference %+.2f points, "
                "within the spells' noise)\n",
                100.0 * shareOn, 100.0 * shareOff, 100.0 * (shareOn - shareOff));
    std::printf(
        "  the journal's own work while on: %.4f%% of one core (appends %.0f ns/sample, clock reading %.0f "
        "ns/sample, flushes %.3f ms in all)\n",
        100.0 * journalShare, a.nsPerSample, clockNs, double(s.flushNs) / 1e6);
    std::printf(
        "  on disk: %lld bytes for %lld samples in %lld blocks: %.2f bytes/sample; read back against the "
        "chart: %lld of %lld differ; samples journaled while on %lld\n",
        static_cast<long long>(r.fileBytes), static_cast<long long>(read), static_cast<long long>(r.blocks),
        bytesPerSample, static_cast<long long>(mismatched), static_cast<long long>(read),
        static_cast<long long>(samplesOn));

    const bool ok = journalShare <= TargetCoreShare && bytesPerSample <= TargetBytesPerSample &&
                    mismatched == 0 && read == samplesOn && !r.tailDropped();
    std::printf("\nresult: %s (targets: at most %.0f%% of a core, at most %.0f bytes/sample)\n",
                ok ? "pass" : "FAULT", 100.0 * TargetCoreShare, TargetBytesPerSample);
    return ok ? 0 : 2;
}
