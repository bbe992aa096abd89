// The module session on its own, against the simulator over a
// pseudo-terminal: no window, no widget library.
#include "TxSim.h"
#include "device/ModuleSession.h"

#include <QSignalSpy>
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
        QCOMPARE(values.constLast().at(0).toDouble(), measured / 10.0);
        QCOMPARE(session.ValueText(), QLocale().toString(measured / 10.0, 'f', 1) + QStringLiteral("kg"));
        for (const QByteArray &frame : sim.receivedFrames())
            QCOMPARE(frame, DeviceLink::toBytes(BuildQueryFrame(SimAddress, CmdReadValue)));

        // A broadcast request is answered from the module's own address.
        session.SetCurrentAddress(1);
        addresses.clear();
        QVERIFY(session.link().Exchange(BuildQueryFrame(BroadcastAddress, CmdDN)));
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
        QCOMPARE(session.ValueText(), QStringLiteral("读取超时！"));

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
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
