// Figures for the time-stamped CSV file of a watch chart: export and import
// of 32 columns x 100,000 rows (modules polled once per round, a few of them
// missing rounds), in seconds and MB/s of file text; the whole range and a
// visible range of a tenth. `--rows N` and `--columns N` change the shape.

#include "chart/ChartData.h"
#include "chart/TimedCsvFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace
{
constexpr int Repeats = 3;
constexpr qint64 StartMs = 1700000000000;
constexpr qint64 RoundMs = 250;

double bestSeconds(const std::function<void()> &prepare, const std::function<bool()> &work)
{
    double best = 1e9;
    for (int i = 0; i < Repeats; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return -1.0;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

// Values with two or three decimals as the modules send them; every fifth
// module misses one round in ten, a little later than the round's start.
ChartData watchChart(int columns, qint64 rows)
{
    std::vector<QString> titles;
    for (int c = 0; c < columns; ++c)
        titles.push_back(QStringLiteral("模块 %1").arg(c + 1));
    ChartData data(titles);
    auto *random = QRandomGenerator::global();
    for (qint64 r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c % 5 == 4 && (r + c) % 10 == 0)
                continue;
            const double value = double(int(random->bounded(2'000'000)) - 1'000'000) / (c % 2 ? 100 : 1000);
            data.appendTimed(c, double(r), value, StartMs + RoundMs * r + c);
        }
    }
    return data;
}

int run(int columns, qint64 rows)
{
    const ChartData data = watchChart(columns, rows);
    QList<TimedCsvColumn> list;
    for (int c = 0; c < columns; ++c)
        list.append({c, QStringLiteral("模块 %1 (kN)").arg(c + 1)});
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("watch.csv"));
    QString error;
    std::printf("Best of %d runs; %d columns x %lld rows.\n\n", Repeats, columns,
                static_cast<long long>(rows));
    std::printf("%-34s %8s %9s %9s\n", "step", "s", "MB", "MB/s");
    const auto print = [&](const char *what, double seconds) {
        if (seconds < 0) {
            std::printf("%-34s failed: %s\n", what, qPrintable(error));
            return;
        }
        const double mb = double(QFileInfo(path).size()) / 1e6;
        std::printf("%-34s %8.3f %9.1f %9.1f\n", what, seconds, mb, mb / seconds);
    };

    const double visible = bestSeconds(
        [] {},
        [&] {
            const auto range = std::pair(double(rows) * 0.45, double(rows) * 0.55);
            return WriteTimedCsvFile(data, list, range, path, {}, &error) == SampleFileResult::Done;
        });
    print("export, visible tenth", visible);
    const double exported = bestSeconds([] {},
                                        [&] {
                                            return WriteTimedCsvFile(data, list, std::nullopt, path, {},
                                                                     &error) == SampleFileResult::Done;
                                        });
    print("export, all rows", exported);

    std::unique_ptr<ChartData> back;
    const double imported = bestSeconds(
        [&] { back = std::make_unique<ChartData>(std::vector<QString>{}); },
        [&] {
            const auto channelFor = [&](const QString &header) { return back->addChannel(header); };
            return ReadTimedCsvFile(*back, path, channelFor, {}, &error) == SampleFileResult::Done;
        });
    print("import, all rows", imported);
    return visible < 0 || exported < 0 || imported < 0 ? 1 : 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, qint64 fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1].toLongLong() : fallback;
    };
    return run(int(option("--columns", 32)), option("--rows", 100000));
}
