#pragma once

#include <optional>
// What every subcommand of the command-line tool shares: its exit codes, the
// error that ends a subcommand with one of them, the checks of option values
// (made before anything is sent) and the two output streams: data on standard
// output, errors and progress on standard error.

#include "device/Protocol.h"

#include <QCoreApplication>
#include <QString>

#include <stdexcept>

class QCommandLineParser;

/// The translation context of the tool's own texts (English source texts).
class KelvarinCli
{
    Q_DECLARE_TR_FUNCTIONS(KelvarinCli)
};

/// Exit status of the tool; the manual page and --help list them.
enum class ExitCode {
    Success = 0,
    Failure = 1,         ///< anything not listed below
    BadArguments = 2,    ///< an option or argument is wrong; nothing was sent
    PortUnavailable = 3, ///< the port cannot be opened, or went away
    NoAnswer = 4,        ///< a module did not answer in time
    NotAcknowledged = 5, ///< a write was not acknowledged
    AccessDenied = 6,    ///< no access code, or a wrong one
};

/// Ends a subcommand: `message` goes to standard error, `code` is the exit status.
class CliError : public std::runtime_error
{
public:
    CliError(ExitCode code, const QString &message)
        : std::runtime_error(message.toStdString()), m_code(code), m_message(message)
    {
    }
    ExitCode code() const { return m_code; }
    QString message() const { return m_message; }

private:
    ExitCode m_code;
    QString m_message;
};

[[noreturn]] void ThrowBadArgument(const QString &message);

namespace CliOptions
{
/// The value of option `name` as a whole number in min..max, or `fallback`
/// when the option is not given.
qint64 Integer(const QCommandLineParser &parser, const QString &name, qint64 min, qint64 max,
               qint64 fallback);
/// A whole number, decimal or hexadecimal after "0x" (read as the 32-bit
/// pattern the module stores), for a parameter value.
std::int32_t ParameterValue(const QString &option, const QString &text);
/// --port, which must be given and name an existing device.
QString Port(const QCommandLineParser &parser);
/// --address, 0..255 (0 reaches every module).
DeviceAddress Address(const QCommandLineParser &parser);
/// Line options shared by every subcommand that opens the port.
struct Line {
    QString port;
    int baud = 9600;
    int replyTimeoutMs = 2000;
};
Line LineOf(const QCommandLineParser &parser);
/// Declares --port, --baud and --timeout (reply time-out, default `timeoutMs`).
void AddLineOptions(QCommandLineParser &parser, int timeoutMs);
void AddAddressOption(QCommandLineParser &parser);
/// --duration in seconds (a decimal number above 0); none without it.
std::optional<qint64> DurationMs(const QCommandLineParser &parser);
void AddDurationOption(QCommandLineParser &parser);
} // namespace CliOptions

namespace CliOutput
{
/// One line of data on standard output, written through at once.
void Data(const QString &line);
/// A message on standard error (a line of its own, the program's name first).
void Error(const QString &message);
/// Progress on standard error, only when it is a terminal.
void Progress(const QString &message);
} // namespace CliOutput
