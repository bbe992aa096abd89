// kelvarin-cli watch: several modules polled round after round through the
// device layer's watch, one CSV row per round into a file, until stopped.

#include "cli/LineClient.h"
#include "cli/MqttSink.h"
#include "cli/Subcommands.h"
#include "device/BusWatch.h"
#include "device/ComputedChannel.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTimer>

#include <limits>

namespace
{
constexpr int MaxIntervalMs = 3600000;
constexpr qint64 MaxRounds = 1000000000;
const QString LocalTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

/// --address A,B,C: 1..255 each, no address twice.
QList<DeviceAddress> Addresses(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("address")))
        ThrowBadArgument(KelvarinCli::tr("--address is needed (a list such as 1,2,3)."));
    QList<DeviceAddress> addresses;
    QSet<int> seen;
    for (const QString &item : parser.value(QStringLiteral("address")).split(QLatin1Char(','))) {
        bool ok = false;
        const int address = item.trimmed().toInt(&ok);
        if (!ok || address < 1 || address > 255)
            ThrowBadArgument(KelvarinCli::tr("--address: \"%1\" is no bus address 1..255.").arg(item));
        if (seen.contains(address))
            ThrowBadArgument(KelvarinCli::tr("--address: %1 is given twice.").arg(address));
        seen.insert(address);
        addresses << DeviceAddress(address);
    }
    return addresses;
}

QString CsvCell(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

/// A value with exactly `decimals` decimals, "." as separator, from the integer.
QString ValueText(std::int32_t raw, int decimals)
{
    return QString::number(BusWatch::DisplayValue(raw, decimals), 'f', decimals);
}
} // namespace

void DeclareWatch(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, BusWatch::DefaultTimeoutMs);
    parser.addOption({{QStringLiteral("a"), QStringLiteral("address")},
                      KelvarinCli::tr("The modules to watch, e.g. 1,2,3,4."), KelvarinCli::tr("list")});
    parser.addOption({QStringLiteral("sum"), KelvarinCli::tr("Add a column with the sum of all modules.")});
    parser.addOption({QStringLiteral("csv"), KelvarinCli::tr("Write the rows to this file (replaced)."),
                      KelvarinCli::tr("file")});
    parser.addOption({QStringLiteral("interval"),
                      KelvarinCli::tr("Milliseconds from the start of one round to the next (default 0: as "
                                      "fast as the line allows)."),
                      KelvarinCli::tr("ms")});
    parser.addOption({QStringLiteral("rounds"), KelvarinCli::tr("Stop after this many rounds."),
                      KelvarinCli::tr("count")});
    CliOptions::AddDurationOption(parser);
    SampleFormat::AddOptions(parser); // --decimals and --unit of every module (--format does not apply)
    MqttSink::AddOptions(parser);
}

ExitCode RunWatch(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const QList<DeviceAddress> addresses = Addresses(parser);
    if (!parser.isSet(QStringLiteral("csv")))
        ThrowBadArgument(KelvarinCli::tr("--csv is needed."));
    const int intervalMs = int(CliOptions::Integer(parser, QStringLiteral("interval"), 0, MaxIntervalMs, 0));
    const qint64 rounds = CliOptions::Integer(parser, QStringLiteral("rounds"), 1, MaxRounds, 0);
    const std::optional<qint64> durationMs = CliOptions::DurationMs(parser);
    const SampleFormat format = SampleFormat::FromOptions(parser);
    const int decimals = format.decimals();
    const QString unit = format.unit();
    const auto mqtt = MqttSink::FromOptions(parser);

    QFile file(parser.value(QStringLiteral("csv")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw CliError(ExitCode::Failure,
                       KelvarinCli::tr("Cannot write %1: %2").arg(file.fileName(), file.errorString()));

    StopWatcher::instance().watch();
    LineClient client(line);
    client.open();
    if (mqtt)
        mqtt->start();
    BusWatch watch(client.session().link());
    QList<WatchModule> modules;
    QList<int> members;
    for (DeviceAddress address : addresses) {
        members << int(modules.size());
        modules << WatchModule{address, QString::number(address), decimals, unit, true};
    }
    watch.setModules(modules);
    watch.setIntervalMs(intervalMs);
    watch.setTimeoutMs(line.replyTimeoutMs);
    ComputedChannel sum(ComputedChannel::Kind::Sum, members, QStringLiteral("sum"), unit);
    const bool withSum = parser.isSet(QStringLiteral("sum"));

    // A header with each module's name and unit, then one whole row per round,
    // written through at once: a stop at any moment leaves a whole file.
    QStringList header{QStringLiteral("time"), QStringLiteral("epoch_ms")};
    for (const WatchModule &module : modules)
        header << CsvCell(QStringLiteral("%1 (%2)").arg(module.name, module.unit));
    if (withSum)
        header << CsvCell(QStringLiteral("sum (%1)").arg(unit));
    const auto writeLine = [&file](const QStringList &cells) {
        file.write((cells.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8());
        file.flush();
    };
    writeLine(header);

    qint64 done = 0;
    QString failure;
    QObject::connect(&watch, &BusWatch::roundCompleted, &watch, [&](quint64, qint64 timeMs) {
        QStringList row{QDateTime::fromMSecsSinceEpoch(timeMs).toString(LocalTimeFormat), QString::number(timeMs)};
        const auto &statuses = watch.statuses();
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(timeMs);
        for (int i = 0; i < int(statuses.size()); ++i) {
            const WatchModuleStatus &status = statuses[std::size_t(i)];
            const bool fresh = status.state == WatchState::Ok;
            row << (fresh ? ValueText(status.raw, decimals) : QString());
            if (fresh && mqtt)
                mqtt->publish(Sample{time, modules[i].address, status.raw}, format);
        }
        if (withSum) {
            const std::optional<double> total = sum.update(statuses, timeMs);
            row << (total ? QString::number(*total, 'f', decimals) : QString());
            if (total && mqtt)
                mqtt->publishChannel(QStringLiteral("sum"), *total, unit, time);
        }
        writeLine(row);
        if (rounds != 0 && ++done >= rounds)
            watch.stop();
    });
    QObject::connect(&watch, &BusWatch::failed, &watch, [&](const QString &error, bool) {
        failure = error;
        watch.stop();
    });
    if (!watch.start())
        throw CliError(ExitCode::PortUnavailable, KelvarinCli::tr("The watch could not start on %1.").arg(line.port));
    QTimer stopAfter;
    if (durationMs) {
        QObject::connect(&stopAfter, &QTimer::timeout, &watch, &BusWatch::stop);
        stopAfter.start(int(std::min<qint64>(*durationMs, std::numeric_limits<int>::max())));
    }
    // Ends with the watch: its rounds, its duration, a failure or a stop by the user.
    while (watch.isRunning() && client.sleep(50)) {
    }
    watch.stop();
    file.close();
    if (mqtt)
        mqtt->finish();
    if (!failure.isEmpty())
        throw CliError(ExitCode::PortUnavailable, failure.simplified());
    return ExitCode::Success;
}
