// Figures for the sample data: smoothing 1,000,000 and 10,000,000 points, and
// export and import of 1,000,000 rows shaped like the real chart (samples,
// smoothed trace, one mean line), with the heap allocations and page faults
// each step makes.

#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"
#include "chart/SmoothingFilter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <memory>
#include <sys/resource.h>
#include <time.h>
#include <vector>

// ---- allocation counting: the malloc family, forwarded to glibc's own.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void __libc_free(void *pointer);
}

namespace
{
std::atomic<bool> g_counting{false};
std::atomic<long long> g_allocations{0};
std::atomic<long long> g_liveBytes{0};
std::atomic<long long> g_peakBytes{0};

void noteAllocation(void *pointer)
{
    if (!pointer || !g_counting.load(std::memory_order_relaxed))
        return;
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const long long live = g_liveBytes.fetch_add(static_cast<long long>(malloc_usable_size(pointer)),
                                                 std::memory_order_relaxed) +
                           static_cast<long long>(malloc_usable_size(pointer));
    long long peak = g_peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !g_peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

void noteRelease(void *pointer)
{
    if (pointer && g_counting.load(std::memory_order_relaxed))
        g_liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(pointer)), std::memory_order_relaxed);
}
} // namespace

extern "C" {
void *malloc(size_t size)
{
    void *pointer = __libc_malloc(size);
    noteAllocation(pointer);
    return pointer;
}
void *calloc(size_t count, size_t size)
{
    void *pointer = __libc_calloc(count, size);
    noteAllocation(pointer);
    return pointer;
}
void *realloc(void *pointer, size_t size)
{
    noteRelease(pointer);
    void *moved = __libc_realloc(pointer, size);
    noteAllocation(moved);
    return moved;
}
void free(void *pointer)
{
    noteRelease(pointer);
    __libc_free(pointer);
}
}

namespace
{

constexpr qsizetype SmoothingPoints[] = {1'000'000, 10'000'000};
constexpr qsizetype FileRows = 1'000'000;
constexpr int Repeats = 3;

struct Measured {
    double seconds = 0;          // best of the repeats, wall clock
    double cpuSeconds = 0;       // processor time of that run
    long long allocations = 0;   // in the best run
    long long peakHeapBytes = 0; // above the heap in use when it started
    long long pageFaults = 0;    // pages of memory newly backed in that run (minor faults)
};

long long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

Measured measure(const std::function<void()> &prepare, const std::function<void()> &work)
{
    Measured best;
    best.seconds = 1e9;
    for (int i = 0; i < Repeats; ++i) {
        prepare();
        g_allocations = 0;
        g_liveBytes = 0;
        g_peakBytes = 0;
        QElapsedTimer timer;
        const double cpuStart = cpuSeconds();
        const long long faultsStart = minorFaults();
        g_counting = true;
        timer.start();
        work();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        g_counting = false;
        const double cpu = cpuSeconds() - cpuStart;
        const long long faults = minorFaults() - faultsStart;
        if (seconds < best.seconds)
            best = {seconds, cpu, g_allocations.load(), g_peakBytes.load(), faults};
    }
    return best;
}

ChartData makeChart()
{
    return ChartData({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")});
}

// Samples like live reading gives them: a count as X, a value with two
// decimals as Y.
void fillSamples(ChartData &data, qsizetype count)
{
    auto *random = QRandomGenerator::global();
    for (qsizetype i = 1; i <= count; ++i)
        data.append(SampleChannels::Samples, double(i),
                    double(int(random->bounded(2'000'000)) - 1'000'000) / 100);
}

void printRows(const char *what, const Measured &m, qsizetype rows)
{
    std::printf(
        "%-40s %7.3f s (cpu %6.3f s) %10.0f rows/s %8lld allocations (%.5f per row), peak heap +%.1f MB\n",
        what, m.seconds, m.cpuSeconds, double(rows) / m.seconds, m.allocations,
        double(m.allocations) / double(rows), double(m.peakHeapBytes) / 1e6);
}

void fileFigures(const char *name, const QLocale &locale, qsizetype rows, const QString &directory)
{
    ChartData data = makeChart();
    fillSamples(data, rows);
    SmoothingFilter filter;
    ApplySmoothing(filter, SmoothingFilter::DefaultWindow, data);
    AppendMeanLine(data, nullptr);
    const QString path = directory + QStringLiteral("/bench_%1.txt").arg(QLatin1String(name));

    QByteArray bytes;
    const Measured format =
        measure([&] { bytes = QByteArray(); }, [&] { bytes = FormatSampleData(data, locale); });
    QString error;
    bool ok = true;
    const Measured write =
        measure([] {}, [&] { ok = WriteSampleDataFile(data, path, &error, locale) && ok; });
    if (!ok)
        std::printf("export failed: %s\n", qPrintable(error));

    // With a progress callback as the window gives one (a clock check per report).
    QElapsedTimer sinceReport;
    sinceReport.start();
    const SampleProgress progress = [&](qint64, qint64) {
        if (sinceReport.elapsed() >= 50)
            sinceReport.restart();
        return true;
    };
    const Measured writeProgress = measure(
        [] {},
        [&] {
            ok = WriteSampleDataFile(data, path, progress, &error, locale) == SampleFileResult::Done && ok;
        });

    ChartData target = makeChart();
    const Measured readProgress = measure(
        [&] { target = makeChart(); },
        [&] {
            ok = ReadSampleDataFile(target, path, progress, &error, locale) == SampleFileResult::Done && ok;
        });
    const Measured parse = measure([&] { target = makeChart(); },
                                   [&] { ok = ParseSampleData(target, bytes, locale, &error) && ok; });
    const Measured read = measure([&] { target = makeChart(); },
                                  [&] { ok = ReadSampleDataFile(target, path, &error, locale) && ok; });
    if (!ok || target.channel(0).count() != rows || target.channel(2).count() != 2)
        std::printf("import failed: %s\n", qPrintable(error));

    std::printf("\n[%s locale, decimal separator \"%s\"] %lld rows, file %.1f MB\n", name,
                qPrintable(locale.decimalPoint()), static_cast<long long>(rows),
                double(QFileInfo(path).size()) / 1e6);
    printRows("export to memory (FormatSampleData)", format, rows);
    printRows("export to file (WriteSampleDataFile)", write, rows);
    printRows("import from memory (ParseSampleData)", parse, rows);
    printRows("import from file (ReadSampleDataFile)", read, rows);
    printRows("export to file, with progress", writeProgress, rows);
    printRows("import from file, with progress", readProgress, rows);
    std::printf("%-40s new pages: export %lld, import %lld (into a new chart)\n", "", write.pageFaults,
                parse.pageFaults);
}

} // namespace

// "--export-rows N": one export of N rows (samples and smoothed trace) with
// progress, its time and the process's peak memory.
int exportOnly(qsizetype rows)
{
    ChartData data = makeChart();
    fillSamples(data, rows);
    data.channel(SampleChannels::Smoothed).reserve(rows);
    const ChartChannel &samples = data.channel(SampleChannels::Samples);
    for (qsizetype i = 0; i < rows; ++i)
        data.append(SampleChannels::Smoothed, samples.x(i), samples.y(i) - 1);
    QTemporaryDir directory;
    const QString path = directory.path() + QStringLiteral("/export.txt");
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    qint64 reports = 0;
    QString error;
    QElapsedTimer clock;
    clock.start();
    const SampleFileResult result = WriteSampleDataFile(
        data, path, [&](qint64, qint64) { return ++reports > 0; }, &error, QLocale::c());
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::printf("export of %lld rows: %s, %.1f s, file %.1f MB, %lld progress reports, peak RSS %.1f MB "
                "(%.1f MB before the export)\n",
                static_cast<long long>(rows), result == SampleFileResult::Done ? "done" : qPrintable(error),
                seconds, double(QFileInfo(path).size()) / 1e6, static_cast<long long>(reports),
                double(after.ru_maxrss) / 1024.0, double(before.ru_maxrss) / 1024.0);
    return result == SampleFileResult::Done ? 0 : 1;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--export-rows")); at > 0 && at + 1 < args.size())
        return exportOnly(args[at + 1].toLongLong());
    std::printf("Best of %d runs each. Allocations count malloc/calloc/realloc calls during the step;\n"
                "chart blocks (65,536 points each) are part of the import's allocations.\n\n",
                Repeats);

    // Smoothing as the main window does it. "new storage": the first pass
    // after the smoothed channel was cleared, so its memory is fresh from the
    // system (page faults included). "storage kept": every later pass, e.g.
    // while the filter class is moved. "point by point" is the same filter
    // step by step with one append per point, for comparison.
    std::printf("%-52s %7s %7s %12s %6s %9s\n", "smoothing", "wall s", "cpu s", "points/s", "allocs",
                "new pages");
    const auto printSmoothing = [](const char *what, int window, qsizetype points, const Measured &m) {
        char label[96];
        if (window > 0)
            std::snprintf(label, sizeof label, "%s, N=%d, %lld points", what, window,
                          static_cast<long long>(points));
        else
            std::snprintf(label, sizeof label, "%s, %lld points", what, static_cast<long long>(points));
        std::printf("%-52s %7.3f %7.3f %12.0f %6lld %9lld\n", label, m.seconds, m.cpuSeconds,
                    double(points) / m.seconds, m.allocations, m.pageFaults);
    };
    for (qsizetype points : SmoothingPoints) {
        ChartData data = makeChart();
        fillSamples(data, points);
        SmoothingFilter filter;
        for (int window : {SmoothingFilter::DefaultWindow, 31}) {
            printSmoothing("ApplySmoothing, new storage", window, points,
                           measure([&] { data.clearChannel(SampleChannels::Smoothed); },
                                   [&] { ApplySmoothing(filter, window, data); }));
            printSmoothing("ApplySmoothing, storage kept", window, points,
                           measure([&] { ApplySmoothing(filter, window, data); },
                                   [&] { ApplySmoothing(filter, window, data); }));
        }
        const auto pointByPoint = [&] {
            filter.reset(SmoothingFilter::DefaultWindow);
            data.clearChannelKeepingStorage(SampleChannels::Smoothed);
            const ChartChannel &samples = data.channel(SampleChannels::Samples);
            for (qsizetype i = 0; i < samples.count(); ++i)
                data.append(SampleChannels::Smoothed, samples.x(i), filter.step(samples.y(i)));
        };
        printSmoothing("point by point, storage kept", SmoothingFilter::DefaultWindow, points,
                       measure(pointByPoint, pointByPoint));
        // What new memory for the points alone costs on this system: the
        // same number of block-sized pieces, written once, no chart at all.
        std::vector<std::unique_ptr<double[]>> pieces;
        const auto blockPoints = std::size_t(ChartChannel::BlockSize);
        printSmoothing("reference: new memory written, no chart", 0, points,
                       measure([&] { pieces.clear(); },
                               [&] {
                                   for (qsizetype done = 0; done < points; done += ChartChannel::BlockSize) {
                                       pieces.push_back(
                                           std::make_unique_for_overwrite<double[]>(2 * blockPoints));
                                       std::fill_n(pieces.back().get(), 2 * blockPoints, 1.0);
                                   }
                               }));
        pieces.clear();
        std::printf("\n");
    }

    QTemporaryDir directory;
    fileFigures("C", QLocale::c(), FileRows, directory.path());
    fileFigures("German", QLocale(QLocale::German), FileRows, directory.path());
    // A locale with its own digits goes through the locale's own number text.
    fileFigures("Bangla", QLocale(QLocale::Bangla), FileRows / 10, directory.path());
    return 0;
}
