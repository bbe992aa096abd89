// Chart figures: memory and append rate for 10,000,000 samples, and the cost
// of one repaint (thinning, handing the points to the series, rendering) in
// live and in fit-all mode, and while samples keep arriving; then memory,
// append time and repaints for a day of live samples (110,000,000).
//
// Usage: bench_chart [traces]  (traces: only the 32 traces of 1M points)

#include "BenchClock.h"
#include "chart/ChartData.h"
#include "chart/ChartThinning.h"
#include "chart/ChartWidget.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace
{

constexpr qsizetype Points = 10'000'000;
constexpr int Repeats = 30;
constexpr int TickPoints = 1000;
constexpr int Ticks = 200;
constexpr qsizetype DayPoints = 110'000'000; // 24 h at 1,280 samples/s
constexpr int DayRepeats = 10;
constexpr int PacedPoints = 51; // 1,280 samples/s at 25 repaints/s
constexpr int ManyTraces = 32;
constexpr qsizetype ManyTracePoints = 1'000'000;
constexpr qint64 FirstTime = 1'765'000'000'000; // ms since the epoch

double ResidentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double Sample(qsizetype i)
{
    return 5000.0 + 3000.0 * std::sin(double(i) * 0.001) + double((i * 7919) % 200);
}

/// Times of repaints: wall clock, and thread CPU split into the handover
/// (thinning the points in view) and the render of the chart.
struct Repaints {
    std::vector<double> wall, cpu, handover, render;

    void print(const char *what) const
    {
        std::printf("%-40s wall median %6.2f max %6.2f ms | CPU median %6.2f max %6.2f ms "
                    "(handover %.2f, render %.2f)\n",
                    what, Median(wall), Max(wall), Median(cpu), Max(cpu), Median(handover), Median(render));
    }
};

/// One repaint as the timer does it: the handover, then the paint the widget
/// asked for (what changed, or all), as the event loop delivers it.
void Repaint(ChartWidget &w, Repaints &r)
{
    QElapsedTimer t;
    t.start();
    const double c0 = ThreadCpuMs();
    w.refresh();
    const double c1 = ThreadCpuMs();
    QCoreApplication::processEvents();
    const double c2 = ThreadCpuMs();
    r.wall.push_back(double(t.nsecsElapsed()) / 1e6);
    r.cpu.push_back(c2 - c0);
    r.handover.push_back(c1 - c0);
    r.render.push_back(c2 - c1);
}

qsizetype SeriesPoints(const ChartWidget &w)
{
    qsizetype n = 0;
    for (int c = 0; c < w.channelCount(); ++c)
        for (int line = 0; line < w.picture().trace(c).lineCount(); ++line)
            n += w.picture().trace(c).linePoints(line).size();
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    ChartWidget w;
    w.setRepaintInterval(0); // repaints are driven by hand here
    w.resize(1000, 500);
    w.show();
    QCoreApplication::processEvents();
    const bool tracesOnly = argc > 1 && QByteArray(argv[1]) == "traces";
    const int columns = int(w.view().map().area().width() / 2); // as the widget does: 2 px per column

    if (!tracesOnly) {
        // Memory and append rate.
        const double before = ResidentMiB();
        QElapsedTimer t;
        t.start();
        const double appendCpu0 = ThreadCpuMs();
        for (qsizetype i = 1; i <= Points; ++i)
            w.append(0, double(i), Sample(i));
        const double appendCpuS = (ThreadCpuMs() - appendCpu0) / 1e3;
        const double appendS = double(t.nsecsElapsed()) / 1e9;
        const double after = ResidentMiB();
        const ChartChannel &ch = w.data().channel(0);
        std::printf("points in channel 0:                     %lld\n", static_cast<long long>(ch.count()));
        std::printf(
            "append rate:                             %.1f million points/s wall, %.1f per CPU second "
            "(sample values computed in the loop included)\n",
            double(Points) / appendS / 1e6, double(Points) / appendCpuS / 1e6);
        std::printf(
            "RSS delta:                               %.1f MiB = %.2f bytes/point (target < 300 MB)\n",
            after - before, (after - before) * 1024.0 * 1024.0 / double(Points));
        std::printf("ChartChannel::memoryBytes:               %.1f MiB = %.2f bytes/point (target <= 9.7 for "
                    "live samples)\n",
                    double(ch.memoryBytes()) / (1024.0 * 1024.0),
                    double(ch.memoryBytes()) / double(ch.count()));

        // Thinning alone.
        ThinnedTrace trace;
        std::printf("plot width:                              %d px\n", 2 * columns);
        {
            std::vector<double> live, fit;
            for (int r = 0; r < Repeats; ++r) {
                double c0 = ThreadCpuMs();
                ThinForDisplay(ch, double(Points) - 1000, double(Points), columns, trace);
                live.push_back(ThreadCpuMs() - c0);
                c0 = ThreadCpuMs();
                ThinForDisplay(ch, 1, double(Points), columns, trace);
                fit.push_back(ThreadCpuMs() - c0);
            }
            std::printf("thinning CPU, live view:                 median %.3f ms, max %.3f ms\n",
                        Median(live), Max(live));
            std::printf(
                "thinning CPU, all 10M in view:           median %.3f ms, max %.3f ms (%lld points out)\n",
                Median(fit), Max(fit), static_cast<long long>(trace.points.size()));
            const double c0 = ThreadCpuMs();
            ThinForDisplay(ch, 1, double(Points), columns, trace, ThinMethod::PointByPoint);
            std::printf("  same, point by point (no summaries):   %.1f ms\n", ThreadCpuMs() - c0);
        }

        // Full repaints at 10M points. Each round adds one sample so the data
        // has changed and everything is handed over again, as it is while reading.
        qsizetype next = Points + 1;
        const auto addOne = [&] {
            w.append(0, double(next), Sample(next));
            ++next;
        };
        {
            Repaints r, warmUp;
            // The first paints fill the glyph cache and allocate the pictures.
            Repaint(w, warmUp);
            Repaint(w, warmUp);
            for (int i = 0; i < Repeats; ++i) {
                addOne();
                Repaint(w, r);
            }
            r.print("repaint, live, 10M points:");
            std::printf("%-40s %lld\n", "  points drawn:", static_cast<long long>(SeriesPoints(w)));
        }
        {
            // Fit all anew each time: every point in view is thinned and drawn
            // again (points arriving right of a fixed view change nothing).
            w.fitAll();
            Repaints r, warmUp;
            Repaint(w, warmUp);
            for (int i = 0; i < Repeats; ++i) {
                addOne();
                w.fitAll();
                Repaint(w, r);
            }
            r.print("repaint, fit all, 10M points:");
            std::printf("%-40s %lld\n", "  points drawn:", static_cast<long long>(SeriesPoints(w)));
        }
        {
            w.followLive();
            Repaints r;
            for (int tick = 0; tick < Ticks; ++tick) {
                for (int k = 0; k < TickPoints; ++k)
                    addOne();
                Repaint(w, r);
            }
            r.print("repaint per tick, live, +1000 points:");
        }
        {
            // The real pace: 1,280 samples/s at 25 repaints/s, about 51 a repaint;
            // the picture is shifted and only the new columns are drawn.
            Repaints r;
            const quint64 scrolls0 = w.scrollCount();
            for (int tick = 0; tick < Ticks; ++tick) {
                for (int k = 0; k < PacedPoints; ++k)
                    addOne();
                Repaint(w, r);
            }
            r.print("repaint per tick, live, +51 points:");
            std::printf("%-40s %llu of %d\n", "  drawn by shifting the picture:",
                        static_cast<unsigned long long>(w.scrollCount() - scrolls0), Ticks);
        }
        {
            // A smoothed trace as long as the samples, as after filtering.
            ChartChannel &smoothed = w.data().channel(ChartWidget::SmoothedChannel);
            for (qsizetype i = 1; i < next; ++i)
                smoothed.append(double(i), Sample(i) * 0.9);
            Repaints r;
            for (int tick = 0; tick < Ticks / 4; ++tick) {
                for (int k = 0; k < TickPoints; ++k) {
                    w.append(1, double(next), Sample(next) * 0.9);
                    addOne();
                }
                Repaint(w, r);
            }
            r.print("same, channel 2 also 10M points:");
            w.fitAll();
            Repaints f;
            for (int i = 0; i < Repeats; ++i) {
                addOne();
                w.fitAll();
                Repaint(w, f);
            }
            f.print("fit all, two channels of 10M points:");
        }

        // The wall-clock time per sample: the same live samples with and
        // without it.
        {
            ChartChannel plain, timed;
            for (qsizetype i = 1; i <= Points; ++i) {
                plain.append(double(i), Sample(i));
                timed.appendTimed(double(i), Sample(i), FirstTime + i * 1000 / 1280);
            }
            std::printf("live samples, bytes a sample:            %.2f without times, %.2f with (%.2f for "
                        "the time)\n",
                        double(plain.memoryBytes()) / double(Points),
                        double(timed.memoryBytes()) / double(Points),
                        double(timed.memoryBytes() - plain.memoryBytes()) / double(Points));
        }

    } // !tracesOnly

    // 32 modules watched: 32 traces of 1M points each, live and all in view.
    {
        w.clearAll();
        std::vector<int> traces;
        for (int k = 0; k < ManyTraces; ++k) {
            traces.push_back(w.addTrace(QStringLiteral("module %1").arg(k + 1)));
            ChartChannel &c = w.data().channel(traces.back());
            for (qsizetype i = 1; i <= ManyTracePoints; ++i)
                c.appendTimed(double(i), Sample(i + 1000 * k) + 500.0 * k, FirstTime + i * 25);
        }
        qsizetype manyNext = ManyTracePoints + 1;
        const auto addRound = [&](int points) {
            for (int p = 0; p < points; ++p, ++manyNext)
                for (int k = 0; k < ManyTraces; ++k)
                    w.append(traces[std::size_t(k)], double(manyNext),
                             Sample(manyNext + 1000 * k) + 500.0 * k);
        };
        w.followLive();
        Repaints live, warmUp, paced, fit;
        Repaint(w, warmUp);
        for (int i = 0; i < Repeats; ++i) {
            addRound(1);
            Repaint(w, live);
        }
        live.print("repaint, live, 32 traces of 1M:");
        // 32 modules at 115200 baud: 1,280 replies/s in all, 40 a module, so
        // about 2 points a trace per repaint.
        for (int i = 0; i < Repeats; ++i) {
            addRound(2);
            Repaint(w, paced);
        }
        paced.print("same, +2 points a trace per repaint:");
        // Every trace thinned and the whole picture drawn again each time.
        Repaints whole;
        for (int i = 0; i < Repeats; ++i) {
            addRound(2);
            w.setDataCursorVisible(false); // has everything drawn anew
            Repaint(w, whole);
        }
        whole.print("same, all drawn anew each time:");
        // Fit all anew each time, so that every trace is thinned and drawn
        // again; then fit all once while the points keep coming (right of
        // the view, they change nothing drawn).
        Repaints beside;
        for (int i = 0; i < Repeats; ++i) {
            addRound(1);
            w.fitAll();
            Repaint(w, fit);
        }
        fit.print("repaint, fit all, 32 traces of 1M:");
        for (int i = 0; i < Repeats; ++i) {
            addRound(1);
            Repaint(w, beside);
        }
        beside.print("same, points arriving right of the view:");
        {
            ThinnedTrace one;
            std::vector<double> same, each;
            for (int i = 0; i < Repeats; ++i) {
                double c0 = ThreadCpuMs();
                ThinForDisplay(w.data().channel(traces[0]), w.viewXMinimum(), w.viewXMaximum(), columns, one);
                same.push_back(ThreadCpuMs() - c0);
                c0 = ThreadCpuMs();
                for (int k = 0; k < ManyTraces; ++k)
                    ThinForDisplay(w.data().channel(traces[std::size_t(k)]), w.viewXMinimum(),
                                   w.viewXMaximum(), columns, one);
                each.push_back(ThreadCpuMs() - c0);
            }
            std::printf("  thinning one trace of 1M, all in view:  median %.3f ms; all 32 in turn: %.2f ms\n",
                        Median(same), Median(each));
        }
        std::printf("%-40s %lld\n", "  points drawn:", static_cast<long long>(SeriesPoints(w)));
        for (int k = ManyTraces - 1; k >= 0; --k)
            w.removeTrace(traces[std::size_t(k)]);
    }

    // A day of live samples in channel 0, the others empty. The X of a live
    // sample is its count.
    if (!tracesOnly) {
        w.clearAll();
        QCoreApplication::processEvents();
        const double dayBefore = ResidentMiB();
        QElapsedTimer dayTimer;
        dayTimer.start();
        const double dayCpu0 = ThreadCpuMs();
        for (qsizetype i = 1; i <= DayPoints; ++i)
            w.append(0, double(i), Sample(i));
        const double dayCpuS = (ThreadCpuMs() - dayCpu0) / 1e3;
        const double dayS = double(dayTimer.nsecsElapsed()) / 1e9;
        const double dayRss = ResidentMiB() - dayBefore;
        const ChartChannel &day = w.data().channel(0);
        std::printf(
            "110M live points: append                 %.2f s wall, %.2f s CPU (%.1f million points/s)\n",
            dayS, dayCpuS, double(DayPoints) / dayS / 1e6);
        std::printf(
            "110M live points: memoryBytes            %.1f MiB = %.2f bytes/point (target <= 1 GB, 9.7 "
            "bytes/point)\n",
            double(day.memoryBytes()) / (1024.0 * 1024.0), double(day.memoryBytes()) / double(day.count()));
        std::printf("110M live points: RSS delta              %.1f MiB = %.2f bytes/point\n", dayRss,
                    dayRss * 1024.0 * 1024.0 / double(DayPoints));
        qsizetype dayNext = DayPoints + 1;
        const auto addDayOne = [&] {
            w.append(0, double(dayNext), Sample(dayNext));
            ++dayNext;
        };
        w.followLive();
        Repaints live, liveWarmUp;
        Repaint(w, liveWarmUp);
        for (int i = 0; i < DayRepeats; ++i) {
            addDayOne();
            Repaint(w, live);
        }
        live.print("repaint, live, 110M points:");
        w.fitAll();
        Repaints fit, fitWarmUp;
        Repaint(w, fitWarmUp);
        for (int i = 0; i < DayRepeats; ++i) {
            addDayOne();
            w.fitAll();
            Repaint(w, fit);
        }
        fit.print("repaint, fit all, 110M points:");
    }
    return 0;
}
