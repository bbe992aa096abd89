// kelvarin-cli: the modules on a serial line from scripts and remote shells.
//   kelvarin-cli <subcommand> [options]      kelvarin-cli <subcommand> --help
// Data goes to standard output; errors (and progress, on a terminal) to
// standard error; the exit status says how it ended (see --help).

#include "cli/CliCommon.h"
#include "cli/Subcommands.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>
#include <exception>

namespace
{
/// Chinese when the first locale variable that is set (LANGUAGE, LC_ALL,
/// LC_MESSAGES, LANG, in this order) starts with "zh".
bool WantsChinese()
{
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("zh");
    }
    return false;
}

/// The tool's texts are English at the source; the device layer's are Chinese.
void InstallTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    const QString file = WantsChinese() ? QStringLiteral(":/i18n/kelvarin-cli_zh_CN.qm")
                                        : QStringLiteral(":/i18n/kelvarin_en.qm");
    if (translator->load(file))
        QCoreApplication::installTranslator(translator);
}

QString ExitCodeHelp()
{
    return KelvarinCli::tr("Exit status:\n"
                           "  0  success (also after Ctrl+C in read and monitor)\n"
                           "  1  other failure\n"
                           "  2  wrong options or arguments; nothing was sent\n"
                           "  3  the port cannot be opened, or went away\n"
                           "  4  no answer in time (scan: no module found)\n"
                           "  5  a write was not acknowledged\n"
                           "  6  no access code, or a wrong one\n");
}

QString MainHelp()
{
    QString text = KelvarinCli::tr("Usage: kelvarin-cli <subcommand> [options]\n"
                                   "Transmitter modules on a serial line, from scripts.\n\nSubcommands:\n");
    for (const Subcommand &command : Subcommands())
        text += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(command.name).leftJustified(11),
                         QCoreApplication::translate("KelvarinCli", command.summary));
    text += KelvarinCli::tr("\n\"kelvarin-cli <subcommand> --help\" lists its options.\n\n");
    return text + ExitCodeHelp();
}

ExitCode Run(const QStringList &arguments)
{
    const QString name = arguments.value(1);
    if (name.isEmpty() || name == QLatin1String("--help") || name == QLatin1String("-h")) {
        std::fputs(MainHelp().toLocal8Bit().constData(), name.isEmpty() ? stderr : stdout);
        return name.isEmpty() ? ExitCode::BadArguments : ExitCode::Success;
    }
    if (name == QLatin1String("--version")) {
        CliOutput::Data(QStringLiteral("kelvarin-cli ") + QLatin1String(KELVARIN_VERSION));
        return ExitCode::Success;
    }
    for (const Subcommand &command : Subcommands()) {
        if (name != QLatin1String(command.name))
            continue;
        QCommandLineParser parser;
        parser.setApplicationDescription(QCoreApplication::translate("KelvarinCli", command.summary));
        const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                      KelvarinCli::tr("Show the options of this subcommand."));
        parser.addOption(help);
        command.declare(parser);
        QStringList rest = arguments.mid(1);
        rest[0] = QStringLiteral("kelvarin-cli ") + name;
        if (!parser.parse(rest))
            ThrowBadArgument(parser.errorText());
        if (parser.isSet(help)) {
            // The parser names the program by the path it was started with.
            QString text = parser.helpText();
            text.replace(0, text.indexOf(QLatin1Char('\n')),
                         KelvarinCli::tr("Usage: kelvarin-cli %1 [options] %2")
                             .arg(name, QLatin1String(command.usage)));
            std::fputs((text + QLatin1Char('\n') + ExitCodeHelp()).toLocal8Bit().constData(), stdout);
            return ExitCode::Success;
        }
        if (QString(command.usage).isEmpty() && !parser.positionalArguments().isEmpty())
            ThrowBadArgument(
                KelvarinCli::tr("Unexpected argument: %1").arg(parser.positionalArguments().first()));
        return command.run(parser);
    }
    ThrowBadArgument(
        KelvarinCli::tr("Unknown subcommand \"%1\"; \"kelvarin-cli --help\" lists them.").arg(name));
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvarin-cli"));
    InstallTranslation(app);
    try {
        return int(Run(QCoreApplication::arguments()));
    } catch (const CliError &error) {
        CliOutput::Error(error.message());
        return int(error.code());
    } catch (const std::exception &error) {
        CliOutput::Error(QString::fromLocal8Bit(error.what()));
        return int(ExitCode::Failure);
    }
}
