// Automatic sending through the main window's receive path (serial port,
// assembler, device link, value display, chart store) under a long stream:
// the simulator's burst sends the values 1, 2, 3, ...; every one must be
// charted in order, the display must show the last, and memory must grow by
// the stored points and nothing else.

#include "MainFixture.h"
#include "chart/ChartWidget.h"
#include "ui_MainUnit.h"

#include <QTest>

#include <malloc.h>

namespace
{

// Crosses the chart store's block boundaries more than once.
constexpr qint64 BurstReplies = 2 * ChartChannel::BlockSize + 1000;
constexpr int BurstTimeoutMs = 120000;
// Heap allowed to come and go besides the store (serial read buffers): a leak
// of even one small allocation per reply is far above it.
constexpr long long HeapSlack = 64 * 1024;

/// Heap in use: small chunks of every arena plus the mmapped large ones.
/// (Zero under AddressSanitizer, whose allocator glibc does not see.)
long long HeapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return (long long)(mi.uordblks + mi.hblkhd);
}

/// Puts the module into automatic sending the operator's way, then stops its
/// own pace so that only bursts come in.
bool StartAutoSending(MainFixture &f)
{
    if (!f.connect() || !f.sim().ok(QStringLiteral("log off")))
        return false;
    f.main().current().Decimal = 0;
    f.prompts.answerYes = true;
    f.main().btnReportClick();
    QTest::qWait(50);
    if (!f.sim().ok(QStringLiteral("autosend off")))
        return false;
    QTest::qWait(50);
    f.main().btnClearClick();
    return true;
}

/// Asks for a burst of `n` and waits until the window has charted them all
/// and the simulator has written the last one.
bool Burst(MainFixture &f, qint64 n)
{
    const qint64 target = f.main().SampleCount() + n;
    if (!f.sim().ok(QStringLiteral("burst %1").arg(n)))
        return false;
    const bool charted = f.sim().waitUntil([&] { return f.main().SampleCount() >= target; }, BurstTimeoutMs);
    const bool written = !f.sim().waitForLine(QStringLiteral("BURST DONE")).isEmpty();
    QTest::qWait(50); // nothing more may come
    return charted && written && f.main().SampleCount() == target;
}

} // namespace

class TestIngest : public QObject
{
    Q_OBJECT
private slots:
    void everyReplyChartedInOrder()
    {
        MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
        QVERIFY(StartAutoSending(f));
        TfrmMain &m = f.main();
        const quint64 handledBefore = m.link().replyCount();

        QVERIFY(Burst(f, BurstReplies));
        QCOMPARE(qint64(m.link().replyCount() - handledBefore), BurstReplies);
        const ChartChannel &samples = m.chart()->data().channel(ChartWidget::SampleChannel);
        QCOMPARE(qint64(samples.count()), BurstReplies);
        qint64 misplaced = 0;
        for (qsizetype i = 0; i < samples.count(); ++i)
            if (samples.x(i) != double(i + 1) || samples.y(i) != double(i + 1))
                ++misplaced;
        QCOMPARE(misplaced, 0);
        QCOMPARE(m.ValueText(), QString::number(BurstReplies) + m.current().MeasureUnit);

        // After clearing, the sample count starts again at 1 (a new burst
        // numbers its values from 1 too).
        m.btnClearClick();
        QVERIFY(Burst(f, 1000));
        QCOMPARE(samples.count(), qsizetype(1000));
        QCOMPARE(samples.x(0), 1.0);
        QCOMPARE(samples.x(999), 1000.0);
        QCOMPARE(samples.y(999), 1000.0);
        QCOMPARE(m.ValueText(), QStringLiteral("1000") + m.current().MeasureUnit);
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void streamedRepliesComeWithTheChartsFrames()
    {
        // While values stream in, the port keeps them until the chart is
        // about to draw: they come with its next frame, not when the link's
        // own batch time (here far away) is up; the display follows.
        MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
        QVERIFY(StartAutoSending(f));
        TfrmMain &m = f.main();
        m.link().setStreamBatchInterval(600000);
        QVERIFY(f.sim().ok(QStringLiteral("autorate 500")) && f.sim().ok(QStringLiteral("autosend on")));
        QVERIFY(f.sim().waitUntil([&] { return m.SampleCount() >= 100; }, 3000));
        QVERIFY(f.sim().ok(QStringLiteral("autosend off")));
        QTest::qWait(100);
        const ChartChannel &samples = m.chart()->data().channel(ChartWidget::SampleChannel);
        QCOMPARE(samples.count(), qsizetype(m.SampleCount()));
        QTRY_COMPARE(m.ui()->sttValue->text(), m.ValueText());
    }

    void memoryGrowsByTheStoredPointsOnly()
    {
        MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
        QVERIFY(StartAutoSending(f));
        TfrmMain &m = f.main();
        const ChartChannel &samples = m.chart()->data().channel(ChartWidget::SampleChannel);
        // Painting takes and gives back megabytes of raster buffers at its own
        // times; with the window hidden only the receive path and the store
        // are measured.
        m.hide();

        // A first round brings every buffer and cache on the way to its size.
        QVERIFY(Burst(f, BurstReplies));
        m.btnClearClick();
        QTest::qWait(100);
        const long long heapEmpty = HeapInUse();
        const long long storeEmpty = (long long)samples.memoryBytes();

        QVERIFY(Burst(f, BurstReplies));
        const long long heapFull = HeapInUse();
        const long long storeFull = (long long)samples.memoryBytes();
        QVERIFY(storeFull - storeEmpty >= BurstReplies * (long long)sizeof(double)); // Y at least
        const long long otherGrowth = (heapFull - heapEmpty) - (storeFull - storeEmpty);
        QVERIFY2(otherGrowth < HeapSlack,
                 qPrintable(QStringLiteral("%1 bytes besides the store").arg(otherGrowth)));

        // Clearing gives back all of it.
        m.btnClearClick();
        QTest::qWait(100);
        const long long leftOver = HeapInUse() - heapEmpty;
        QVERIFY2(leftOver < HeapSlack,
                 qPrintable(QStringLiteral("%1 bytes kept after clearing").arg(leftOver)));
    }
};

QTEST_MAIN(TestIngest)
#include "tst_ingest.moc"
