// Child program of the hostile-files suite: the program's windows on a given
// settings directory, as the program starts them, driven over stdin.
//
//   hostile_child <settings dir> <yes|no>
//
// Every prompt is printed as it is shown: "prompt <kind> <text>" (kind
// question, inform, error or about; line breaks as "\n"); questions are
// answered with the given answer. "ready" follows once the start-up's
// notices and questions are through. Commands, one a line:
//   ping                      -> "pong" (the event loop answers)
//   state                     -> "state <Decimal> <ReadInterval> <WaitInterval> <AverageCount>
//                                 <Baud> <YMin> <YMax> <address> <value text length>"
//   points                    -> "points <points in channel 0>"
//   rss                       -> "rss <peak resident kB>"
//   import <path>             -> the import as the operator starts it, then "imported"
//   write <section>|<key>|<value> -> a settings write, then "written <0|1>"
//   about                     -> the About box (printed as a prompt), then "shown"
//   quit                      -> a normal end

#include "app/AppWindows.h"
#include "app/MainUnit.h"
#include "chart/ChartWidget.h"
#include "widgets/Prompter.h"
#include "widgets/SpinEdit.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

namespace
{
constexpr int ExitUsage = 2;
constexpr int ReadyAfterMs = 300; // the start-up's queued notices are through by then

void Print(const QString &line)
{
    std::printf("%s\n", qUtf8Printable(QString(line).replace(u'\n', QStringLiteral("\\n"))));
    std::fflush(stdout);
}

class PrintingPrompter : public Prompter
{
public:
    explicit PrintingPrompter(bool answer) : m_answer(answer) {}

    bool askYesNo(QWidget *, const QString &, const QString &text) override
    {
        Print(QStringLiteral("prompt question ") + text);
        return m_answer;
    }
    bool askOkCancel(QWidget *, const QString &, const QString &text) override
    {
        Print(QStringLiteral("prompt question ") + text);
        return m_answer;
    }
    void inform(QWidget *, const QString &text) override { Print(QStringLiteral("prompt inform ") + text); }
    void showError(QWidget *, const QString &text) override { Print(QStringLiteral("prompt error ") + text); }
    void about(QWidget *, const QString &, const QString &text) override
    {
        Print(QStringLiteral("prompt about ") + text);
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return openName; }

    QString openName;

private:
    bool m_answer;
};

qint64 PeakResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void Run(const QString &command, AppWindows &windows, PrintingPrompter &prompter)
{
    TfrmMain &main = *windows.main();
    const QString verb = command.section(u' ', 0, 0);
    const QString rest = command.section(u' ', 1);
    if (verb == QLatin1String("ping")) {
        Print(QStringLiteral("pong"));
    } else if (verb == QLatin1String("state")) {
        const CurrentSettings &now = main.current();
        const auto *value = main.findChild<QLabel *>(QStringLiteral("sttValue"));
        const auto *address = main.findChild<SpinEdit *>(QStringLiteral("speDN"));
        Print(QStringLiteral("state %1 %2 %3 %4 %5 %6 %7 %8 %9")
                  .arg(now.Decimal)
                  .arg(now.ReadInterval)
                  .arg(now.WaitInterval)
                  .arg(now.AverageCount)
                  .arg(now.Baud)
                  .arg(now.YMin, 0, 'g', 17)
                  .arg(now.YMax, 0, 'g', 17)
                  .arg(address ? address->text() : QString())
                  .arg(value ? value->text().size() : -1));
    } else if (verb == QLatin1String("points")) {
        Print(QStringLiteral("points %1").arg(main.chart()->count(ChartWidget::SampleChannel)));
    } else if (verb == QLatin1String("rss")) {
        Print(QStringLiteral("rss %1").arg(PeakResidentKb()));
    } else if (verb == QLatin1String("import")) {
        prompter.openName = rest;
        main.btnLoadDataClick();
        Print(QStringLiteral("imported"));
    } else if (verb == QLatin1String("write")) {
        const QStringList parts = rest.split(u'|');
        const bool written =
            parts.size() == 3 && windows.settings().WriteString(parts[0], parts[1], parts[2]);
        QCoreApplication::processEvents(); // the failure notice is queued
        Print(QStringLiteral("written %1").arg(written ? 1 : 0));
    } else if (verb == QLatin1String("about")) {
        main.mnuAboutClick();
        Print(QStringLiteral("shown"));
    } else if (verb == QLatin1String("quit")) {
        QCoreApplication::quit();
    }
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: hostile_child <settings dir> <yes|no>\n");
        return ExitUsage;
    }
    PrintingPrompter prompter(args.at(2) == QLatin1String("yes"));
    SetPrompter(&prompter);
    int result = 0;
    {
        AppWindows windows(args.at(1));
        windows.main()->show();
        QTimer::singleShot(ReadyAfterMs, [] { Print(QStringLiteral("ready")); });
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        QSocketNotifier commands(0, QSocketNotifier::Read);
        QObject::connect(&commands, &QSocketNotifier::activated, [&] {
            const QByteArray line = input.readLine().trimmed();
            if (line.isEmpty() && input.atEnd())
                QCoreApplication::quit(); // the suite has gone
            else
                Run(QString::fromUtf8(line), windows, prompter);
        });
        result = QApplication::exec();
    } // a normal end
    SetPrompter(nullptr);
    return result;
}
