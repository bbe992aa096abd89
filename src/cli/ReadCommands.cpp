// The subcommands that only ask or listen: scan, read, monitor.

#include "cli/LineClient.h"
#include "cli/MqttSink.h"
#include "cli/SampleFormat.h"
#include "cli/Subcommands.h"
#include "device/BusScanner.h"
#include "device/TrafficDecoder.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QTimer>

#include <cmath>
#include <optional>

namespace
{
constexpr qint64 MaxCount = 1000000000;
constexpr qint64 MaxIntervalMs = 3600000;
constexpr int MsPerSecond = 1000;
constexpr int StaleCheckMs = 100;
constexpr int ScanProgressEvery = 16;

/// Ends what a stop or a lost port left: the publisher's queue, the exit code.
ExitCode Finish(MqttSink *mqtt, ExitCode code)
{
    if (mqtt)
        mqtt->finish();
    return code;
}
} // namespace

// --- scan ---------------------------------------------------------------------------

void DeclareScan(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, BusScanner::DefaultTimeoutMs);
    parser.addOption({QStringLiteral("from"), KelvarinCli::tr("First address asked (default 1)."),
                      KelvarinCli::tr("address")});
    parser.addOption({QStringLiteral("to"), KelvarinCli::tr("Last address asked (default 255)."),
                      KelvarinCli::tr("address")});
    SampleFormat::AddOptions(parser);
    MqttSink::AddOptions(parser);
}

ExitCode RunScan(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    if (line.replyTimeoutMs < BusScanner::MinTimeoutMs || line.replyTimeoutMs > BusScanner::MaxTimeoutMs)
        ThrowBadArgument(KelvarinCli::tr("--timeout: %1 is outside %2..%3.")
                             .arg(line.replyTimeoutMs)
                             .arg(BusScanner::MinTimeoutMs)
                             .arg(BusScanner::MaxTimeoutMs));
    const auto from = CliOptions::Integer(parser, QStringLiteral("from"), BusScanner::FirstAddress,
                                          BusScanner::LastAddress, BusScanner::FirstAddress);
    const auto to = CliOptions::Integer(parser, QStringLiteral("to"), BusScanner::FirstAddress,
                                        BusScanner::LastAddress, BusScanner::LastAddress);
    if (from > to)
        ThrowBadArgument(KelvarinCli::tr("--from %1 lies above --to %2.").arg(from).arg(to));
    const SampleFormat format = SampleFormat::FromOptions(parser);
    const auto mqtt = MqttSink::FromOptions(parser);

    LineClient client(line);
    client.open();
    if (mqtt)
        mqtt->start();
    BusScanner scanner(client.session());
    scanner.setTimeoutMs(line.replyTimeoutMs);
    int found = 0;
    QObject::connect(&scanner, &BusScanner::found, [&](const BusScanFinding &finding) {
        if (found++ == 0 && !format.header().isEmpty())
            CliOutput::Data(format.header());
        const Sample sample{QDateTime::currentDateTime(), finding.address,
                            finding.hasValue ? std::optional<std::int32_t>(finding.value) : std::nullopt};
        CliOutput::Data(format.line(sample));
        if (mqtt)
            mqtt->publish(sample, format);
    });
    QObject::connect(
        &scanner, &BusScanner::conflict, [](DeviceAddress asked, DeviceAddress answered, bool late) {
            CliOutput::Error(
                late ? KelvarinCli::tr("While %1 was asked, a late answer came from %2.")
                           .arg(asked)
                           .arg(answered)
                     : KelvarinCli::tr("Bus conflict: while %1 was asked, an answer came from %2.")
                           .arg(asked)
                           .arg(answered));
        });
    QObject::connect(&scanner, &BusScanner::asking, [](DeviceAddress address, int index, int count) {
        if (index % ScanProgressEvery == 0)
            CliOutput::Progress(
                KelvarinCli::tr("Asking address %1 (%2 of %3)...").arg(address).arg(index + 1).arg(count));
    });
    std::optional<BusScanner::Ending> ending;
    QString detail;
    QObject::connect(&scanner, &BusScanner::finished, [&](BusScanner::Ending end, const QString &text) {
        ending = end;
        detail = text;
    });
    if (scanner.start(DeviceAddress(from), DeviceAddress(to)) != BusScanner::Refusal::None)
        throw CliError(ExitCode::Failure, KelvarinCli::tr("The scan could not start."));
    while (!ending)
        client.waitFor(&scanner, &BusScanner::finished);

    switch (*ending) {
    case BusScanner::Ending::Completed:
    case BusScanner::Ending::Stopped:
        break;
    case BusScanner::Ending::AutoSending:
        throw CliError(ExitCode::Failure,
                       KelvarinCli::tr("Modules are sending values on their own (automatic "
                                       "sending): switch them off and on, then scan again."));
    case BusScanner::Ending::PortFailed:
        throw CliError(ExitCode::PortUnavailable,
                       KelvarinCli::tr("The scan ended: %1").arg(detail.simplified()));
    default:
        throw CliError(ExitCode::Failure, KelvarinCli::tr("The scan ended early."));
    }
    if (found == 0)
        throw CliError(ExitCode::NoAnswer,
                       KelvarinCli::tr("No module answered at addresses %1..%2.").arg(from).arg(to));
    return Finish(mqtt.get(), ExitCode::Success);
}

// --- read ---------------------------------------------------------------------------

void DeclareRead(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, DeviceLink::DefaultReplyTimeoutMs);
    CliOptions::AddAddressOption(parser);
    parser.addOption({QStringLiteral("count"), KelvarinCli::tr("Read this many values, then stop."),
                      KelvarinCli::tr("count")});
    CliOptions::AddDurationOption(parser);
    parser.addOption({QStringLiteral("interval"),
                      KelvarinCli::tr("Milliseconds from one request to the next (default %1).")
                          .arg(CurrentSettings{}.ReadInterval),
                      KelvarinCli::tr("ms")});
    SampleFormat::AddOptions(parser);
    MqttSink::AddOptions(parser);
}

ExitCode RunRead(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const DeviceAddress address = CliOptions::Address(parser);
    if (parser.isSet(QStringLiteral("count")) && parser.isSet(QStringLiteral("duration")))
        ThrowBadArgument(KelvarinCli::tr("--count and --duration exclude each other."));
    const qint64 count = CliOptions::Integer(parser, QStringLiteral("count"), 1, MaxCount, 0);
    const std::optional<qint64> durationMs = CliOptions::DurationMs(parser);
    const int intervalMs = int(CliOptions::Integer(parser, QStringLiteral("interval"), 0, MaxIntervalMs,
                                                   CurrentSettings{}.ReadInterval));
    const SampleFormat format = SampleFormat::FromOptions(parser);
    const auto mqtt = MqttSink::FromOptions(parser);

    StopWatcher::instance().watch();
    LineClient client(line);
    client.open();
    if (mqtt)
        mqtt->start();
    if (!format.header().isEmpty())
        CliOutput::Data(format.header());
    const QDeadlineTimer end =
        durationMs ? QDeadlineTimer(*durationMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    for (qint64 read = 0; count == 0 || read < count; ++read) {
        const QDeadlineTimer next(intervalMs);
        const LineOutcome outcome =
            client.require(LineRequest::For(BuildQueryFrame(address, CmdReadValue)), ExitCode::NoAnswer,
                           KelvarinCli::tr("Reading address %1").arg(address));
        if (!outcome.answered())
            break; // stopped by the user
        const Sample sample{QDateTime::currentDateTime(), outcome.reply.address, outcome.reply.value};
        CliOutput::Data(format.line(sample));
        if (mqtt)
            mqtt->publish(sample, format);
        if (end.hasExpired() || (count != 0 && read + 1 >= count))
            break;
        const qint64 pause =
            durationMs ? std::min(next.remainingTime(), end.remainingTime()) : next.remainingTime();
        if (!client.sleep(int(pause)) || end.hasExpired())
            break;
    }
    return Finish(mqtt.get(), ExitCode::Success);
}

// --- monitor --------------------------------------------------------------------------

namespace
{
QString MonitorLine(const TrafficRow &row)
{
    const QString time =
        QDateTime::fromMSecsSinceEpoch(row.stamp.wallMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QString since = QString::number(double(row.stamp.sinceOpenMs) / MsPerSecond, 'f', 3);
    const QString direction =
        row.direction == TrafficRow::Direction::Sent ? QStringLiteral("TX") : QStringLiteral("RX");
    QStringList fields{since, time, direction};
    if (!row.isFrame()) {
        fields << QStringLiteral("-") << QStringLiteral("unframed") << QStringLiteral("-");
    } else {
        const QString name = CommandName(row.command);
        fields << QString::number(row.address)
               << (name.isEmpty() ? QString::number(row.command)
                                  : QStringLiteral("%1(%2)").arg(name).arg(row.command))
               << (row.hasValue() ? QString::number(row.value) : QStringLiteral("-"));
    }
    fields << (row.isFrame() ? (row.checkOk ? QStringLiteral("check-ok") : QStringLiteral("check-BAD"))
                             : QStringLiteral("-"))
           << (row.isFrame() ? (row.endOk ? QStringLiteral("end-ok") : QStringLiteral("end-BAD"))
                             : QStringLiteral("-"))
           << HexBytes(row.raw);
    return fields.join(QLatin1Char('\t'));
}

void PrintRows(TrafficRows &rows)
{
    for (const TrafficRow &row : rows)
        CliOutput::Data(MonitorLine(row));
    rows.clear();
}
} // namespace

void DeclareMonitor(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, DeviceLink::DefaultReplyTimeoutMs);
    CliOptions::AddDurationOption(parser);
}

ExitCode RunMonitor(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const std::optional<qint64> durationMs = CliOptions::DurationMs(parser);
    StopWatcher::instance().watch();
    LineClient client(line);
    client.open();
    DeviceLink &link = client.session().link();
    TrafficDecoder decoder;
    TrafficRows rows;
    const auto stamp = [&link] {
        return TrafficStamp{link.openedElapsedMs(), QDateTime::currentMSecsSinceEpoch()};
    };
    QObject::connect(&link, &DeviceLink::bytesRead, [&](const QByteArray &piece) {
        decoder.feedRead(piece, stamp(), rows);
        PrintRows(rows);
    });
    QTimer stale;
    QObject::connect(&stale, &QTimer::timeout, [&] {
        decoder.flushStale(link.openedElapsedMs(), rows);
        PrintRows(rows);
    });
    stale.start(StaleCheckMs);
    bool lost = false;
    QString reason;
    QTimer end;
    end.setSingleShot(true);
    if (durationMs)
        end.start(int(std::min<qint64>(*durationMs, std::numeric_limits<int>::max())));
    QObject::connect(&client.session(), &ModuleSession::portLost, &end, [&](const QString &text) {
        lost = true;
        reason = text;
        end.start(0);
    });
    client.waitFor(&end, &QTimer::timeout);
    decoder.flush(rows);
    PrintRows(rows);
    if (lost)
        throw CliError(ExitCode::PortUnavailable,
                       KelvarinCli::tr("The port went away: %1").arg(reason.simplified()));
    return ExitCode::Success;
}
