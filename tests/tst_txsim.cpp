// The module simulator as the program sees it: a serial port that answers the
// whole command table, broadcasts, automatic sending and the fault switches.

#include "TxSim.h"
#include "device/Protocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

constexpr int ReplyTimeoutMs = 2000;
constexpr int SilenceMs = 150; ///< how long "no reply" is watched for
constexpr std::int32_t DefaultFullScale = 1000000;
constexpr std::int32_t DefaultScale = 10000;

QByteArray Query(DeviceAddress address, CommandCode command)
{
    const QueryFrame f = BuildQueryFrame(address, command);
    return QByteArray(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
}

QByteArray Data(DeviceAddress address, CommandCode command, std::int32_t value)
{
    const DataFrame f = BuildDataFrame(address, command, value);
    return QByteArray(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
}

const std::uint8_t *Bytes(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

/// A reply frame taken apart, with its framing checked.
struct Answer {
    bool wellFormed = false;
    int address = -1;
    int command = -1;
    std::int32_t value = 0;
};

Answer Decode(const QByteArray &frame)
{
    Answer a;
    if (frame.size() != qsizetype(ReplyFrameSize) || std::uint8_t(frame[0]) != DataStart)
        return a;
    const Reply r = DecodeReply(Bytes(frame) + 1);
    a.address = r.address;
    a.command = r.command;
    a.value = r.value;
    a.wellFormed = std::uint8_t(frame[7]) == XorCheck(Bytes(frame), 7) && std::uint8_t(frame[8]) == FrameEnd;
    return a;
}

/// The program's side of the line: a QSerialPort set up as the program sets it up.
class Line
{
public:
    bool open(const QString &name)
    {
        m_port.setPortName(name);
        m_port.setBaudRate(9600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!m_port.open(QIODevice::ReadWrite))
            return false;
        // Modem lines do not exist on a pseudo-terminal; that is no failure to open.
        m_port.setDataTerminalReady(true);
        m_port.setRequestToSend(true);
        m_port.clearError();
        return true;
    }
    void close() { m_port.close(); }
    QSerialPort &port() { return m_port; }

    void send(const QByteArray &bytes)
    {
        m_port.write(bytes);
        m_port.waitForBytesWritten(ReplyTimeoutMs);
    }
    /// Reads until `count` bytes have come or the time is up.
    QByteArray read(qsizetype count, int timeoutMs = ReplyTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (m_pending.size() < count && !deadline.hasExpired()) {
            if (m_port.bytesAvailable() == 0)
                m_port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            m_pending += m_port.readAll();
        }
        const QByteArray out = m_pending.left(count);
        m_pending.remove(0, out.size());
        return out;
    }
    /// Everything that arrives within `ms`.
    QByteArray readFor(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            m_port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            m_pending += m_port.readAll();
        }
        const QByteArray out = m_pending;
        m_pending.clear();
        return out;
    }
    Answer exchange(const QByteArray &request)
    {
        send(request);
        return Decode(read(ReplyFrameSize));
    }

private:
    QSerialPort m_port;
    QByteArray m_pending;
};

} // namespace

class TestTxSim : public QObject
{
    Q_OBJECT

    std::unique_ptr<TxSim> m_sim;
    std::unique_ptr<Line> m_line;

    bool restart(const QStringList &args)
    {
        m_line.reset();
        m_sim = std::make_unique<TxSim>();
        if (!m_sim->start(args))
            return false;
        m_line = std::make_unique<Line>();
        return m_line->open(m_sim->portName());
    }
    std::int32_t get(int code)
    {
        const QString answer = m_sim->command(QStringLiteral("get %1").arg(code));
        return answer.mid(3).toInt();
    }

private slots:
    void init() { QVERIFY(restart({})); }
    void cleanup()
    {
        m_line.reset();
        m_sim.reset();
    }

    void portOpensAndReopens()
    {
        QCOMPARE(m_line->port().error(), QSerialPort::NoError);
        QVERIFY(m_line->exchange(Query(1, CmdReadValue)).wellFormed);
        // A client that goes and comes back finds the module as it was.
        m_line->close();
        QVERIFY(m_line->open(m_sim->portName()));
        const Answer a = m_line->exchange(Query(1, CmdDN));
        QVERIFY(a.wellFormed);
        QCOMPARE(a.value, 1);
    }

    void everyQueryIsAnswered()
    {
        QVERIFY(m_sim->ok("load 4321"));
        QHash<int, std::int32_t> expected{{CmdReadAdCode, 4321},
                                          {CmdReadValue, 4321},
                                          {CmdDN, 1},
                                          {CmdZerO, 0},
                                          {CmdPointCount, 2},
                                          {CmdAVP(1), 0},
                                          {CmdAVP(2), DefaultFullScale},
                                          {CmdPVP(1), 0},
                                          {CmdPVP(2), DefaultFullScale},
                                          {CmdStore, 0},
                                          {CmdAM1, DefaultScale},
                                          {CmdAH2, DefaultScale}};
        for (int code = 0; code <= CmdLast; ++code) {
            if (code == CmdAutoSend)
                continue;
            const Answer a = m_line->exchange(Query(1, CommandCode(code)));
            QVERIFY2(a.wellFormed, qPrintable(QString::number(code)));
            QCOMPARE(a.address, 1);
            QCOMPARE(a.command, code);
            if (expected.contains(code))
                QCOMPARE(a.value, expected[code]);
            if (IsParameter(code))
                QCOMPARE(a.value, get(code));
        }
        QVERIFY(m_sim->waitForReceivedFrames(CmdLast));
        QCOMPARE(m_sim->receivedFrames().first(), Query(1, CmdReadAdCode));
    }

    void everyDataFrameIsAcknowledgedAndStored()
    {
        QVERIFY(m_sim->ok("load 777"));
        for (int code = 0; code <= CmdLast; ++code) {
            if (code == CmdAutoSend || code == CmdDN)
                continue; // automatic sending and the address have their own cases
            const std::int32_t written = (code % 2 ? -1 : 1) * (100000 + code);
            const Answer a = m_line->exchange(Data(1, CommandCode(code), written));
            QVERIFY2(a.wellFormed, qPrintable(QString::number(code)));
            QCOMPARE(a.address, 1);
            QCOMPARE(a.command, code);
            if (code == CmdReadAdCode)
                QCOMPARE(a.value, 777); // read-only: answered with the reading
            else if (code == CmdStore)
                QCOMPARE(a.value, 0);
            else if (IsParameter(code))
                QCOMPARE(a.value, written);
        }
        for (int code = CmdZerO; code <= CmdLast; ++code) {
            if (!IsParameter(code))
                continue;
            const std::int32_t written = (code % 2 ? -1 : 1) * (100000 + code);
            QCOMPARE(m_line->exchange(Query(1, CommandCode(code))).value, written);
            QCOMPARE(get(code), written);
        }
        // Values with start and end bytes inside arrive whole.
        QCOMPARE(m_line->exchange(Data(1, CmdZerO, 0x3F233D23)).value, 0x3F233D23);
    }

    void noReplyToAutoSendOrUnknownCodes()
    {
        QVERIFY(m_sim->ok("autorate 0")); // switched on, but no values yet
        for (int code : {int(CmdAutoSend), CmdLast + 1, 100, 255})
            m_line->send(Query(1, CommandCode(code)));
        m_line->send(Data(1, CmdLast + 1, 5));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());
        QVERIFY(m_sim->waitForReceivedFrames(5));
        QCOMPARE(m_sim->sentFrames().size(), 0);
    }

    void broadcastReadsAndSetsTheAddress()
    {
        Answer a = m_line->exchange(Query(BroadcastAddress, CmdDN));
        QCOMPARE(a.address, 1);
        QCOMPARE(a.command, int(CmdDN));
        QCOMPARE(a.value, 1);

        a = m_line->exchange(Data(BroadcastAddress, CmdDN, 5));
        QVERIFY(a.wellFormed);
        QCOMPARE(a.address, 5); // answered from the new address
        QCOMPARE(a.value, 5);
        m_line->send(Query(1, CmdReadValue));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());
        QCOMPARE(m_line->exchange(Query(5, CmdDN)).value, 5);

        // Writing DN to the module's own address moves it too (low byte only).
        a = m_line->exchange(Data(5, CmdDN, 0x107));
        QCOMPARE(a.address, 7);
        QCOMPARE(a.value, 0x107);
        QCOMPARE(get(CmdDN), 7);

        a = m_line->exchange(Query(7, CmdStore));
        QCOMPARE(a.address, 7);
        QCOMPARE(a.command, int(CmdStore));
        QCOMPARE(a.value, 0);
        QCOMPARE(m_sim->waitForLine("STORED"), QStringLiteral("STORED 7"));
    }

    void severalModulesAnswerABroadcastInAddressOrder()
    {
        QVERIFY(restart({"--address", "7", "--address", "2", "--address", "4"}));
        m_line->send(Query(BroadcastAddress, CmdDN));
        const QByteArray replies = m_line->read(3 * ReplyFrameSize);
        QCOMPARE(replies.size(), qsizetype(3 * ReplyFrameSize));
        QList<int> order;
        for (int i = 0; i < 3; ++i) {
            const Answer a = Decode(replies.mid(i * ReplyFrameSize, ReplyFrameSize));
            QVERIFY(a.wellFormed);
            QCOMPARE(a.value, a.address);
            order << a.address;
        }
        QCOMPARE(order, (QList<int>{2, 4, 7}));

        QCOMPARE(m_line->exchange(Query(4, CmdReadValue)).address, 4);
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray()); // nobody else answered
        m_line->send(Query(9, CmdReadValue));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());

        QVERIFY(m_sim->ok("module 4"));
        QVERIFY(m_sim->ok("load 250"));
        QCOMPARE(m_line->exchange(Query(4, CmdReadAdCode)).value, 250);
        QCOMPARE(m_line->exchange(Query(2, CmdReadAdCode)).value, 0);

        m_line->send(Data(BroadcastAddress, CmdDN, 9));
        const QByteArray moved = m_line->read(3 * ReplyFrameSize);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Decode(moved.mid(i * ReplyFrameSize, ReplyFrameSize)).address, 9);
        QCOMPARE(m_sim->command("modules"), QStringLiteral("OK 9 9 9"));
    }

    void measuredValueFollowsTheCalibrationTable_data()
    {
        QTest::addColumn<int>("load");
        QTest::addColumn<int>("zero");
        QTest::addColumn<int>("value");
        // Points (0,0) (1000,500) (3000,4500).
        QTest::newRow("first segment") << 500 << 0 << 250;
        QTest::newRow("on a point") << 1000 << 0 << 500;
        QTest::newRow("second segment") << 2000 << 0 << 2500;
        QTest::newRow("above the table") << 4000 << 0 << 6500;
        QTest::newRow("below the table") << -1000 << 0 << -500;
        QTest::newRow("zero value subtracted") << 2000 << 100 << 2400;
        QTest::newRow("truncated toward zero") << 1 << 0 << 0;
        QTest::newRow("negative truncated toward zero") << -3 << 0 << -1;
    }
    void measuredValueFollowsTheCalibrationTable()
    {
        QFETCH(int, load);
        QFETCH(int, zero);
        QFETCH(int, value);
        for (const auto &[code, v] : QList<QPair<int, int>>{{CmdPointCount, 3},
                                                            {CmdAVP(2), 1000},
                                                            {CmdAVP(3), 3000},
                                                            {CmdPVP(2), 500},
                                                            {CmdPVP(3), 4500},
                                                            {CmdZerO, zero}})
            QCOMPARE(m_line->exchange(Data(1, CommandCode(code), v)).value, v);
        QVERIFY(m_sim->ok(QStringLiteral("load %1").arg(load)));
        const Answer a = m_line->exchange(Query(1, CmdReadValue));
        QCOMPARE(a.command, int(CmdReadValue));
        QCOMPARE(a.value, value);
        QCOMPARE(get(CmdReadValue), value);
    }

    void zeroCalibrationBringsTheValueToZero()
    {
        QVERIFY(m_sim->ok("load 1250"));
        const std::int32_t zero = m_line->exchange(Query(1, CmdZerO)).value;
        const std::int32_t measured = m_line->exchange(Query(1, CmdReadValue)).value;
        QVERIFY(m_line->exchange(Data(1, CmdZerO, zero + measured)).wellFormed);
        QCOMPARE(m_line->exchange(Query(1, CmdReadValue)).value, 0);
    }

    void noiseStaysWithinItsAmplitudeAndFollowsTheSeed()
    {
        QList<std::int32_t> first;
        for (int run = 0; run < 2; ++run) {
            QVERIFY(restart({"--seed", "42", "--load", "1000", "--noise", "5"}));
            QList<std::int32_t> codes;
            for (int i = 0; i < 30; ++i) {
                const std::int32_t code = m_line->exchange(Query(1, CmdReadAdCode)).value;
                QVERIFY(code >= 995 && code <= 1005);
                codes << code;
            }
            QVERIFY(QSet<std::int32_t>(codes.begin(), codes.end()).size() > 1);
            if (run == 0)
                first = codes;
            else
                QCOMPARE(codes, first);
        }
    }

    void automaticSendingAtTheSetRateUntilPowerCycle()
    {
        QVERIFY(m_sim->ok("autorate 100"));
        QVERIFY(m_sim->ok("load 321"));
        m_line->send(Query(BroadcastAddress, CmdAutoSend));
        const QByteArray stream = m_line->readFor(400);
        const qsizetype count = stream.size() / qsizetype(ReplyFrameSize);
        QVERIFY2(count >= 15 && count <= 50, qPrintable(QString::number(count))); // ~40 at 100 Hz
        for (qsizetype i = 0; i < count; ++i) {
            const Answer a = Decode(stream.mid(i * ReplyFrameSize, ReplyFrameSize));
            QVERIFY(a.wellFormed);
            QCOMPARE(a.address, 1);
            QCOMPARE(a.command, int(CmdReadValue));
            QCOMPARE(a.value, 321);
        }
        // Polled requests are still answered in between.
        m_line->send(Query(1, CmdZerO));
        bool zeroAnswered = false;
        const QByteArray more = m_line->readFor(100);
        for (qsizetype i = 0; i + qsizetype(ReplyFrameSize) <= more.size(); i += ReplyFrameSize)
            zeroAnswered |= Decode(more.mid(i, ReplyFrameSize)).command == CmdZerO;
        QVERIFY(zeroAnswered);

        QVERIFY(m_sim->ok("powercycle"));
        m_line->readFor(30); // what was already under way
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());
    }

    void burstLosesNoSequenceNumber()
    {
        constexpr int Count = 20000;
        QVERIFY(m_sim->ok("log off"));
        QVERIFY(m_sim->ok(QStringLiteral("burst %1").arg(Count)));
        const QByteArray stream = m_line->read(qsizetype(Count) * ReplyFrameSize, 10000);
        QCOMPARE(stream.size(), qsizetype(Count) * qsizetype(ReplyFrameSize));
        for (int i = 0; i < Count; ++i) {
            const Answer a = Decode(stream.mid(qsizetype(i) * ReplyFrameSize, ReplyFrameSize));
            QVERIFY(a.wellFormed);
            QCOMPARE(a.command, int(CmdReadValue));
            if (a.value != i + 1)
                QFAIL(qPrintable(QStringLiteral("reply %1 carries %2").arg(i + 1).arg(a.value)));
        }
        QCOMPARE(m_sim->waitForLine("BURST DONE"), QStringLiteral("BURST DONE %1").arg(Count));
        QVERIFY(m_line->exchange(Query(1, CmdDN)).wellFormed);
    }

    void faultSilent()
    {
        QVERIFY(m_sim->ok("fault silent on"));
        m_line->send(Query(1, CmdReadValue));
        m_line->send(Data(1, CmdZerO, 12));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());
        QVERIFY(m_sim->waitForReceivedFrames(2)); // heard, not answered
        QCOMPARE(get(CmdZerO), 12);
        QVERIFY(m_sim->ok("fault silent off"));
        QVERIFY(m_line->exchange(Query(1, CmdReadValue)).wellFormed);
    }

    void faultLateDoesNotHoldUpOtherModules()
    {
        QVERIFY(restart({"--address", "1", "--address", "2"}));
        QVERIFY(m_sim->ok("fault late 300"));
        QElapsedTimer clock;
        clock.start();
        m_line->send(Query(1, CmdDN));
        QCOMPARE(m_line->exchange(Query(2, CmdDN)).address, 2); // ahead of the late one
        const Answer late = Decode(m_line->read(ReplyFrameSize));
        QVERIFY(clock.elapsed() >= 290);
        QVERIFY(late.wellFormed);
        QCOMPARE(late.address, 1);
        QVERIFY(m_sim->ok("fault late 0"));
        QCOMPARE(m_line->exchange(Query(1, CmdDN)).address, 1);
    }

    void modulesPlayValuePatterns()
    {
        QVERIFY(restart({"--modules", "3", "--load", "5000"}));
        QCOMPARE(m_sim->command("modules"), QStringLiteral("OK 1 2 3"));
        for (const char *bad :
             {"pattern", "pattern wobble", "pattern sine 5", "pattern sine 5 0", "pattern ramp x 10",
              "pattern steps 100 50", "pattern steps 100 50 0", "pattern constant 1"})
            QVERIFY2(m_sim->command(bad).startsWith("ERR"), bad);
        // Sine 1000 around the load, steps of 100 (three, then again), a ramp up by 1000.
        QVERIFY(m_sim->ok("module 1") && m_sim->ok("pattern sine 1000 200"));
        QVERIFY(m_sim->ok("module 2") && m_sim->ok("pattern steps 100 40 3"));
        QVERIFY(m_sim->ok("module 3") && m_sim->ok("pattern ramp 1000 100"));
        QSet<std::int32_t> steps;
        std::int32_t sineLow = 5000, sineHigh = 5000, rampLow = 6000, rampHigh = 5000;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400) {
            const std::int32_t sine = m_line->exchange(Query(1, CmdReadValue)).value;
            const std::int32_t ramp = m_line->exchange(Query(3, CmdReadValue)).value;
            QVERIFY(sine >= 4000 && sine <= 6000);
            QVERIFY(ramp >= 5000 && ramp < 6000);
            sineLow = std::min(sineLow, sine);
            sineHigh = std::max(sineHigh, sine);
            rampLow = std::min(rampLow, ramp);
            rampHigh = std::max(rampHigh, ramp);
            steps << m_line->exchange(Query(2, CmdReadValue)).value;
            QTest::qWait(3);
        }
        QVERIFY(sineLow < 4500 && sineHigh > 5500);
        QVERIFY(rampLow < 5300 && rampHigh > 5700);
        QCOMPARE(steps, (QSet<std::int32_t>{5000, 5100, 5200}));
        QVERIFY(m_sim->ok("module 1") && m_sim->ok("pattern constant"));
        QCOMPARE(m_line->exchange(Query(1, CmdReadValue)).value, 5000);
    }

    void baudPacesRepliesLikeTheLine()
    {
        // 2400 baud: 10 bits a byte, 4.17 ms; a query and its reply, 14 bytes, 58 ms.
        QVERIFY(restart({"--modules", "2", "--baud", "2400", "--answer-delay", "20"}));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(m_line->exchange(Query(2, CmdDN)).address, 2);
        QVERIFY2(clock.elapsed() >= 58 + 20, qPrintable(QString::number(clock.elapsed())));
        // Both modules answer a broadcast, one after the other on the line: 5 + 9 + 9 bytes.
        clock.start();
        m_line->send(Query(BroadcastAddress, CmdDN));
        QCOMPARE(Decode(m_line->read(ReplyFrameSize)).address, 1);
        QCOMPARE(Decode(m_line->read(ReplyFrameSize)).address, 2);
        QVERIFY2(clock.elapsed() >= 95 + 20, qPrintable(QString::number(clock.elapsed())));
    }

    void faultCommandByte()
    {
        QVERIFY(m_sim->ok("fault cmd 7"));
        const Answer a = m_line->exchange(Query(1, CmdPointCount));
        QVERIFY(a.wellFormed);
        QCOMPARE(a.command, 7);
        QCOMPARE(a.value, 2);
        QVERIFY(m_sim->ok("fault cmd off"));
        QCOMPARE(m_line->exchange(Query(1, CmdPointCount)).command, int(CmdPointCount));
    }

    void faultStrayBytes()
    {
        QVERIFY(m_sim->ok("fault stray 4"));
        m_line->send(Query(1, CmdDN));
        const QByteArray bytes = m_line->read(4 + ReplyFrameSize);
        QCOMPARE(bytes.size(), qsizetype(4 + ReplyFrameSize));
        QVERIFY(!bytes.left(4).contains(char(DataStart)));
        QCOMPARE(Decode(bytes.mid(4)).value, 1);
        QCOMPARE(m_line->readFor(50), QByteArray());
    }

    void faultBadCheck()
    {
        QVERIFY(m_sim->ok("fault badcheck on"));
        m_line->send(Query(1, CmdDN));
        const QByteArray frame = m_line->read(ReplyFrameSize);
        const Answer a = Decode(frame);
        QVERIFY(!a.wellFormed);
        QCOMPARE(a.value, 1);
        QCOMPARE(std::uint8_t(frame[8]), FrameEnd);
        QVERIFY(m_sim->ok("fault badcheck off"));
        QVERIFY(m_line->exchange(Query(1, CmdDN)).wellFormed);
    }

    void faultMuteOneCodeAndFrameKind()
    {
        QVERIFY(m_sim->ok(QStringLiteral("fault mute %1 data").arg(CmdPVP(2))));
        QVERIFY(m_sim->ok(QStringLiteral("fault mute %1 query").arg(CmdZerO)));
        m_line->send(Data(1, CmdPVP(2), 5));
        m_line->send(Query(1, CmdZerO));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray());
        QCOMPARE(m_line->exchange(Query(1, CmdPVP(2))).value, 5); // written all the same
        QCOMPARE(m_line->exchange(Data(1, CmdZerO, 3)).value, 3);
        QCOMPARE(m_line->exchange(Data(1, CmdPVP(1), 9)).value, 9);
        QVERIFY(m_sim->ok("fault clear"));
        QCOMPARE(m_line->exchange(Data(1, CmdPVP(2), 6)).value, 6);
        QCOMPARE(m_line->exchange(Query(1, CmdZerO)).value, 3);
    }

    void corruptFramesAreRejectedAndTheStreamResynchronises()
    {
        QByteArray badCheck = Query(1, CmdDN);
        badCheck[3] = char(badCheck[3] ^ 1);
        QByteArray badEnd = Data(1, CmdZerO, 5);
        badEnd[8] = 'x';
        m_line->send(QByteArray("\x01\x02#") + badCheck + badEnd + Query(1, CmdPointCount));
        const Answer a = Decode(m_line->read(ReplyFrameSize));
        QCOMPARE(a.command, int(CmdPointCount));
        QCOMPARE(m_line->readFor(SilenceMs), QByteArray()); // only that one
        QCOMPARE(get(CmdZerO), 0);
        QVERIFY(m_sim->waitForReceivedFrames(1));
        QVERIFY(m_sim->rejectedFrames().contains(badCheck));
        QVERIFY(m_sim->rejectedFrames().contains(badEnd));

        // A lone start byte is given up when the line goes quiet.
        m_line->send(QByteArray(1, char(DataStart)));
        QTest::qWait(150);
        QCOMPARE(m_line->exchange(Query(1, CmdDN)).value, 1);
    }

    void logShowsTrafficInOrder()
    {
        QCOMPARE(m_sim->waitForLine("CLIENTS"), QStringLiteral("CLIENTS 1")); // the port was opened
        m_sim->clearLog();
        m_line->exchange(Query(BroadcastAddress, CmdDN));
        QVERIFY(m_sim->waitForSentFrames(1));
        const QStringList log = m_sim->logLines();
        QCOMPARE(log.value(0), QStringLiteral("RX 3F 00 02 3D 23"));
        QCOMPARE(log.value(1), QStringLiteral("TX 3D 01 02 00 00 00 01 3F 23"));
        m_sim->clearLog();
        QVERIFY(m_sim->ok("log off"));
        m_line->exchange(Query(1, CmdDN));
        QVERIFY(m_sim->ok("log on")); // answered after the exchange was handled
        QVERIFY(m_sim->logLines().isEmpty());
    }

    void controlInterface()
    {
        for (const char *bad :
             {"bogus", "param 1 5", "param 46 0", "param 2 256", "get 23", "get 46", "module 9", "burst 0",
              "noise -1", "fault late x", "fault mute 3 sideways", "raw 3", "log maybe"})
            QVERIFY2(m_sim->command(bad).startsWith("ERR"), bad);
        QCOMPARE(m_sim->command("get 0"), QStringLiteral("OK 0"));
        QVERIFY(m_sim->ok("param 25 2"));
        QCOMPARE(m_line->exchange(Query(1, CmdInputType)).value, 2);
        QVERIFY(m_sim->ok("param 2 12"));
        QCOMPARE(m_line->exchange(Query(BroadcastAddress, CmdDN)).address, 12);
        QVERIFY(m_sim->ok("raw 3D 01 3F 23"));
        QCOMPARE(m_line->read(4), QByteArray::fromHex("3D013F23"));
        QVERIFY(m_sim->ok("autosend on"));
        QVERIFY(m_sim->ok("autorate 200"));
        QVERIFY(Decode(m_line->read(ReplyFrameSize)).command == CmdReadValue);
    }

    void nothingSentWhileThePortIsClosedArrivesLater()
    {
        m_line->send(Query(1, CmdDN)); // answered, never read
        QVERIFY(m_sim->waitForSentFrames(1));
        m_line->close();
        QCOMPARE(m_sim->waitForLine("CLIENTS"), QStringLiteral("CLIENTS 1"));
        QCOMPARE(m_sim->waitForLine("CLIENTS"), QStringLiteral("CLIENTS 0"));
        QVERIFY(m_sim->ok("raw 3D 01 01 00 00 00 2A 17 23"));
        QVERIFY(m_sim->ok("burst 100000")); // done at once: nobody to send it to
        QCOMPARE(m_sim->waitForLine("BURST DONE", 1000), QStringLiteral("BURST DONE 100000"));
        QVERIFY(m_line->open(m_sim->portName()));
        QCOMPARE(m_line->readFor(50), QByteArray());
        QCOMPARE(m_line->exchange(Query(1, CmdDN)).value, 1);
    }

    void linkExitsAndPulledDevice()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("txsim-port");
        QVERIFY(QFile::link("/nonexistent", link)); // stale link of an earlier run
        QVERIFY(restart({"--link", link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->portName());
        m_line->close();
        m_sim->terminate();
        QVERIFY(m_sim->process()->waitForFinished(2000));
        QCOMPARE(m_sim->process()->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_sim->process()->exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

        // Without --exit-on-eof the end of stdin does not end the simulator.
        QProcess plain;
        plain.start(TXSIM_PATH, {});
        QVERIFY(plain.waitForReadyRead(2000));
        QVERIFY(plain.readLine().startsWith("PTY /dev/"));
        plain.closeWriteChannel();
        QVERIFY(!plain.waitForFinished(200));
        plain.terminate();
        QVERIFY(plain.waitForFinished(2000));
        QCOMPARE(plain.exitCode(), 0);

        // A killed simulator is a pulled device: the open port reports an error.
        QVERIFY(restart({}));
        QVERIFY(m_line->exchange(Query(1, CmdDN)).wellFormed);
        m_sim->kill();
        QVERIFY(QTest::qWaitFor(
            [&] {
                m_line->port().waitForReadyRead(10);
                m_line->port().readAll();
                return m_line->port().error() != QSerialPort::NoError;
            },
            2000));
        // EIO from the vanished terminal comes as a read error.
        QVERIFY(m_line->port().error() == QSerialPort::ReadError ||
                m_line->port().error() == QSerialPort::ResourceError);
    }

private:
    static bool IsParameter(int code)
    {
        return (code >= FirstGeneralParam && code <= LastGeneralParam) ||
               (code >= FirstSpecialParam && code <= LastSpecialParam);
    }
};

QTEST_MAIN(TestTxSim)
#include "tst_txsim.moc"
