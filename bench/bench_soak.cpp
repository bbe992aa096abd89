// Soak run of automatic sending: an hour's worth of replies at the 115200-baud
// frame rate (1,280 replies/s x 3,600 s = 4,608,000) is pushed through the
// main window's real receive path (serial port -> assembler -> device link ->
// value display and chart store) as fast as it goes.
//
// Prints, at regular steps of the run: throughput, resident memory, heap in
// use (mallinfo2) against the bytes held by the chart store, the event loop's
// responsiveness (gaps between the ticks of a 5 ms probe timer) and the time
// of one chart repaint. At the end: whether every reply arrived in order, the
// value display, repaints of the full store, and the CPU the program uses at
// the real pace of 1,280 replies/s.
//
// Usage: bench_soak [replies] [paced seconds]

#include "BenchClock.h"
#include "MainFixture.h"
#include "device/Protocol.h"
#include "device/ReplyAssembler.h"
#include "chart/ChartWidget.h"
#include "ui_MainUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace
{

constexpr qint64 HourOfReplies = 4'608'000; // 115200 baud, 9-byte frames, 10 bits a byte
constexpr int RealRateHz = 1280;
constexpr int DefaultPacedSeconds = 10;
constexpr int ExactPacedSeconds = 3;
constexpr int Steps = 20;
constexpr int ProbeIntervalMs = 5;
constexpr qint64 StallLimitMs = 20000;
constexpr int DrainMs = 300;
constexpr int GapFaultMs = 50;
constexpr qint64 PacedLoad = 12345;
constexpr int PacedNoise = 200;

double MiB(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

/// Heap in use: small chunks in every arena plus the mmapped large ones.
std::size_t HeapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

/// Resident set in bytes (from /proc/self/statm: no allocation).
std::size_t ResidentBytes()
{
    char text[128] = {};
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    unsigned long size = 0, resident = 0;
    if (std::sscanf(text, "%lu %lu", &size, &resident) != 2)
        return 0;
    return std::size_t(resident) * std::size_t(sysconf(_SC_PAGESIZE));
}


/// CPU seconds of another process (utime + stime of /proc/PID/stat).
double OtherCpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    // Fields after the command name start with field 3 (state); utime and stime are 14 and 15.
    const char *p = text.c_str() + close + 2;
    unsigned long long utime = 0, stime = 0;
    int field = 3;
    while (*p && field < 14) {
        if (*p++ == ' ')
            ++field;
    }
    if (std::sscanf(p, "%llu %llu", &utime, &stime) != 2)
        return 0;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

/// Durations in a fixed histogram (0.1 ms steps up to 1 s), so that recording
/// them allocates nothing during the run.
class DurationHistogram
{
public:
    static constexpr int Buckets = 10000;
    static constexpr qint64 BucketUs = 100;

    void add(qint64 us)
    {
        ++m_count;
        m_max = std::max(m_max, us);
        ++m_buckets[std::size_t(std::min<qint64>(us / BucketUs, Buckets - 1))];
        if (us > qint64(GapFaultMs) * 1000)
            ++m_over;
    }
    qint64 count() const { return m_count; }
    qint64 maxUs() const { return m_max; }
    qint64 overFault() const { return m_over; }
    /// Upper end of the bucket holding the given quantile.
    double quantileMs(double q) const
    {
        const qint64 wanted = qint64(double(m_count) * q);
        qint64 seen = 0;
        for (int i = 0; i < Buckets; ++i) {
            seen += m_buckets[std::size_t(i)];
            if (seen > wanted)
                return double(std::min((i + 1) * BucketUs, m_max)) / 1000.0;
        }
        return double(m_max) / 1000.0;
    }

private:
    std::array<qint64, Buckets> m_buckets{};
    qint64 m_count = 0;
    qint64 m_max = 0;
    qint64 m_over = 0;
};

/// CPU time of the calling thread in microseconds.
qint64 ThreadCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

/// The 5 ms probe: the time between its ticks is how long the event loop
/// was kept from running. The window's thread's CPU time over the same span
/// tells its own work apart from waiting for a core on a busy machine.
class Probe
{
public:
    Probe()
    {
        m_timer.setInterval(ProbeIntervalMs);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 cpu = ThreadCpuUs();
            if (m_running) {
                const qint64 us = m_since.nsecsElapsed() / 1000;
                m_all.add(us);
                m_busy.add(cpu - m_cpuSince);
                m_stepMaxUs = std::max(m_stepMaxUs, us);
            }
            m_running = true;
            m_since.start();
            m_cpuSince = cpu;
        });
    }
    void start() { m_timer.start(); }
    void stop()
    {
        m_timer.stop();
        m_running = false;
    }
    /// Leaves the time since the last tick out (the bench's own measuring).
    void restartGap()
    {
        if (m_running) {
            m_since.start();
            m_cpuSince = ThreadCpuUs();
        }
    }
    qint64 takeStepMaxUs() { return std::exchange(m_stepMaxUs, 0); }
    /// Wall time between ticks.
    const DurationHistogram &all() const { return m_all; }
    /// The thread's CPU time between ticks.
    const DurationHistogram &busy() const { return m_busy; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_cpuSince = 0;
    bool m_running = false;
    qint64 m_stepMaxUs = 0;
    DurationHistogram m_all;
    DurationHistogram m_busy;
};

/// Times the paints of a widget as the window system asks for them: the
/// chart view's viewport painted after each tick of the chart's repaint timer.
class PaintTimer : public QObject
{
public:
    explicit PaintTimer(QWidget *widget) : m_widget(widget) { widget->installEventFilter(this); }
    ~PaintTimer() override { m_widget->removeEventFilter(this); }
    /// Wall time and the thread's CPU time of each paint.
    const DurationHistogram &paints() const { return m_paints; }
    const DurationHistogram &paintsCpu() const { return m_paintsCpu; }
    void reset()
    {
        m_paints = DurationHistogram();
        m_paintsCpu = DurationHistogram();
    }
    /// Paints for pictures the bench takes itself are not counted.
    void setIgnoring(bool ignoring) { m_ignoring = ignoring; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_widget || event->type() != QEvent::Paint || m_inPaint || m_ignoring)
            return false;
        // Deliver it from here (this filter lets the inner delivery pass) to
        // time the paint itself.
        m_inPaint = true;
        QElapsedTimer t;
        t.start();
        const qint64 cpu = ThreadCpuUs();
        QCoreApplication::sendEvent(m_widget, event);
        m_paintsCpu.add(ThreadCpuUs() - cpu);
        m_paints.add(t.nsecsElapsed() / 1000);
        m_inPaint = false;
        return true;
    }

private:
    QWidget *m_widget;
    bool m_inPaint = false;
    bool m_ignoring = false;
    DurationHistogram m_paints;
    DurationHistogram m_paintsCpu;
};

/// One repaint as the chart's timer does it: hand the visible, thinned
/// points to the series, then render the chart view. Returns milliseconds.
double TimeRepaint(ChartWidget &chart, PaintTimer *paintTimer = nullptr)
{
    if (paintTimer)
        paintTimer->setIgnoring(true);
    QElapsedTimer t;
    t.start();
    chart.refresh();
    const QPixmap picture = chart.plotView()->grab();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (paintTimer)
        paintTimer->setIgnoring(false);
    return picture.isNull() ? -1.0 : ms;
}

struct Step {
    qint64 replies = 0;
    qint64 ns = 0;
    double cpu = 0;
    std::size_t rss = 0;
    std::size_t heap = 0;
    std::size_t store = 0;
    qint64 gapMaxUs = 0;
    double repaintMs = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 replies = argc > 1 ? QByteArray(argv[1]).toLongLong() : HourOfReplies;
    const int pacedSeconds = argc > 2 ? QByteArray(argv[2]).toInt() : DefaultPacedSeconds;
    if (replies < Steps)
        return std::puts("at least 20 replies"), 1;

    MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
    if (!f.connect() || !f.sim().ok(QStringLiteral("log off")))
        return std::puts("main window could not open the simulator"), 1;
    TfrmMain &m = f.main();
    m.resize(1000, 600);
    m.current().Decimal = 0;
    ChartWidget &chart = *m.chart();
    const ChartChannel &samples = chart.data().channel(ChartWidget::SampleChannel);

    // Automatic sending switched on the way the operator does it, then the
    // module's own pace stopped: only the numbered burst comes in.
    f.prompts.answerYes = true;
    m.btnReportClick();
    QTest::qWait(50);
    f.sim().ok(QStringLiteral("autosend off"));
    QTest::qWait(50);
    m.btnClearClick();
    QTest::qWait(100);
    f.sim().clearLog();

    std::vector<Step> steps;
    steps.reserve(Steps + 2);
    Probe probe;
    PaintTimer chartPaints(chart.plotView());
    const quint64 handledBefore = m.link().replyCount();
    const quint64 repaintsBefore = chart.seriesUpdateCount();

    Step base;
    base.heap = HeapInUse();
    base.rss = ResidentBytes();
    base.store = samples.memoryBytes();
    base.repaintMs = TimeRepaint(chart, &chartPaints);
    steps.push_back(base);

    QElapsedTimer t;
    steps.front().cpu = ProcessCpuSeconds();
    probe.start();
    t.start();
    if (!f.sim().command(QStringLiteral("burst %1").arg(replies)).startsWith(QLatin1String("OK")))
        return std::puts("burst refused"), 1;
    qint64 nextMark = replies / Steps;
    qint64 lastCount = 0;
    qint64 lastProgressMs = 0;
    while (m.SampleCount() < replies) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 count = m.SampleCount();
        if (count != lastCount) {
            lastCount = count;
            lastProgressMs = t.elapsed();
        } else if (t.elapsed() - lastProgressMs > StallLimitMs) {
            break;
        }
        if (count >= nextMark) {
            Step s;
            s.replies = count;
            s.ns = t.nsecsElapsed();
            s.cpu = ProcessCpuSeconds();
            s.heap = HeapInUse();
            s.rss = ResidentBytes();
            s.store = samples.memoryBytes();
            s.gapMaxUs = probe.takeStepMaxUs();
            s.repaintMs = TimeRepaint(chart, &chartPaints);
            steps.push_back(s);
            probe.restartGap();
            nextMark = std::min(replies, count + replies / Steps);
            if (count >= replies)
                break;
        }
    }
    const qint64 runNs = t.nsecsElapsed();
    probe.stop();
    if (steps.size() < 2)
        return std::puts("no replies came"), 1;
    const bool burstDone = !f.sim().waitForLine(QStringLiteral("BURST DONE"), 5000).isEmpty();
    QTest::qWait(DrainMs); // anything beyond the burst would show now

    // Burst replies carry 1, 2, 3, ... as their value.
    const qint64 charted = samples.count();
    const qint64 handled = qint64(m.link().replyCount() - handledBefore);
    qint64 outOfOrder = 0;
    for (qsizetype i = 0; i < charted; ++i)
        if (samples.y(i) != double(i + 1) || samples.x(i) != double(i + 1))
            ++outOfOrder;
    const QString expectedText = QString::number(replies) + m.current().MeasureUnit;
    const bool displayRight = m.ValueText() == expectedText;

    std::printf("soak: %lld replies (%.2f h at %d replies/s) in %.2f s: %.0f replies/s\n",
                static_cast<long long>(replies), double(replies) / RealRateHz / 3600.0, RealRateHz,
                double(runNs) / 1e9, double(charted) / (double(runNs) / 1e9));
    std::printf("sent %lld (simulator finished: %s), handled %lld, charted %lld, lost %lld, "
                "out of order %lld\n",
                static_cast<long long>(replies), burstDone ? "yes" : "NO", static_cast<long long>(handled),
                static_cast<long long>(charted), static_cast<long long>(replies - charted),
                static_cast<long long>(outOfOrder));
    std::printf("value display: \"%s\" (%s)\n", qPrintable(m.ValueText()), displayRight ? "right" : "WRONG");

    // Growth table. "other" is the heap growth that is not the chart store.
    std::printf("\n%10s %6s %8s %6s %7s %7s %7s %7s %8s %6s %7s\n", "replies", "time", "step", "CPU", "RSS",
                "heap", "store", "heap", "other", "gap", "repaint");
    std::printf("%10s %6s %8s %6s %7s %7s %7s %7s %8s %6s %7s\n", "", "s", "r/s", "us/r", "+MiB", "+MiB",
                "MiB", "B/point", "KiB", "max ms", "ms");
    std::vector<long long> other(steps.size(), 0);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        const long long heapGrowth = (long long)s.heap - (long long)base.heap;
        other[i] = heapGrowth - ((long long)s.store - (long long)base.store);
        double rate = 0, cpuPerReply = 0;
        if (i > 0) {
            const double n = double(s.replies - steps[i - 1].replies);
            rate = n / (double(s.ns - steps[i - 1].ns) / 1e9);
            cpuPerReply = (s.cpu - steps[i - 1].cpu) * 1e6 / n;
        }
        std::printf("%10lld %6.2f %8.0f %6.2f %7.1f %7.1f %7.1f %7.2f %8.1f %6.1f %7.2f\n",
                    static_cast<long long>(s.replies), double(s.ns) / 1e9, rate, cpuPerReply,
                    MiB(double((long long)s.rss - (long long)base.rss)), MiB(double(heapGrowth)),
                    MiB(double(s.store)), s.replies > 0 ? double(heapGrowth) / double(s.replies) : 0.0,
                    double(other[i]) / 1024.0, double(s.gapMaxUs) / 1000.0, s.repaintMs);
    }
    const Step &last = steps.back();
    const double storePerPoint = last.replies > 0 ? double(last.store) / double(last.replies) : 0;
    const double data = 2.0 * sizeof(double);
    const auto [otherMin, otherMax] = std::minmax_element(other.begin() + 1, other.end());
    std::printf("store: %.2f bytes/point (data %.0f + bookkeeping %.2f); heap growth %.2f bytes/point; "
                "other growth %.1f KiB at the first step, %.1f KiB at the end (range %.1f .. %.1f)\n",
                storePerPoint, data, storePerPoint - data,
                double((long long)last.heap - (long long)base.heap) /
                    double(std::max<qint64>(last.replies, 1)),
                double(other[1]) / 1024.0, double(other.back()) / 1024.0, double(*otherMin) / 1024.0,
                double(*otherMax) / 1024.0);
    const DurationHistogram &gaps = probe.all();
    const DurationHistogram &busy = probe.busy();
    const DurationHistogram &paints = chartPaints.paints();
    std::printf("event loop: %lld probe ticks, gap max %.1f ms, p99 %.1f ms, p50 %.1f ms, over %d ms: %lld; "
                "chart repaints by its timer %llu\n",
                static_cast<long long>(gaps.count()), double(gaps.maxUs()) / 1000.0, gaps.quantileMs(0.99),
                gaps.quantileMs(0.5), GapFaultMs, static_cast<long long>(gaps.overFault()),
                static_cast<unsigned long long>(chart.seriesUpdateCount() - repaintsBefore));
    std::printf(
        "  the window's own work between ticks (thread CPU): max %.1f ms, p99 %.1f ms, over %d ms: %lld "
        "(the rest of a longer gap is waiting for a core)\n",
        double(busy.maxUs()) / 1000.0, busy.quantileMs(0.99), GapFaultMs,
        static_cast<long long>(busy.overFault()));
    std::printf(
        "chart view painted on screen %lld times during the run: median %.1f ms, p99 %.1f ms, max %.1f ms "
        "(CPU median %.1f, p99 %.1f, max %.1f ms)\n",
        static_cast<long long>(paints.count()), paints.quantileMs(0.5), paints.quantileMs(0.99),
        double(paints.maxUs()) / 1000.0, chartPaints.paintsCpu().quantileMs(0.5),
        chartPaints.paintsCpu().quantileMs(0.99), double(chartPaints.paintsCpu().maxUs()) / 1000.0);

    // Repaints of the full store at the end.
    double live = 0, liveMax = 0;
    for (int i = 0; i < 5; ++i) {
        const double ms = TimeRepaint(chart, &chartPaints);
        live += ms;
        liveMax = std::max(liveMax, ms);
    }
    chart.fitAll();
    const double fitFirst = TimeRepaint(chart, &chartPaints);
    double fit = 0;
    for (int i = 0; i < 5; ++i) {
        chart.zoomAt(0.999, chart.viewXMinimum(), chart.viewYMinimum()); // a new view to thin again
        chart.fitAll();
        fit += TimeRepaint(chart, &chartPaints);
    }
    chart.followLive();
    QElapsedTimer wt;
    wt.start();
    const qint64 windowCpu0 = ThreadCpuUs();
    const QPixmap window = m.grab();
    const double windowCpuMs = double(ThreadCpuUs() - windowCpu0) / 1000.0;
    const double windowMs = double(wt.nsecsElapsed()) / 1e6;
    std::printf("repaint at the end (%lld points): live view %.2f ms (max %.2f), all points %.2f ms "
                "(first %.2f), whole window %.2f ms (CPU %.2f ms)%s\n",
                static_cast<long long>(charted), live / 5, liveMax, fit / 5, fitFirst, windowMs, windowCpuMs,
                window.isNull() ? " (no picture)" : "");

    // The real pace.
    bool pacedRight = true;
    if (pacedSeconds > 0) {
        // A load with noise, so the value display changes with every reply
        // as it does on a real line.
        if (!f.sim().ok(QStringLiteral("load %1").arg(PacedLoad)) ||
            !f.sim().ok(QStringLiteral("noise %1").arg(PacedNoise)))
            return std::puts("simulator refused the load"), 1;
        // The display shows the last reply, which is the last point charted.
        const auto displayShowsLast = [&] {
            return samples.count() > 0 &&
                   m.ValueText() ==
                       QString::number(qint64(samples.y(samples.count() - 1))) + m.current().MeasureUnit;
        };

        f.sim().ok(QStringLiteral("autorate %1").arg(RealRateHz));
        const qint64 simPid = f.sim().process()->processId();
        // One paced run of `seconds`, without the probe; prints a line.
        struct Paced {
            double cpuShare;
            quint64 repaints;
            double wall;
        };
        const auto pacedRun = [&](const char *what, int seconds) {
            const qint64 before = m.SampleCount();
            const quint64 repaints0 = chart.seriesUpdateCount();
            const std::size_t heapBefore = HeapInUse();
            const std::size_t storeBefore = samples.memoryBytes();
            const double simCpu0 = OtherCpuSeconds(simPid);
            const double cpu0 = ProcessCpuSeconds();
            const double sys0 = ProcessSystemCpuSeconds();
            QElapsedTimer pt;
            pt.start();
            f.sim().ok(QStringLiteral("autosend on"));
            RunFor(seconds * 1000);
            f.sim().ok(QStringLiteral("autosend off"));
            const double wall = double(pt.nsecsElapsed()) / 1e9;
            const double cpu = ProcessCpuSeconds() - cpu0;
            const double sys = ProcessSystemCpuSeconds() - sys0;
            const double simCpu = OtherCpuSeconds(simPid) - simCpu0;
            RunFor(DrainMs);
            const qint64 got = m.SampleCount() - before;
            const long long heapGrowth = (long long)HeapInUse() - (long long)heapBefore;
            const long long storeGrowth = (long long)samples.memoryBytes() - (long long)storeBefore;
            std::printf("  %-30s %5.2f s: handled %6lld (%4.0f/s), CPU %5.2f%% of one core (%5.1f us/reply; "
                        "kernel %4.2f%%), simulator %4.2f%%; heap %+.1f KiB (store %+.1f KiB)\n",
                        what, wall, static_cast<long long>(got), double(got) / wall, 100.0 * cpu / wall,
                        got > 0 ? cpu * 1e6 / double(got) : 0.0, 100.0 * sys / wall, 100.0 * simCpu / wall,
                        double(heapGrowth) / 1024.0, double(storeGrowth) / 1024.0);
            return Paced{cpu / wall, chart.seriesUpdateCount() - repaints0, wall};
        };
        std::printf("\nreal pace %d replies/s, store holding the soak's points:\n", RealRateHz);
        chartPaints.reset();
        const Paced shipped = pacedRun("as shipped", pacedSeconds);
        const DurationHistogram pacedPaints = paints;
        const DurationHistogram pacedPaintsCpu = chartPaints.paintsCpu();
        pacedRight = displayShowsLast();
        // Where the CPU goes: the same without the chart's repaint timer.
        chart.setRepaintInterval(0);
        const Paced bare = pacedRun("chart repaint timer stopped", std::max(1, pacedSeconds / 2));
        // ... and the value display not painted either: the receive path alone.
        m.ui()->sttValue->setUpdatesEnabled(false);
        pacedRun("and value display not painted", std::max(1, pacedSeconds / 2));
        m.ui()->sttValue->setUpdatesEnabled(true);
        // ... and the value not changing (no new display text to lay out):
        // reading, assembling, handling and storing alone.
        f.sim().ok(QStringLiteral("noise 0"));
        pacedRun("and the value not changing", std::max(1, pacedSeconds / 2));
        f.sim().ok(QStringLiteral("noise %1").arg(PacedNoise));
        chart.setRepaintInterval(ChartWidget::DefaultRepaintIntervalMs);
        if (shipped.repaints > 0)
            std::printf("  chart repaints %llu (%.1f/s): about %.2f ms CPU each\n",
                        static_cast<unsigned long long>(shipped.repaints),
                        double(shipped.repaints) / shipped.wall,
                        (shipped.cpuShare - bare.cpuShare) * shipped.wall * 1e3 / double(shipped.repaints));
        std::printf("  chart view painted on screen %lld times: median %.1f ms, p99 %.1f ms, max %.1f ms "
                    "(CPU median %.1f, p99 %.1f, max %.1f ms)\n",
                    static_cast<long long>(pacedPaints.count()), pacedPaints.quantileMs(0.5),
                    pacedPaints.quantileMs(0.99), double(pacedPaints.maxUs()) / 1000.0,
                    pacedPaintsCpu.quantileMs(0.5), pacedPaintsCpu.quantileMs(0.99),
                    double(pacedPaintsCpu.maxUs()) / 1000.0);
        std::printf("  value display \"%s\" (%s)\n", qPrintable(m.ValueText()),
                    pacedRight ? "right" : "WRONG");

        // The same pace with the simulator logging what it sent: every value
        // sent must be charted, in order.
        f.sim().clearLog();
        f.sim().ok(QStringLiteral("log on"));
        const qint64 before2 = m.SampleCount();
        f.sim().ok(QStringLiteral("autosend on"));
        RunFor(ExactPacedSeconds * 1000);
        f.sim().ok(QStringLiteral("autosend off"));
        RunFor(DrainMs);
        f.sim().ok(QStringLiteral("log off"));
        const QList<QByteArray> sentFrames = f.sim().sentFrames();
        const qint64 sent = sentFrames.size();
        const qint64 got2 = m.SampleCount() - before2;
        qint64 mismatched = 0;
        for (qint64 i = 0; i < std::min(sent, got2); ++i) {
            const QByteArray &frame = sentFrames[i];
            if (frame.size() != ReplyAssembler::PacketSize ||
                samples.y(before2 + i) !=
                    double(DecodeReply(reinterpret_cast<const std::uint8_t *>(frame.constData()) + 1).value))
                ++mismatched;
        }
        std::printf(
            "real pace, counted for %d s: sent %lld, handled %lld, lost %lld, values not as sent %lld; "
            "display %s\n",
            ExactPacedSeconds, static_cast<long long>(sent), static_cast<long long>(got2),
            static_cast<long long>(sent - got2), static_cast<long long>(mismatched),
            displayShowsLast() ? "right" : "WRONG");
        pacedRight = pacedRight && sent == got2 && mismatched == 0 && displayShowsLast();
    }

    const bool ok = charted == replies && handled == replies && outOfOrder == 0 && displayRight &&
                    pacedRight && busy.overFault() == 0;
    std::printf("\nresult: %s\n", ok ? "pass" : "FAULT");
    return ok ? 0 : 2;
}
