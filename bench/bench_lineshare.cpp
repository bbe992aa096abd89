// The parameter editor sharing the line with live reading: 1,000 writes and
// 1,000 reads through the editor's buttons while the main window polls every
// 100 ms, against a module that answers 40 ms after each request. Prints the
// operator requests per second, all requests per second on the line, the
// poll rate kept (against the nominal 10/s), the latency of an operator
// request from the click to the reported result (median, 95th percentile,
// worst), and whether any request was reported failed, sent twice or sent
// while another one's reply was owed.

#include "BenchClock.h"
#include "MainFixture.h"

#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"

#include "ui_EditParamUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
constexpr DeviceAddress Address = 1;
constexpr int AnswerDelayMs = 40;
constexpr int ReadIntervalMs = 100;
constexpr int Operations = 1000;
constexpr int ResultWaitMs = 30000;

struct Latencies {
    std::vector<double> ms;
    void print(const char *what)
    {
        std::sort(ms.begin(), ms.end());
        if (ms.empty())
            return;
        std::printf("%s latency, click to result: median %.1f ms, 95th percentile %.1f ms, worst %.1f ms\n",
                    what, ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    }
};

int OverlapCount(TxSim &sim)
{
    return sim.command(QStringLiteral("overlaps")).mid(3).toInt();
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainFixture fx(DeviceLink::DefaultReplyTimeoutMs);
    if (!fx.connect({QStringLiteral("--address"), QString::number(Address)}))
        return std::puts("the simulator did not start"), 1;
    TxSim &sim = fx.sim();
    ParameterWindows windows;
    TfrmParam list(windows);
    TfrmEditParam editor(windows, fx.session());
    editor.show();
    sim.ok(QStringLiteral("fault late %1").arg(AnswerDelayMs));
    fx.main().SetReadInterval(ReadIntervalMs);
    fx.main().btnBeginReadClick();
    RunFor(3 * ReadIntervalMs);

    // The result is reported when the status bar gets its text.
    bool reported = false;
    QObject::connect(editor.ui()->StatusBar1, &QStatusBar::messageChanged,
                     [&](const QString &text) { reported = reported || !text.isEmpty(); });
    const auto clickAndWait = [&](QPushButton *button, int row, Latencies &latencies) {
        list.SelectRow(row);
        editor.ui()->StatusBar1->clearMessage();
        reported = false;
        QElapsedTimer clock;
        clock.start();
        button->click();
        while (!reported && clock.elapsed() < ResultWaitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        latencies.ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        return editor.StatusText();
    };

    const int overlapsBefore = OverlapCount(sim);
    const quint64 sentBefore = fx.main().link().requestsSent();
    sim.clearLog();
    Latencies writes;
    Latencies reads;
    int failed = 0;
    QList<QByteArray> written;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < Operations; ++i) {
        // Rows 1..20 (row 0 would move the module to another address).
        const int row = 1 + i % (ParameterCatalogue::Count - 1);
        const CommandCode code = ParameterCatalogue::Command(row);
        editor.ui()->leParamValue->setText(QString::number(i));
        if (clickAndWait(editor.ui()->btnWrite, row, writes) != QStringLiteral("写入成功！"))
            ++failed;
        written << DeviceLink::toBytes(BuildDataFrame(Address, code, i));
        if (clickAndWait(editor.ui()->btnRead, row, reads) != QStringLiteral("读取成功！") ||
            editor.ui()->leParamValue->text() != QString::number(i))
            ++failed;
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    const quint64 lineRequests = fx.main().link().requestsSent() - sentBefore;
    fx.main().btnBeginReadClick();
    RunFor(3 * AnswerDelayMs);

    const QList<QByteArray> received = sim.receivedFrames();
    const QByteArray poll = DeviceLink::toBytes(BuildQueryFrame(Address, CmdReadValue));
    const qsizetype polls = received.count(poll);
    const auto twice = std::count_if(written.begin(), written.end(),
                                     [&](const QByteArray &frame) { return received.count(frame) != 1; });
    std::printf("%d writes and %d reads through the editor under polling every %d ms, module answering after "
                "%d ms: %.1f s\n",
                Operations, Operations, ReadIntervalMs, AnswerDelayMs, seconds);
    std::printf("operator requests %.1f/s; all requests on the line %.1f/s (%llu)\n",
                2 * Operations / seconds, double(lineRequests) / seconds,
                static_cast<unsigned long long>(lineRequests));
    std::printf("polls %.2f/s received by the module, nominal %.2f/s (%.0f %% kept)\n",
                double(polls) / seconds, 1000.0 / ReadIntervalMs,
                100.0 * double(polls) / seconds / (1000.0 / ReadIntervalMs));
    writes.print("write");
    reads.print("read");
    std::printf("reported not done: %d; writes not sent exactly once: %lld; requests sent while a reply was "
                "owed: %d\n",
                failed, static_cast<long long>(twice), OverlapCount(sim) - overlapsBefore);
    return failed == 0 && twice == 0 ? 0 : 1;
}
