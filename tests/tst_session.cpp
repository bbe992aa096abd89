// The module session on its own, against the simulator over a
// pseudo-terminal: no window, no widget library.
#include "LineWait.h"
#include "TxSim.h"
#include "device/ModuleSession.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

namespace
{
constexpr int ReplyTimeoutMs = 300;
constexpr DeviceAddress SimAddress = 7;
} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void pollsShowsAndFollowsTheReplyingModule()
    {
        TxSim sim;
        QVERIFY(sim.start({QStringLiteral("--address"), QString::number(SimAddress), QStringLiteral("--load"),
                           QStringLiteral("2468")}));
        const qint32 measured = sim.command(QStringLiteral("get 1")).section(u' ', 1).toInt();
        ModuleSession session(ReplyTimeoutMs);
        session.current().Decimal = 1;
        session.current().MeasureUnit = QStringLiteral("kg");
        QSignalSpy values(&session, &ModuleSession::valueRead);
        QSignalSpy addresses(&session, &ModuleSession::currentAddressChanged);
        session.OpenPort(sim.portName());
        QVERIFY(session.IsPortOpen());

        // Polls go to the current address, always within 0..255.
        session.SetCurrentAddress(300); // brought into the range
        QCOMPARE(session.CurrentAddress(), DeviceAddress(255));
        session.SetCurrentAddress(SimAddress);
        session.SetReadInterval(20);
        session.StartReading();
        QTRY_VERIFY(values.size() >= 3);
        session.StopReading();
        QVERIFY(!session.IsReading());
        QVERIFY(!session.PollPending());
        // The raw value and its display value; the text is the window's.
        QCOMPARE(values.constLast().at(0).toInt(), measured);
        QCOMPARE(values.constLast().at(1).toDouble(), measured / 10.0);
        for (const QByteArray &frame : sim.receivedFrames())
            QCOMPARE(frame, DeviceLink::toBytes(BuildQueryFrame(SimAddress, CmdReadValue)));

        // A broadcast request is answered from the module's own address.
        session.SetCurrentAddress(1);
        addresses.clear();
        QVERIFY(ExchangeNow(session.link(), BuildQueryFrame(BroadcastAddress, CmdDN)));
        QCOMPARE(session.CurrentAddress(), SimAddress);
        QCOMPARE(addresses.size(), 1);
    }

    void timeOutAndLossEndReading()
    {
        TxSim sim;
        QVERIFY(sim.start());
        ModuleSession session(ReplyTimeoutMs);
        QSignalSpy timedOut(&session, &ModuleSession::readingTimedOut);
        QSignalSpy lost(&session, &ModuleSession::portLost);
        session.OpenPort(sim.portName());
        QVERIFY(sim.ok(QStringLiteral("fault silent on")));
        session.StartReading();
        QTRY_COMPARE(timedOut.size(), 1);
        QVERIFY(!session.IsReading());

        QVERIFY(sim.ok(QStringLiteral("fault silent off")));
        session.StartReading();
        QTest::qWait(50);
        sim.kill();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!session.IsPortOpen());
        QVERIFY(!session.IsReading());
        QTest::qWait(100);
        QCOMPARE(lost.size(), 1);
    }

    // Automatic sending at 1,000 replies a second is read in batches (far
    // fewer reads than replies), every reply handled once and in order; a
    // reply awaited meanwhile is read at once, not held for the batch.
    void streamReadInBatchesLosingNothing()
    {
        TxSim sim;
        QVERIFY(sim.start({QStringLiteral("--address"), QString::number(SimAddress)}));
        ModuleSession session(ReplyTimeoutMs);
        session.OpenPort(sim.portName());
        QVERIFY(session.IsPortOpen());
        int pieces = 0;
        connect(&session.link(), &DeviceLink::bytesRead, this, [&] { ++pieces; });
        QList<qint32> values;
        connect(&session.link(), &DeviceLink::replyHandled, this, [&](const Reply &r) { values << r.value; });
        QVERIFY(sim.ok(QStringLiteral("noise 500")));
        QVERIFY(sim.ok(QStringLiteral("autorate 1000")));
        QVERIFY(sim.ok(QStringLiteral("autosend on")));
        // A real event loop: QTest::qWait sleeps between its rounds and so
        // would batch the reads by itself.
        const auto runFor = [](int ms) {
            QEventLoop loop;
            QTimer::singleShot(ms, &loop, &QEventLoop::quit);
            loop.exec();
        };
        runFor(400);
        // An exchange in the middle of the stream: answered well inside a
        // time-out shorter than the batch would be held (any reply ends it).
        session.link().setStreamBatchInterval(ReplyTimeoutMs * 4);
        QVERIFY(ExchangeNow(session.link(), BuildQueryFrame(SimAddress, CmdReadValue)));
        session.link().setStreamBatchInterval(DeviceLink::DefaultStreamBatchMs);
        runFor(200);
        QVERIFY(sim.ok(QStringLiteral("autosend off")));
        const QList<QByteArray> sent = sim.sentFrames();
        QTRY_COMPARE(values.size(), sent.size());
        for (qsizetype i = 0; i < sent.size(); ++i)
            QCOMPARE(values[i], DecodeReply(reinterpret_cast<const std::uint8_t *>(sent[i].constData()) + 1).value);
        QVERIFY2(pieces * 3 < values.size(), qPrintable(QStringLiteral("%1 reads for %2 replies").arg(pieces).arg(values.size())));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
