// The protocol monitor's cost. The program runs as in automatic sending: the
// simulator's replies go through the main window's real receive path (serial
// port -> assembler -> device link -> value display and chart).
//
// 1. Burst ingest (as bench_ingest) with a monitor constructed but closed:
//    replies/s; an unwatched link reports nothing.
// 2. The same burst with the monitor open: replies/s, rows listed and dropped
//    (the burst is larger than the list, so this also fills it).
// 3. The real pace of 1,280 replies/s for N seconds: CPU of the whole process
//    (getrusage) with the monitor closed, open with an empty list (shown,
//    following the newest row), and open with a full list (every batch also
//    drops the oldest rows); replies handled against rows listed.
// 4. The real pace counted exactly for 3 s (simulator logging what it sent):
//    every reply sent is a row of the list, with its bytes.
//
// Usage: bench_monitor [burst replies] [paced seconds]

#include "BenchClock.h"
#include "MainFixture.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "chart/ChartWidget.h"
#include "ui_ProtocolMonitorUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace
{
constexpr qint64 DefaultBurst = 1000000;
constexpr int DefaultPacedSeconds = 10;
constexpr int ExactPacedSeconds = 3;
constexpr int RealRateHz = 1280;
constexpr int DrainMs = 300;
constexpr qint64 StallLimitMs = 20000;
constexpr qint64 PacedLoad = 12345;
constexpr int PacedNoise = 200;
constexpr double CpuBudget = 0.10; // of one core



/// CPU time of the calling thread in microseconds.
qint64 ThreadCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

/// The monitor's own work on the window's thread: its flush ticks (rows into
/// the list, scrolling) and its window's layouts and paints, timed by
/// delivering those events from an application-wide filter.
class MonitorWork : public QObject
{
public:
    explicit MonitorWork(QWidget *monitor) : m_monitor(monitor) { qApp->installEventFilter(this); }
    ~MonitorWork() override { qApp->removeEventFilter(this); }
    qint64 flushUs() const { return m_flushUs; }
    qint64 paintUs() const { return m_paintUs; }
    qint64 paints() const { return m_paints; }
    qint64 layouts() const { return m_layouts; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_inside)
            return false;
        const bool flush =
            event->type() == QEvent::Timer && watched->objectName() == QLatin1String("TimerFlush");
        // The window's paint requests go to its top level: every paint of it
        // and its controls happens inside.
        const bool paint =
            (event->type() == QEvent::UpdateRequest || event->type() == QEvent::LayoutRequest) &&
            watched == m_monitor;
        if (!flush && !paint)
            return false;
        m_inside = true;
        const qint64 cpu = ThreadCpuUs();
        QCoreApplication::sendEvent(watched, event);
        (flush ? m_flushUs : m_paintUs) += ThreadCpuUs() - cpu;
        m_paints += event->type() == QEvent::UpdateRequest ? 1 : 0;
        m_layouts += event->type() == QEvent::LayoutRequest ? 1 : 0;
        m_inside = false;
        return true;
    }

private:
    QWidget *m_monitor;
    bool m_inside = false;
    qint64 m_flushUs = 0;
    qint64 m_paintUs = 0;
    qint64 m_paints = 0;
    qint64 m_layouts = 0;
};

/// Received frames in the monitor's list.
qint64 ReceivedRows(const ProtocolMonitorModel &model)
{
    qint64 n = 0;
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.row(row).isFrame() && model.row(row).direction == TrafficRow::Direction::Received)
            ++n;
    return n;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 burst = argc > 1 ? QByteArray(argv[1]).toLongLong() : DefaultBurst;
    const int pacedSeconds = argc > 2 ? QByteArray(argv[2]).toInt() : DefaultPacedSeconds;

    MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
    if (!f.connect() || !f.sim().ok(QStringLiteral("log off")))
        return std::puts("main window could not open the simulator"), 1;
    TfrmMain &m = f.main();
    m.resize(1000, 600);
    m.current().Decimal = 0;
    TfrmProtocolMonitor monitor(f.session(), &m);
    monitor.resize(1000, 500);
    QTableView *view = monitor.ui()->lvFrames;
    const ProtocolMonitorModel &model = monitor.model();
    MonitorWork work(&monitor);

    // Automatic sending switched on the way the operator does it, then the
    // module's own pace stopped: only the numbered burst comes in.
    f.prompts.answerYes = true;
    m.btnReportClick();
    QTest::qWait(50);
    f.sim().ok(QStringLiteral("autosend off"));
    QTest::qWait(50);
    m.btnClearClick();

    // --- 1, 2: bursts ---------------------------------------------------------------
    const auto runBurst = [&](const char *what) {
        const qint64 before = m.SampleCount();
        const qint64 framesBefore = monitor.FramesCounted();
        QElapsedTimer t;
        t.start();
        if (!f.sim().command(QStringLiteral("burst %1").arg(burst)).startsWith(QLatin1String("OK")))
            return std::puts("burst refused"), false;
        qint64 last = before;
        qint64 lastProgressMs = 0;
        while (m.SampleCount() - before < burst) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (m.SampleCount() != last) {
                last = m.SampleCount();
                lastProgressMs = t.elapsed();
            } else if (t.elapsed() - lastProgressMs > StallLimitMs) {
                break;
            }
        }
        const double s = double(t.nsecsElapsed()) / 1e9;
        f.sim().waitForLine(QStringLiteral("BURST DONE"), 5000);
        RunFor(DrainMs);
        const qint64 got = m.SampleCount() - before;
        std::printf("%-34s %lld replies in %.3f s: %.0f replies/s; charted %lld", what,
                    static_cast<long long>(burst), s, double(got) / s, static_cast<long long>(got));
        if (monitor.IsWatching())
            std::printf("; monitor counted %lld frames, lists %d rows, dropped %lld older",
                        static_cast<long long>(monitor.FramesCounted() - framesBefore), model.rowCount(),
                        static_cast<long long>(monitor.DroppedRows()));
        std::printf("\n");
        return got == burst;
    };
    bool ok = runBurst("burst, monitor closed:");
    monitor.show();
    ok = runBurst("burst, monitor open:") && ok;
    monitor.close();

    // --- 3: the real pace ------------------------------------------------------------
    if (!f.sim().ok(QStringLiteral("load %1").arg(PacedLoad)) ||
        !f.sim().ok(QStringLiteral("noise %1").arg(PacedNoise)) ||
        !f.sim().ok(QStringLiteral("autorate %1").arg(RealRateHz)))
        return std::puts("simulator refused the pace"), 1;
    std::printf("\nreal pace %d replies/s, %d s each, CPU of the whole process (budget %.0f%% of one core "
                "with the monitor open):\n",
                RealRateHz, pacedSeconds, 100 * CpuBudget);
    const auto paced = [&](const char *what, int seconds) {
        const qint64 handled0 = qint64(m.link().replyCount());
        const qint64 frames0 = monitor.FramesCounted();
        const qint64 received0 = ReceivedRows(model);
        const qint64 dropped0 = monitor.DroppedRows();
        const double cpu0 = ProcessCpuSeconds();
        const qint64 flush0 = work.flushUs(), paint0 = work.paintUs(), paints0 = work.paints();
        const qint64 layouts0 = work.layouts();
        QElapsedTimer pt;
        pt.start();
        f.sim().ok(QStringLiteral("autosend on"));
        RunFor(seconds * 1000);
        f.sim().ok(QStringLiteral("autosend off"));
        const double wall = double(pt.nsecsElapsed()) / 1e9;
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double flushShare = double(work.flushUs() - flush0) / 1e6 / wall;
        const double paintShare = double(work.paintUs() - paint0) / 1e6 / wall;
        const qint64 paints = work.paints() - paints0;
        RunFor(DrainMs);
        const qint64 handled = qint64(m.link().replyCount()) - handled0;
        std::printf("  %-28s %5.2f s: handled %6lld (%4.0f/s), CPU %5.2f%% of one core (%5.1f us/reply)",
                    what, wall, static_cast<long long>(handled), double(handled) / wall, 100.0 * cpu / wall,
                    handled > 0 ? cpu * 1e6 / double(handled) : 0.0);
        if (monitor.IsWatching()) {
            const qint64 listed = ReceivedRows(model) - received0;
            const qint64 dropped = monitor.DroppedRows() - dropped0;
            std::printf("; monitor: %lld frames counted, %lld replies newly listed, %lld older rows dropped, "
                        "%lld unframed, list %d rows, scrolled to the end: %s",
                        static_cast<long long>(monitor.FramesCounted() - frames0),
                        static_cast<long long>(listed), static_cast<long long>(dropped),
                        static_cast<long long>(monitor.UnframedCounted()), model.rowCount(),
                        view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum() ? "yes"
                                                                                                   : "NO");
            std::printf(
                "\n  %-28s monitor's own work: flush ticks %.2f%%, %lld layouts and %lld paints of its "
                "window %.2f%% of one core (%.2f ms a paint)",
                "", 100 * flushShare, static_cast<long long>(work.layouts() - layouts0),
                static_cast<long long>(paints), 100 * paintShare,
                paints > 0 ? double(work.paintUs() - paint0) / 1e3 / double(paints) : 0.0);
        }
        std::printf("\n");
        return cpu / wall;
    };
    const double closedShare = paced("monitor closed:", pacedSeconds);
    monitor.show();
    const double emptyShare = paced("monitor open, list empty:", pacedSeconds);
    const bool emptyAllListed =
        monitor.FramesCounted() == ReceivedRows(model) && qint64(model.rowCount()) == monitor.FramesCounted();
    // Fill the list to its limit, then the same pace.
    f.sim().ok(QStringLiteral("burst %1").arg(ProtocolMonitorModel::DefaultCapacity));
    f.sim().waitForLine(QStringLiteral("BURST DONE"), 60000);
    RunFor(DrainMs);
    const double fullShare = paced("monitor open, list full:", pacedSeconds);
    const bool full = model.rowCount() == ProtocolMonitorModel::DefaultCapacity;

    // --- 4: counted exactly ------------------------------------------------------------
    monitor.btnClearClick();
    f.sim().clearLog();
    f.sim().ok(QStringLiteral("log on"));
    f.sim().ok(QStringLiteral("autosend on"));
    RunFor(ExactPacedSeconds * 1000);
    f.sim().ok(QStringLiteral("autosend off"));
    RunFor(DrainMs);
    f.sim().ok(QStringLiteral("log off"));
    const QList<QByteArray> sent = f.sim().sentFrames();
    qint64 listed = 0;
    qint64 mismatched = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        const TrafficRow &r = model.row(row);
        if (!r.isFrame() || r.direction != TrafficRow::Direction::Received)
            continue;
        if (listed >= sent.size() || r.raw != sent[listed] || !r.checkOk || !r.endOk)
            ++mismatched;
        ++listed;
    }
    std::printf("real pace counted for %d s: sent %lld, listed %lld, lost %lld, not as sent %lld, unframed "
                "rows %lld\n",
                ExactPacedSeconds, static_cast<long long>(sent.size()), static_cast<long long>(listed),
                static_cast<long long>(sent.size() - listed), static_cast<long long>(mismatched),
                static_cast<long long>(monitor.UnframedCounted()));

    const bool lossless =
        ok && emptyAllListed && full && sent.size() == listed && mismatched == 0 && sent.size() > 0;
    const double openShare = std::max(emptyShare, fullShare);
    const bool withinBudget = openShare <= CpuBudget;
    std::printf("\nnothing lost from the list: %s\n", lossless ? "yes" : "NO");
    std::printf("whole program with the monitor open %.1f%% of one core (budget %.0f%%): %s; closed %.1f%%, "
                "so the monitor adds %.1f%%\n",
                100 * openShare, 100 * CpuBudget, withinBudget ? "within" : "OVER", 100 * closedShare,
                100 * (openShare - closedShare));
    ok = lossless && withinBudget;
    std::printf("result: %s\n", ok ? "pass" : "FAULT");
    return ok ? 0 : 2;
}
