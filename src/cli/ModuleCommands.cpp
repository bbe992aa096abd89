// The subcommands that write to a module: param, zero, calibrate.

#include "cli/LineClient.h"
#include "cli/Subcommands.h"
#include "device/AccessCodes.h"
#include "device/CalibrationRun.h"
#include "device/ZeroCalibrationRun.h"
#include "io/Platform.h"

#include <QRegularExpression>

namespace
{
constexpr int StdIn = 0;
constexpr int MinPoints = 2;
constexpr int MaxPV = 1000000;
/// Pauses of the calibration table's end sequence, in milliseconds.
constexpr int DefaultWaitIntervalMs = 200;
constexpr int MaxWaitIntervalMs = 5000;

/// A general parameter by its code (2..22) or short name (DN, ZerO,
/// PointCount, AVP1..AVP9, PVP1..PVP9; any case).
CommandCode ParameterCode(const QString &text)
{
    static const QRegularExpression point(QStringLiteral("^(AVP|PVP)([1-9])$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString name = text.trimmed();
    if (name.compare(QLatin1String("DN"), Qt::CaseInsensitive) == 0)
        return CmdDN;
    if (name.compare(QLatin1String("ZerO"), Qt::CaseInsensitive) == 0)
        return CmdZerO;
    if (name.compare(QLatin1String("PointCount"), Qt::CaseInsensitive) == 0)
        return CmdPointCount;
    if (const auto match = point.match(name); match.hasMatch()) {
        const int k = match.captured(2).toInt();
        return match.captured(1).compare(QLatin1String("AVP"), Qt::CaseInsensitive) == 0 ? CmdAVP(k)
                                                                                         : CmdPVP(k);
    }
    bool ok = false;
    const int code = name.toInt(&ok);
    if (!ok || code < FirstGeneralParam || code > LastGeneralParam)
        ThrowBadArgument(
            KelvarinCli::tr("--code: \"%1\" is no general parameter (2..22, or DN, ZerO, PointCount, "
                            "AVP1..AVP9, PVP1..PVP9).")
                .arg(text));
    return CommandCode(code);
}

/// The user's or the factory's access code, from --access-code or asked for
/// on the terminal; CliError(AccessDenied) otherwise.
void CheckAccess(const QCommandLineParser &parser)
{
    QString code = parser.value(QStringLiteral("access-code"));
    if (!parser.isSet(QStringLiteral("access-code"))) {
        if (!Platform::IsTerminal(StdIn) || !Platform::ReadSecretLine(KelvarinCli::tr("Access code: "), code))
            throw CliError(
                ExitCode::AccessDenied,
                KelvarinCli::tr("The parameters need the access code: give --access-code, or run on a "
                                "terminal to be asked for it."));
    }
    // Compared exactly, as the parameter windows compare it.
    if (code != UserAccessCode && code != FactoryAccessCode)
        throw CliError(ExitCode::AccessDenied, KelvarinCli::tr("Wrong access code."));
}

/// --points "AV:PV,AV:PV,...": 2..9 points, AD code and output value each.
std::vector<LinearPoint> Points(const QCommandLineParser &parser)
{
    const QString text = parser.value(QStringLiteral("points"));
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.size() < MinPoints || items.size() > CalibrationPointCount)
        ThrowBadArgument(KelvarinCli::tr("--points: give %1 to %2 points as AV:PV, separated by commas.")
                             .arg(MinPoints)
                             .arg(CalibrationPointCount));
    std::vector<LinearPoint> points;
    for (const QString &item : items) {
        const QStringList pair = item.split(QLatin1Char(':'));
        if (pair.size() != 2)
            ThrowBadArgument(KelvarinCli::tr("--points: \"%1\" is not AV:PV.").arg(item));
        const LinearPoint point{CliOptions::ParameterValue(QStringLiteral("points"), pair[0]),
                          CliOptions::ParameterValue(QStringLiteral("points"), pair[1])};
        if (point.PV < 0 || point.PV > MaxPV)
            ThrowBadArgument(
                KelvarinCli::tr("--points: the output value %1 is outside 0..%2.").arg(point.PV).arg(MaxPV));
        points.push_back(point);
    }
    return points;
}

LineRequest Write(DeviceAddress address, CommandCode command, std::int32_t value)
{
    return LineRequest::For(BuildDataFrame(address, command, value));
}

LineRequest Query(DeviceAddress address, CommandCode command)
{
    return LineRequest::For(BuildQueryFrame(address, command));
}
} // namespace

// --- param --------------------------------------------------------------------------

void DeclareParam(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("action"), KelvarinCli::tr("get or set"),
                                 QStringLiteral("get|set"));
    CliOptions::AddLineOptions(parser, DeviceLink::DefaultReplyTimeoutMs);
    CliOptions::AddAddressOption(parser);
    parser.addOption(
        {QStringLiteral("code"),
         KelvarinCli::tr("General parameter: 2..22, or DN, ZerO, PointCount, AVP1..AVP9, PVP1..PVP9."),
         KelvarinCli::tr("code")});
    parser.addOption(
        {QStringLiteral("value"),
         KelvarinCli::tr("Value to set: a 32-bit whole number, decimal or hexadecimal after 0x."),
         KelvarinCli::tr("value")});
    parser.addOption(
        {QStringLiteral("access-code"),
         KelvarinCli::tr("The user's or factory access code. Without it the code is asked for on the "
                         "terminal; with no terminal the command is refused."),
         KelvarinCli::tr("code")});
}

ExitCode RunParam(const QCommandLineParser &parser)
{
    const QStringList actions = parser.positionalArguments();
    if (actions.size() != 1 || (actions[0] != QLatin1String("get") && actions[0] != QLatin1String("set")))
        ThrowBadArgument(KelvarinCli::tr("param needs one action: get or set."));
    const bool set = actions[0] == QLatin1String("set");
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const DeviceAddress address = CliOptions::Address(parser);
    if (!parser.isSet(QStringLiteral("code")))
        ThrowBadArgument(KelvarinCli::tr("--code is needed."));
    const CommandCode code = ParameterCode(parser.value(QStringLiteral("code")));
    std::int32_t value = 0;
    if (set && !parser.isSet(QStringLiteral("value")))
        ThrowBadArgument(KelvarinCli::tr("param set needs --value."));
    if (!set && parser.isSet(QStringLiteral("value")))
        ThrowBadArgument(KelvarinCli::tr("param get takes no --value."));
    if (set)
        value = CliOptions::ParameterValue(QStringLiteral("value"), parser.value(QStringLiteral("value")));
    CheckAccess(parser);

    LineClient client(line);
    client.open();
    const QString what = KelvarinCli::tr("Parameter %1 of address %2").arg(code).arg(address);
    if (set) {
        client.require(Write(address, code, value), ExitCode::NotAcknowledged, what);
        CliOutput::Progress(KelvarinCli::tr("Written."));
    } else {
        CliOutput::Data(
            QString::number(client.require(Query(address, code), ExitCode::NoAnswer, what).reply.value));
    }
    return ExitCode::Success;
}

// --- zero ---------------------------------------------------------------------------

void DeclareZero(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, DeviceLink::DefaultReplyTimeoutMs);
    CliOptions::AddAddressOption(parser);
    parser.addOption(
        {QStringLiteral("wait"),
         KelvarinCli::tr("Pause in milliseconds between reading the zero value and the measured value "
                         "(default %1).")
             .arg(DefaultWaitIntervalMs),
         KelvarinCli::tr("ms")});
}

/// Runs `start` and waits for the run's `finished`; a stop by the user cancels it.
template <typename Run, typename Start> typename Run::Ending RunToEnd(LineClient &client, Run &run, Start start)
{
    typename Run::Ending ending = Run::Ending::Cancelled;
    QObject::connect(&run, &Run::finished, &run, [&ending](typename Run::Ending e) { ending = e; });
    if (!start())
        throw CliError(ExitCode::Failure, KelvarinCli::tr("The run could not be started."));
    if (!client.waitFor(&run, &Run::finished))
        run.cancel();
    return ending;
}

/// The exit for a run's request that could not go out.
[[noreturn]] void RunFailed(const RequestSequence &run, const QString &what)
{
    throw CliError(ExitCode::PortUnavailable, KelvarinCli::tr("%1: %2").arg(what, run.failureText().simplified()));
}

ExitCode RunZero(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const DeviceAddress address = CliOptions::Address(parser);
    const int waitMs =
        int(CliOptions::Integer(parser, QStringLiteral("wait"), 0, MaxWaitIntervalMs, DefaultWaitIntervalMs));
    LineClient client(line);
    client.open();
    client.session().SetCurrentAddress(address);
    // The same run as the desktop program's zero calibration.
    ZeroCalibrationRun run(client.session());
    const QString what = KelvarinCli::tr("Zero calibration");
    switch (RunToEnd(client, run, [&] { return run.start(waitMs); })) {
    case ZeroCalibrationRun::Ending::Written:
        break;
    case ZeroCalibrationRun::Ending::ReadUnanswered:
        throw CliError(ExitCode::NoAnswer,
                       KelvarinCli::tr("%1: no answer within %2 ms.").arg(what).arg(line.replyTimeoutMs));
    case ZeroCalibrationRun::Ending::WriteUnanswered:
        throw CliError(ExitCode::NotAcknowledged, KelvarinCli::tr("Writing the zero value: no answer within %1 ms.")
                                                      .arg(line.replyTimeoutMs));
    case ZeroCalibrationRun::Ending::Failed:
        RunFailed(run, what);
    case ZeroCalibrationRun::Ending::Cancelled:
        return ExitCode::Success;
    }
    CliOutput::Progress(KelvarinCli::tr("Zero value %1 + measured %2 = %3 written.")
                            .arg(run.oldZero())
                            .arg(run.measured())
                            .arg(run.newZero()));
    CliOutput::Data(QString::number(run.newZero()));
    return ExitCode::Success;
}

// --- calibrate ------------------------------------------------------------------------

void DeclareCalibrate(QCommandLineParser &parser)
{
    CliOptions::AddLineOptions(parser, DeviceLink::DefaultReplyTimeoutMs);
    CliOptions::AddAddressOption(parser);
    parser.addOption(
        {QStringLiteral("points"),
         KelvarinCli::tr("Calibration points in order, \"AV:PV,AV:PV,...\" (2..9): the AD code of each "
                         "load and the output value that belongs to it (0..1000000)."),
         KelvarinCli::tr("points")});
}

ExitCode RunCalibrate(const QCommandLineParser &parser)
{
    const CliOptions::Line line = CliOptions::LineOf(parser);
    const DeviceAddress address = CliOptions::Address(parser);
    if (!parser.isSet(QStringLiteral("points")))
        ThrowBadArgument(KelvarinCli::tr("--points is needed."));
    std::vector<LinearPoint> points = Points(parser);
    const auto count = points.size();
    LineClient client(line);
    client.open();
    client.session().SetCurrentAddress(address);
    // The runs of the desktop program's calibration dialog: the zero value
    // cleared, then the table, its size and the closing store.
    CalibrationRun run(client.session());
    bool countAnswered = true;
    QObject::connect(&run, &CalibrationRun::countWritten, &run, [&](bool answered) {
        countAnswered = answered;
        if (!answered)
            CliOutput::Error(
                KelvarinCli::tr("Writing PointCount: no answer within %1 ms.").arg(line.replyTimeoutMs));
    });
    const auto check = [&](CalibrationRun::Ending ending, const QString &what) {
        switch (ending) {
        case CalibrationRun::Ending::Done:
            return true;
        case CalibrationRun::Ending::Unanswered:
            throw CliError(ExitCode::NotAcknowledged,
                           KelvarinCli::tr("%1: no answer within %2 ms.").arg(what).arg(line.replyTimeoutMs));
        case CalibrationRun::Ending::Failed:
            RunFailed(run, what);
        case CalibrationRun::Ending::Cancelled:
            break;
        }
        return false;
    };
    if (!check(RunToEnd(client, run, [&] { return run.clearZero(); }), KelvarinCli::tr("Clearing the zero value")))
        return ExitCode::Success;
    if (!check(RunToEnd(client, run, [&] { return run.writeTable(std::move(points)); }),
               KelvarinCli::tr("Writing the calibration table")))
        return ExitCode::Success;
    if (!countAnswered)
        throw CliError(ExitCode::NotAcknowledged,
                       KelvarinCli::tr("The calibration was stored, but PointCount was not acknowledged."));
    CliOutput::Progress(KelvarinCli::tr("Calibration of %1 points stored.").arg(count));
    return ExitCode::Success;
}
