// The bus scan on its own, against the simulator over a pseudo-terminal: no
// window, no widget library.
#include "LineWait.h"
#include "TxSim.h"
#include "device/BusScanner.h"
#include "device/ModuleSession.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

namespace
{
constexpr int SessionTimeoutMs = 300;
constexpr int ScanEndMs = 30000;
constexpr DeviceAddress Addressed = 1; // the session's current address throughout

struct Conflict {
    int asked = 0;
    int answered = 0;
    bool late = false;
};

/// What one scan reported, in order.
struct ScanRecord {
    QList<int> asked;
    QList<BusScanFinding> found;
    QList<Conflict> conflicts;
    bool ended = false;
    BusScanner::Ending ending = static_cast<BusScanner::Ending>(-1); // none yet
};

/// Runs a scan of `from`..`to` to its end; `onAsking` runs (from the event
/// loop) each time an address is asked.
ScanRecord Scan(BusScanner &scanner, int from, int to, const std::function<void(int address)> &onAsking = {})
{
    ScanRecord record;
    QObject guard;
    QObject::connect(&scanner, &BusScanner::asking, &guard, [&](DeviceAddress address) {
        record.asked << address;
        if (onAsking)
            QTimer::singleShot(0, &guard, [&onAsking, address] { onAsking(address); });
    });
    QObject::connect(&scanner, &BusScanner::found, &guard,
                     [&](const BusScanFinding &finding) { record.found << finding; });
    QObject::connect(&scanner, &BusScanner::conflict, &guard,
                     [&](DeviceAddress asked, DeviceAddress answered, bool late) {
                         record.conflicts << Conflict{asked, answered, late};
                     });
    QObject::connect(&scanner, &BusScanner::finished, &guard, [&](BusScanner::Ending ending) {
        record.ended = true;
        record.ending = ending;
    });
    if (scanner.start(DeviceAddress(from), DeviceAddress(to)) != BusScanner::Refusal::None)
        return record;
    (void)QTest::qWaitFor([&] { return record.ended; }, ScanEndMs);
    return record;
}

QByteArray Query(int address, CommandCode command)
{
    return DeviceLink::toBytes(BuildQueryFrame(DeviceAddress(address), command));
}

/// The frames a scan of `from`..`to` puts on the line when the modules at
/// `answering` answer: the address question for each, and a value read
/// after each answer.
QList<QByteArray> ScanFrames(int from, int to, const QList<int> &answering)
{
    QList<QByteArray> frames;
    for (int a = from; a <= to; ++a) {
        frames << Query(a, CmdDN);
        if (answering.contains(a))
            frames << Query(a, CmdReadValue);
    }
    return frames;
}

qint32 MeasuredValue(TxSim &sim, int address)
{
    sim.ok(QStringLiteral("module %1").arg(address));
    return sim.command(QStringLiteral("get 1")).section(u' ', 1).toInt();
}
} // namespace

class TestBusScanner : public QObject
{
    Q_OBJECT
private slots:
    void findsEachModuleWithItsValueAndLeavesTheSessionAlone()
    {
        TxSim sim;
        QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("3"), QStringLiteral("--address"),
                           QStringLiteral("17"), QStringLiteral("--address"), QStringLiteral("200")}));
        QVERIFY(sim.ok(QStringLiteral("module 3")) && sim.ok(QStringLiteral("load 12345")));
        QVERIFY(sim.ok(QStringLiteral("module 200")) && sim.ok(QStringLiteral("load -678")));
        QVERIFY(sim.ok(QStringLiteral("module 17")) && sim.ok(QStringLiteral("fault silent on")));
        const qint32 value3 = MeasuredValue(sim, 3);
        const qint32 value200 = MeasuredValue(sim, 200);

        ModuleSession session(SessionTimeoutMs);
        session.OpenPort(sim.portName());
        session.SetCurrentAddress(Addressed);
        session.reply().ReplyCommand = CmdZerO;
        session.reply().ReplyValue = 777;
        QSignalSpy addressChanges(&session, &ModuleSession::currentAddressChanged);
        QSignalSpy values(&session, &ModuleSession::valueRead);
        BusScanner scanner(session);
        QCOMPARE(scanner.timeoutMs(), 100);

        // The module at 3 answers with its value; the silent one at 17 is not there.
        sim.clearLog();
        ScanRecord low = Scan(scanner, 1, 18);
        QCOMPARE(low.ending, BusScanner::Ending::Completed);
        QCOMPARE(low.asked.size(), 18);
        QCOMPARE(low.asked.constFirst(), 1);
        QCOMPARE(low.found.size(), 1);
        QCOMPARE(low.found[0].address, DeviceAddress(3));
        QVERIFY(low.found[0].hasValue);
        QCOMPARE(low.found[0].value, value3);
        QVERIFY(low.found[0].answerMs >= 0 && low.found[0].answerMs < scanner.timeoutMs());
        QVERIFY(low.conflicts.isEmpty());
        // Queries only, one address after the other, the value read right after the answer.
        QCOMPARE(sim.receivedFrames(), ScanFrames(1, 18, {3}));

        // Up to the last address, without wrapping round to the broadcast address.
        scanner.setTimeoutMs(50);
        sim.clearLog();
        ScanRecord high = Scan(scanner, 195, 255);
        QCOMPARE(high.ending, BusScanner::Ending::Completed);
        QCOMPARE(high.asked.constLast(), 255);
        QCOMPARE(high.found.size(), 1);
        QCOMPARE(high.found[0].address, DeviceAddress(200));
        QCOMPARE(high.found[0].value, value200);
        QVERIFY(high.conflicts.isEmpty());
        QCOMPARE(sim.receivedFrames(), ScanFrames(195, 255, {200}));

        // The session went on as before: same current address, no value shown,
        // its own time-out never started, the reply state as it was.
        QCOMPARE(session.CurrentAddress(), Addressed);
        QCOMPARE(addressChanges.size(), 0);
        QCOMPARE(values.size(), 0);
        QCOMPARE(session.reply().ReplyCommand, CmdZerO);
        QCOMPARE(session.reply().ReplyValue, 777);
        QVERIFY(session.FollowsReplies());

        // Afterwards a reply moves the current address again.
        QVERIFY(ExchangeNow(session.link(), BuildQueryFrame(BroadcastAddress, CmdDN)));
        QCOMPARE_NE(session.CurrentAddress(), Addressed);

        // The time-out stays within its limits.
        scanner.setTimeoutMs(5);
        QCOMPARE(scanner.timeoutMs(), BusScanner::MinTimeoutMs);
        scanner.setTimeoutMs(100000);
        QCOMPARE(scanner.timeoutMs(), BusScanner::MaxTimeoutMs);

        // Values read as the value display shows them.
        QCOMPARE(BusScanner::FormatValue(12345, 1, QStringLiteral("kg")), QStringLiteral("1234.5kg"));
        QCOMPARE(BusScanner::FormatValue(-5, 2, QStringLiteral("N")), QStringLiteral("-0.05N"));
        QCOMPARE(BusScanner::FormatValue(42, 0, QStringLiteral("kg")), QStringLiteral("42kg"));
    }

    void lateAnswersAndConflictsAreNotTakenForModules()
    {
        TxSim sim;
        QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--address"),
                           QStringLiteral("30"), QStringLiteral("--address"), QStringLiteral("30")}));
        ModuleSession session(SessionTimeoutMs);
        session.OpenPort(sim.portName());
        BusScanner scanner(session);
        scanner.setListenMs(0);

        // The module at 5 answers after its time-out, while a later address is
        // asked: its reply carries address 5, so it is that module's late answer.
        QVERIFY(sim.ok(QStringLiteral("module 5")) && sim.ok(QStringLiteral("fault late 150")));
        scanner.setTimeoutMs(100);
        ScanRecord late = Scan(scanner, 4, 9);
        QCOMPARE(late.ending, BusScanner::Ending::Completed);
        QVERIFY(late.found.isEmpty());
        QCOMPARE(late.conflicts.size(), 1);
        QVERIFY(late.conflicts[0].asked > 5);
        QCOMPARE(late.conflicts[0].answered, 5);
        QVERIFY(late.conflicts[0].late);
        QVERIFY(sim.ok(QStringLiteral("fault clear")));

        // A reply from an address never asked, while 11 is asked.
        scanner.setTimeoutMs(300);
        const QString replyFrom99 = QStringLiteral("raw 3D 63 02 00 00 00 63 3F 23");
        ScanRecord stray = Scan(scanner, 10, 12, [&](int address) {
            if (address == 11)
                sim.ok(replyFrom99);
        });
        QCOMPARE(stray.ending, BusScanner::Ending::Completed);
        QVERIFY(stray.found.isEmpty());
        QCOMPARE(stray.conflicts.size(), 1);
        QCOMPARE(stray.conflicts[0].asked, 11);
        QCOMPARE(stray.conflicts[0].answered, 99);
        QVERIFY(!stray.conflicts[0].late);

        // Two modules share address 30: the module is found once, the second answer is a conflict.
        ScanRecord shared = Scan(scanner, 30, 30);
        QCOMPARE(shared.ending, BusScanner::Ending::Completed);
        QCOMPARE(shared.found.size(), 1);
        QCOMPARE(shared.found[0].address, DeviceAddress(30));
        QVERIFY(!shared.conflicts.isEmpty());
        QCOMPARE(shared.conflicts[0].asked, 30);
        QCOMPARE(shared.conflicts[0].answered, 30);
    }

    void stopEndsWithTheQuestionInProgress()
    {
        TxSim sim;
        QVERIFY(sim.start()); // one module, at address 1
        ModuleSession session(SessionTimeoutMs);
        session.OpenPort(sim.portName());
        BusScanner scanner(session);
        scanner.setListenMs(0);
        scanner.setTimeoutMs(300);

        // On an empty stretch: the address being asked is the last one.
        sim.clearLog();
        ScanRecord empty = Scan(scanner, 2, 255, [&](int address) {
            if (address == 4)
                scanner.stop();
        });
        QCOMPARE(empty.ending, BusScanner::Ending::Stopped);
        QCOMPARE(empty.asked, (QList<int>{2, 3, 4}));
        QCOMPARE(sim.receivedFrames(), ScanFrames(2, 4, {}));

        // A module that answers after the stop is found, its value is not read.
        QVERIFY(sim.ok(QStringLiteral("fault late 100")));
        sim.clearLog();
        ScanRecord answered = Scan(scanner, 1, 255, [&](int) { scanner.stop(); });
        QCOMPARE(answered.ending, BusScanner::Ending::Stopped);
        QCOMPARE(answered.found.size(), 1);
        QCOMPARE(answered.found[0].address, DeviceAddress(1));
        QVERIFY(!answered.found[0].hasValue);
        QCOMPARE(sim.receivedFrames(), (QList<QByteArray>{Query(1, CmdDN)}));
        QVERIFY(!scanner.isRunning());
        QVERIFY(session.FollowsReplies());
    }

    void refusesWhenTheLineIsNotFree()
    {
        TxSim sim;
        QVERIFY(sim.start());
        ModuleSession session(SessionTimeoutMs);
        BusScanner scanner(session);
        scanner.setTimeoutMs(300);

        QCOMPARE(scanner.start(1, 255), BusScanner::Refusal::PortClosed);
        session.OpenPort(sim.portName());
        QCOMPARE(scanner.start(10, 5), BusScanner::Refusal::EmptyRange);

        session.StartReading();
        QCOMPARE(scanner.start(1, 255), BusScanner::Refusal::Reading);
        session.StopReading();

        // Another window's request waits for its reply.
        session.link().Request(LineRequest::For(BuildQueryFrame(99, CmdReadValue)).withTimeout(50), nullptr, {});
        QCOMPARE(scanner.start(1, 255), BusScanner::Refusal::LineBusy);
        QTRY_VERIFY(!session.link().LineBusy());

        QCOMPARE(scanner.start(2, 255), BusScanner::Refusal::None);
        QCOMPARE(scanner.start(2, 255), BusScanner::Refusal::Running);
        QSignalSpy finished(&scanner, &BusScanner::finished);
        scanner.stop();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!scanner.isRunning());
        QVERIFY(session.FollowsReplies());

        // Modules in automatic sending: replies come unasked while the line is
        // listened to, and not one question goes out.
        QVERIFY(sim.ok(QStringLiteral("autorate 50")) && sim.ok(QStringLiteral("autosend on")));
        QVERIFY(sim.waitForSentFrames(1));
        sim.clearLog();
        ScanRecord autoSending = Scan(scanner, 1, 255);
        QCOMPARE(autoSending.ending, BusScanner::Ending::AutoSending);
        QVERIFY(autoSending.asked.isEmpty());
        QVERIFY(sim.receivedFrames().isEmpty());
        QVERIFY(sim.ok(QStringLiteral("powercycle")));

        // The scan holds the line: live reading and other requests are
        // refused while it runs, and it goes on to its end.
        scanner.setListenMs(0);
        bool readingRefused = false;
        std::optional<LineOutcome> refused;
        ScanRecord reading = Scan(scanner, 2, 4, [&](int address) {
            if (address != 3)
                return;
            readingRefused = !session.StartReading();
            session.link().Request(LineRequest::For(BuildQueryFrame(3, CmdZerO)), &session,
                                   [&](const LineOutcome &o) { refused = o; });
        });
        QVERIFY(readingRefused);
        QVERIFY(!session.IsReading());
        QTRY_VERIFY(refused.has_value());
        QCOMPARE(refused->status, LineOutcome::Status::Refused);
        QCOMPARE(reading.ending, BusScanner::Ending::Completed);
        QCOMPARE(reading.asked, (QList<int>{2, 3, 4}));

        // The port closed during a scan ends it too.
        ScanRecord closed = Scan(scanner, 2, 255, [&](int address) {
            if (address == 3)
                session.ClosePort();
        });
        QCOMPARE(closed.ending, BusScanner::Ending::PortFailed);
        QCOMPARE(closed.asked.constLast(), 3);
        QVERIFY(session.FollowsReplies());
    }
};

QTEST_GUILESS_MAIN(TestBusScanner)
#include "tst_busscanner.moc"
