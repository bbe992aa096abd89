#include "FakeDevice.h"
#include "device/DeviceLink.h"
#include "io/OperatorError.h"

#include <QElapsedTimer>
#include <QTest>

namespace {
QByteArray reply(std::uint8_t address, std::uint8_t command, std::int32_t value)
{
    return DeviceLink::toBytes(BuildDataFrame(address, command, value));
}

struct Collected {
    QList<Reply> replies;
    void attach(ReplyAssembler &a)
    {
        a.setPacketHandler([this](const std::uint8_t *p) { replies.append(DecodeReply(p)); });
    }
};
} // namespace

class TestDeviceLink : public QObject
{
    Q_OBJECT
private slots:
    void assemblerCutsRepliesFromTheStream()
    {
        ReplyAssembler a;
        Collected c;
        c.attach(a);

        // Stray bytes before a reply are dropped.
        a.feed(QByteArray("\x01\x02") + reply(4, 1, 77));
        QCOMPARE(c.replies.size(), 1);
        QCOMPARE(int(c.replies[0].address), 4);
        QCOMPARE(c.replies[0].value, 77);
        QCOMPARE(a.buffered(), 0);

        // Two replies in one piece, in order.
        a.feed(reply(1, 2, 10) + reply(2, 3, -10));
        QCOMPARE(c.replies.size(), 3);
        QCOMPARE(int(c.replies[1].command), 2);
        QCOMPARE(c.replies[2].value, -10);

        // One reply in three pieces: handed on with its ninth byte.
        const QByteArray r = reply(9, 1, 123456);
        a.feed(r.left(2));
        a.feed(r.mid(2, 4));
        QCOMPARE(c.replies.size(), 3);
        a.feed(r.mid(6));
        QCOMPARE(c.replies.size(), 4);
        QCOMPARE(c.replies[3].value, 123456);

        // "=" inside the value is ordinary data; packets are cut by length.
        a.feed(reply(1, 1, 0x3D3D3D3D) + reply(1, 1, 5));
        QCOMPARE(c.replies.size(), 6);
        QCOMPARE(c.replies[4].value, 0x3D3D3D3D);
        QCOMPARE(c.replies[5].value, 5);

        // A wrong check byte and a missing "#" are accepted.
        QByteArray bad = reply(1, 1, 42);
        bad[7] = 0;
        bad[8] = 'x';
        a.feed(bad);
        QCOMPARE(c.replies.size(), 7);
        QCOMPARE(c.replies[6].value, 42);
    }

    void assemblerBufferLimit()
    {
        ReplyAssembler a;
        Collected c;
        c.attach(a);
        a.feed(QByteArray(1023, 'x'));
        QCOMPARE(a.buffered(), 1023);
        a.feed(QByteArray(1, 'x'));
        QCOMPARE(a.buffered(), 0);

        // A partial reply is kept across pieces and the buffer keeps working.
        a.feed(QByteArray(1000, 'y') + reply(3, 1, 9).left(5));
        QCOMPARE(a.buffered(), 5);
        QVERIFY(a.inPacket());
        a.feed(reply(3, 1, 9).mid(5));
        QCOMPARE(c.replies.size(), 1);

        // Garbage left behind a cut reply counts toward the limit too.
        a.feed(reply(1, 1, 1) + QByteArray(1100, 'z'));
        QCOMPARE(c.replies.size(), 2);
        QCOMPARE(a.buffered(), 0);

        // Re-applying the framing keeps what is buffered.
        a.feed(reply(1, 1, 2).left(4));
        a.setFraming('=', 9);
        a.feed(reply(1, 1, 2).mid(4));
        QCOMPARE(c.replies.size(), 3);
    }

    void exchangeAnsweredAndTimedOut()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        link.attach(&dev);
        dev.setResponder([&](const QByteArray &frame) {
            if (frame.at(2) == CmdReadValue)
                dev.deliver(reply(7, 1, -1234));
        });

        QVERIFY(link.Exchange(BuildQueryFrame(1, CmdReadValue)));
        QCOMPARE(link.reply().ReplyValue, -1234);
        QCOMPARE(int(link.reply().ReplyCommand), 1);
        QVERIFY(!link.timerWait().isActive());
        QCOMPARE(dev.written().constFirst(), DeviceLink::toBytes(BuildQueryFrame(1, CmdReadValue)));

        QElapsedTimer t;
        t.start();
        QVERIFY(!link.Exchange(BuildQueryFrame(1, CmdZerO)));
        QVERIFY(link.reply().ReplyTimedOut);
        QVERIFY(t.elapsed() >= 90);
        QCOMPARE(link.reply().ReplyValue, -1234); // untouched

        // A reply that comes after the time-out still updates the state.
        QList<Reply> handled;
        connect(&link, &DeviceLink::replyHandled, this, [&](const Reply &r) { handled << r; });
        dev.deliver(reply(7, 3, 555));
        QTRY_COMPARE(handled.size(), 1);
        QCOMPARE(link.reply().ReplyValue, 555);
        QVERIFY(link.reply().ReplyDone);
        QVERIFY(!link.reply().ReplyTimedOut);
    }

    void abortEndsTheWaitAsAnswered()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 5000);
        link.attach(&dev);
        link.reply().ReplyValue = 99;
        QTimer::singleShot(20, &link, [&] { link.AbortExchange(); });
        QElapsedTimer t;
        t.start();
        QVERIFY(link.Exchange(BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(t.elapsed() < 2000);
        QCOMPARE(link.reply().ReplyValue, 99);
        QVERIFY(!link.timerWait().isActive());
    }

    void nestedWaitEndsAtTheOuterDeadline()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 300);
        link.attach(&dev);
        bool innerAnswered = true;
        qint64 innerEndedAt = 0;
        QElapsedTimer t;
        t.start();
        // A second exchange starts 150 ms into the first one's wait; starting
        // the running TimerWait must not restart it.
        QTimer::singleShot(150, &link, [&] {
            innerAnswered = link.Exchange(BuildQueryFrame(1, CmdReadValue));
            innerEndedAt = t.elapsed();
        });
        const bool outerAnswered = link.Exchange(BuildQueryFrame(1, CmdReadValue));
        QVERIFY(!innerAnswered);
        QVERIFY(!outerAnswered);
        QVERIFY2(innerEndedAt >= 280 && innerEndedAt < 420, qPrintable(QString::number(innerEndedAt)));
        QCOMPARE(dev.written().size(), 2);

        // One reply ends every nested wait at once.
        dev.setResponder([&](const QByteArray &frame) {
            if (dev.written().size() == 4)
                dev.deliver(reply(1, 1, 8), 30);
            Q_UNUSED(frame);
        });
        QTimer::singleShot(10, &link, [&] { innerAnswered = link.Exchange(BuildQueryFrame(1, CmdReadValue)); });
        QVERIFY(link.Exchange(BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(innerAnswered);
    }

    void matchedExchanges()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 200);
        link.attach(&dev);
        dev.setResponder([&](const QByteArray &frame) { dev.deliver(reply(1, std::uint8_t(frame.at(2)), 7)); });
        QVERIFY(link.ExchangeExpecting(BuildQueryFrame(1, CmdZerO)));
        // A reply to another request (a poll underneath) is not the answer.
        dev.setResponder([&](const QByteArray &) { dev.deliver(reply(1, CmdReadValue, 5)); });
        QVERIFY(!link.ExchangeExpecting(BuildQueryFrame(1, CmdZerO)));
        QVERIFY(!link.ExchangeExpecting(BuildDataFrame(1, CmdZerO, 3)));
        // An aborted wait saw no reply at all: the earlier matching reply does not count.
        dev.setResponder({});
        link.reply().ReplyCommand = CmdZerO;
        QTimer::singleShot(20, &link, [&] { link.AbortExchange(); });
        QVERIFY(!link.ExchangeExpecting(BuildQueryFrame(1, CmdZerO)));
        QVERIFY(link.reply().ReplyDone);
    }

    void writeFailuresAreErrors()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        QVERIFY_THROWS_EXCEPTION(OperatorError, link.SendFrame(BuildQueryFrame(1, CmdReadValue)));
        link.attach(&dev);
        dev.setFailWrites(true);
        link.reply().ReplyDone = true;
        QVERIFY_THROWS_EXCEPTION(OperatorError, link.Exchange(BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(!link.timerWait().isActive()); // left as it was
        QVERIFY(link.reply().ReplyDone);

    }

    void lostDeviceEndsTheWaitOnce()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 5000);
        link.attach(&dev);
        int lost = 0;
        connect(&link, &DeviceLink::deviceLost, this, [&] { ++lost; });
        QTimer::singleShot(20, &link, [&] { link.declareDeviceLost(QStringLiteral("gone")); });
        QElapsedTimer t;
        t.start();
        QVERIFY(!link.Exchange(BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(t.elapsed() < 2000);
        QVERIFY(!dev.isOpen());
        link.declareDeviceLost(QStringLiteral("again"));
        QCOMPARE(lost, 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
