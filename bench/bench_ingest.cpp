// Automatic-sending ingest: the simulator bursts value replies as fast as the
// pseudo-terminal takes them; the main window assembles, handles, displays and
// charts each one. Prints replies/s, whether any was lost, and how responsive
// the window's event loop stayed (largest gap between 5 ms timer ticks, and
// chart repaints done meanwhile).

#include "MainFixture.h"
#include "chart/ChartWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 replies = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;

    MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
    if (!f.connect() || !f.sim().ok(QStringLiteral("log off")))
        return std::puts("main window could not open the simulator"), 1;
    TfrmMain &m = f.main();
    m.resize(1000, 600);
    m.current().Decimal = 0;

    // Event-loop latency probe.
    QElapsedTimer sinceTick;
    qint64 worstGapUs = 0;
    qint64 ticks = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            worstGapUs = std::max(worstGapUs, sinceTick.nsecsElapsed() / 1000);
        sinceTick.start();
    });

    // Switch the module into automatic sending, then ask for the burst.
    f.prompts.answerYes = true;
    m.btnReportClick();
    QTest::qWait(50);
    // Only the burst's replies from here on: stop the module's own pace.
    f.sim().ok(QStringLiteral("autosend off"));
    QTest::qWait(50);
    m.btnClearClick();
    const quint64 repaintsBefore = m.chart()->seriesUpdateCount();

    QElapsedTimer t;
    probe.start();
    sinceTick.start();
    t.start();
    if (!f.sim().command(QStringLiteral("burst %1").arg(replies)).startsWith(QLatin1String("OK")))
        return std::puts("burst refused"), 1;
    while (m.SampleCount() < replies && t.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 ns = t.nsecsElapsed();
    probe.stop();

    // Burst replies carry 1, 2, 3, ... as their value.
    qint64 lost = 0;
    const ChartChannel &samples = m.chart()->data().channel(0);
    for (qsizetype i = 0; i < samples.count(); ++i)
        if (samples.y(i) != double(i + 1))
            ++lost;
    std::printf("replies %lld in %.3f s: %.0f replies/s; charted %lld, out of sequence %lld\n",
                static_cast<long long>(replies), ns / 1e9, replies / (ns / 1e9),
                static_cast<long long>(samples.count()), static_cast<long long>(lost));
    std::printf("event loop: worst gap between 5 ms ticks %.1f ms over %lld ticks; chart repaints %llu\n",
                worstGapUs / 1000.0, static_cast<long long>(ticks),
                static_cast<unsigned long long>(m.chart()->seriesUpdateCount() - repaintsBefore));
    std::printf("value display: %s\n", qPrintable(m.ValueText()));
    return lost == 0 && samples.count() == replies ? 0 : 2;
}
