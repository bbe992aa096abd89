// Child program of the journal suite: the program's windows on a given
// settings directory, in one of two modes.
//
//   journal_child record <settings dir> <port>
//     Opens the port, switches the modules into automatic sending (the
//     confirmation answered yes), prints "recording" and runs until it is
//     killed.
//   journal_child restore <settings dir>
//     Starts, answers the restore question yes, prints "question <text>",
//     then channel 0 as "point <x> <y as 16 hex digits of its bits>" lines
//     and "restored <points> <SampleCount>", and ends normally.
//
// Any error the program would show ends the child with exit code 3 and the
// text on stderr.

#include "app/AppWindows.h"
#include "app/MainUnit.h"
#include "chart/ChartWidget.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QElapsedTimer>

#include <bit>
#include <cstdio>
#include <cstdlib>

namespace
{
constexpr int ExitShownError = 3;
constexpr int ExitUsage = 2;
constexpr int QuestionTimeoutMs = 30000;

class ChildPrompter : public Prompter
{
public:
    bool askYesNo(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return true;
    }
    bool askOkCancel(QWidget *, const QString &, const QString &) override { return true; }
    void inform(QWidget *, const QString &) override {}
    void showError(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "error shown: %s\n", qPrintable(text));
        std::fflush(stderr);
        std::_Exit(ExitShownError);
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }

    QStringList questions;
};

int Record(TfrmMain &main, const QString &port)
{
    if (!main.SelectPort(port)) {
        std::fprintf(stderr, "no port %s\n", qPrintable(port));
        return ExitShownError;
    }
    main.btnOpenClick();
    if (!main.IsPortOpen())
        return ExitShownError;
    main.btnReportClick();
    std::printf("recording\n");
    std::fflush(stdout);
    return QApplication::exec();
}

int Restore(TfrmMain &main, const ChildPrompter &prompter)
{
    QElapsedTimer waited;
    waited.start();
    while (prompter.questions.isEmpty() && waited.elapsed() < QuestionTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (const QString &question : prompter.questions)
        std::printf("question %s\n", qPrintable(question));
    const ChartWidget &chart = *main.chart();
    const qsizetype points = chart.count(ChartWidget::SampleChannel);
    for (qsizetype i = 0; i < points; ++i)
        std::printf(
            "point %.17g %016llx\n", chart.x(ChartWidget::SampleChannel, i),
            static_cast<unsigned long long>(std::bit_cast<quint64>(chart.y(ChartWidget::SampleChannel, i))));
    std::printf("restored %lld %lld\n", static_cast<long long>(points),
                static_cast<long long>(main.SampleCount()));
    std::fflush(stdout);
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool record = args.size() == 4 && args.at(1) == QLatin1String("record");
    const bool restore = args.size() == 3 && args.at(1) == QLatin1String("restore");
    if (!record && !restore) {
        std::fprintf(stderr, "usage: journal_child record <settings dir> <port> | restore <settings dir>\n");
        return ExitUsage;
    }
    ChildPrompter prompter;
    SetPrompter(&prompter);
    int result = 0;
    {
        AppWindows windows(args.at(2));
        TfrmMain &main = *windows.main();
        main.show();
        result = record ? Record(main, args.at(3)) : Restore(main, prompter);
    } // a normal end
    SetPrompter(nullptr);
    return result;
}
