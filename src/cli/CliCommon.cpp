#include "cli/CliCommon.h"

#include "device/ModuleSession.h"
#include "io/Platform.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <limits>

namespace
{
constexpr int MaxBaud = 4000000;
constexpr double MaxDurationS = 1e7;
constexpr int MsPerSecond = 1000;
constexpr int MaxReplyTimeoutMs = 60000;
constexpr int DefaultBaud = 9600;
constexpr int StdErr = 2;
constexpr int HexBase = 16;

QString Dashed(const QString &name)
{
    return QStringLiteral("--") + name;
}
} // namespace

void ThrowBadArgument(const QString &message)
{
    throw CliError(ExitCode::BadArguments, message);
}

namespace CliOptions
{
qint64 Integer(const QCommandLineParser &parser, const QString &name, qint64 min, qint64 max, qint64 fallback)
{
    if (!parser.isSet(name))
        return fallback;
    const QString text = parser.value(name);
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok)
        ThrowBadArgument(KelvarinCli::tr("%1: \"%2\" is not a whole number.").arg(Dashed(name), text));
    if (value < min || value > max)
        ThrowBadArgument(
            KelvarinCli::tr("%1: %2 is outside %3..%4.").arg(Dashed(name)).arg(value).arg(min).arg(max));
    return value;
}

std::int32_t ParameterValue(const QString &option, const QString &text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    qint64 value = 0;
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const quint64 pattern = trimmed.mid(2).toULongLong(&ok, HexBase);
        ok = ok && pattern <= std::numeric_limits<quint32>::max();
        value = std::int32_t(quint32(pattern));
    } else {
        value = trimmed.toLongLong(&ok);
        ok = ok && value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max();
    }
    if (!ok)
        ThrowBadArgument(
            KelvarinCli::tr("%1: \"%2\" is not a 32-bit whole number (decimal, or hexadecimal after 0x).")
                .arg(Dashed(option), text));
    return std::int32_t(value);
}

QString Port(const QCommandLineParser &parser)
{
    const QString name = parser.value(QStringLiteral("port"));
    if (name.isEmpty())
        ThrowBadArgument(
            KelvarinCli::tr("--port is needed: the serial port of the line, e.g. /dev/ttyUSB0."));
    // A bare name ("ttyUSB0") is a device in /dev, as the serial port takes it.
    const QString path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    if (!QFileInfo::exists(path))
        ThrowBadArgument(KelvarinCli::tr("--port: there is no port %1.").arg(path));
    return name;
}

DeviceAddress Address(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("address")))
        ThrowBadArgument(KelvarinCli::tr("--address is needed: the module's bus address, 1..255."));
    return DeviceAddress(Integer(parser, QStringLiteral("address"), ModuleSession::AddressMin,
                                 ModuleSession::AddressMax, ModuleSession::DefaultAddress));
}

Line LineOf(const QCommandLineParser &parser)
{
    Line line;
    line.port = Port(parser);
    line.baud = int(Integer(parser, QStringLiteral("baud"), 1, MaxBaud, DefaultBaud));
    line.replyTimeoutMs = int(Integer(parser, QStringLiteral("timeout"), 1, MaxReplyTimeoutMs,
                                      parser.value(QStringLiteral("timeout")).toInt()));
    return line;
}

void AddLineOptions(QCommandLineParser &parser, int timeoutMs)
{
    parser.addOption({{QStringLiteral("p"), QStringLiteral("port")},
                      KelvarinCli::tr("Serial port of the line (e.g. /dev/ttyUSB0)."),
                      KelvarinCli::tr("port")});
    parser.addOption({QStringLiteral("baud"), KelvarinCli::tr("Baud rate (default 9600)."),
                      KelvarinCli::tr("rate"), QString::number(DefaultBaud)});
    parser.addOption({QStringLiteral("timeout"),
                      KelvarinCli::tr("Time-out of each answer in milliseconds (default %1).").arg(timeoutMs),
                      KelvarinCli::tr("ms"), QString::number(timeoutMs)});
}

/// --duration in seconds (a decimal number), as a deadline; none without it.
std::optional<qint64> DurationMs(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("duration")))
        return std::nullopt;
    const QString text = parser.value(QStringLiteral("duration"));
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > MaxDurationS)
        ThrowBadArgument(KelvarinCli::tr("--duration: \"%1\" is no number of seconds above 0.").arg(text));
    return qint64(std::llround(seconds * MsPerSecond));
}

void AddDurationOption(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("duration"),
                      KelvarinCli::tr("Stop after this many seconds (Ctrl+C stops at any time)."),
                      KelvarinCli::tr("seconds")});
}

void AddAddressOption(QCommandLineParser &parser)
{
    parser.addOption({{QStringLiteral("a"), QStringLiteral("address")},
                      KelvarinCli::tr("Bus address of the module, 1..255 (0 reaches every module)."),
                      KelvarinCli::tr("address")});
}
} // namespace CliOptions

namespace CliOutput
{
void Data(const QString &line)
{
    std::fputs(line.toLocal8Bit().append('\n').constData(), stdout);
    std::fflush(stdout);
}

void Error(const QString &message)
{
    std::fflush(stdout);
    std::fputs((QStringLiteral("kelvarin-cli: ") + message).toLocal8Bit().append('\n').constData(), stderr);
    std::fflush(stderr);
}

void Progress(const QString &message)
{
    static const bool terminal = Platform::IsTerminal(StdErr);
    if (!terminal)
        return;
    std::fputs(message.toLocal8Bit().append('\n').constData(), stderr);
    std::fflush(stderr);
}
} // namespace CliOutput
