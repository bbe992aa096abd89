#include "LineWait.h"
#include "FakeDevice.h"
#include "device/DeviceLink.h"
#include "io/OperatorError.h"

#include <QElapsedTimer>
#include <QList>

#include <optional>
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

        // A wrong check byte or a missing "#" drops the frame, counted; the
        // search goes on inside it, so a reply right behind noise that starts
        // with "=" is found, and so is one after a lost byte.
        QByteArray badCheck = reply(1, 1, 42);
        badCheck[7] = char(badCheck[7] ^ 0x01);
        QByteArray noHash = reply(1, 1, 43);
        noHash[8] = 'x';
        QByteArray lostByte = reply(1, 1, 44);
        lostByte.remove(4, 1);
        a.feed(badCheck + reply(1, 1, 45) + noHash + lostByte + reply(1, 1, 46));
        QCOMPARE(c.replies.size(), 8);
        QCOMPARE(c.replies[6].value, 45);
        QCOMPARE(c.replies[7].value, 46);
        QCOMPARE(a.droppedFrames(), quint64(3));
        QCOMPARE(a.buffered(), 0);
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

    void requestsWaitForTheirOwnReply()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        link.attach(&dev);
        // The module answers a read of its value with its address; anything
        // else first draws a reply to another request (a stray poll answer).
        dev.setResponder([&](const QByteArray &frame) {
            const auto address = std::uint8_t(frame.at(1)), command = std::uint8_t(frame.at(2));
            if (command != CmdReadValue)
                dev.deliver(reply(address, CmdReadValue, 1));
            dev.deliver(reply(address, command, -1234), 10);
        });
        QList<std::pair<Reply, bool>> handled;
        connect(&link, &DeviceLink::replyHandled, this,
                [&](const Reply &r, bool asked) { handled.append({r, asked}); });

        QVERIFY(ExchangeNow(link, BuildQueryFrame(7, CmdZerO)));
        QCOMPARE(link.reply().ReplyValue, -1234);
        QCOMPARE(int(link.reply().ReplyCommand), int(CmdZerO));
        QCOMPARE(handled.size(), 2);
        QVERIFY(!handled[0].second && handled[1].second); // the stray one ends no wait
        QVERIFY(!link.timerWait().isActive());

        // A reply from another address than the one asked is not the answer.
        dev.setResponder([&](const QByteArray &) { dev.deliver(reply(8, CmdZerO, 5)); });
        QElapsedTimer t;
        t.start();
        QVERIFY(!ExchangeNow(link, BuildQueryFrame(7, CmdZerO)));
        QVERIFY(link.reply().ReplyTimedOut);
        QVERIFY(t.elapsed() >= 90);
        QCOMPARE(link.reply().ReplyValue, -1234); // untouched

        // A broadcast takes the reply of any module to its command.
        QVERIFY(ExchangeNow(link, BuildQueryFrame(BroadcastAddress, CmdZerO)));
        QCOMPARE(link.reply().ReplyValue, 5);

        // A reply after the time-out is unasked.
        dev.setResponder({});
        handled.clear();
        QVERIFY(!ExchangeNow(link, BuildQueryFrame(7, CmdZerO)));
        dev.deliver(reply(7, CmdZerO, 555));
        QTRY_COMPARE(handled.size(), 1);
        QVERIFY(!handled[0].second);
    }

    void outcomesToldInTheOrderTheyFinished()
    {
        // Told after the piece holding the reply is fed, in the order the
        // requests finished; a request made in a callback is told only after
        // its caller has the id.
        FakeDevice dev;
        DeviceLink link(nullptr, 300);
        link.attach(&dev);
        dev.setResponder([&](const QByteArray &frame) {
            dev.deliver(reply(std::uint8_t(frame.at(1)), std::uint8_t(frame.at(2)), frame.at(1)));
        });
        const auto read = [](std::uint8_t address) { return LineRequest::For(BuildQueryFrame(address, CmdReadValue)); };
        QList<int> told;
        quint64 asked = 0;
        link.Request(read(1), this, [&](const LineOutcome &o) {
            told << o.reply.value;
            asked = link.Request(read(2), this, [&](const LineOutcome &o2) {
                QVERIFY(asked != 0);
                told << o2.reply.value;
            });
        });
        link.Request(read(3), this, [&](const LineOutcome &o) { told << o.reply.value; });
        QTRY_COMPARE(told, (QList<int>{1, 3, 2}));
    }

    void oneRequestOnTheLineOperatorsFirst()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 300);
        link.attach(&dev);
        QList<QString> ended;
        const auto note = [&](const QString &name) {
            return [&ended, name](const LineOutcome &o) { ended << name + (o.answered() ? "+" : "-"); };
        };
        // Nothing answers the first request: the next ones wait for its time-out.
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdReadValue)).asPoll(), &link, note("poll1"));
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdReadValue)).asPoll(), &link, note("poll2"));
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdZerO)), &link, note("op1"));
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdPointCount)), &link, note("op2"));
        QCOMPARE(dev.written().size(), 1);
        QTest::qWait(150);
        QCOMPARE(dev.written().size(), 1);

        // Then each is answered in turn: an operator's request goes before a
        // waiting poll, but a poll passed over once goes next.
        dev.setResponder([&](const QByteArray &f) { dev.deliver(reply(1, std::uint8_t(f.at(2)), 0), 5); });
        QTRY_COMPARE(ended.size(), 4);
        QCOMPARE(ended, (QList<QString>{"poll1-", "op1+", "poll2+", "op2+"}));
        QList<std::uint8_t> order;
        for (const QByteArray &f : dev.written())
            order << std::uint8_t(f.at(2));
        QCOMPARE(order, (QList<std::uint8_t>{CmdReadValue, CmdZerO, CmdReadValue, CmdPointCount}));

        // A withdrawn poll never goes out; one on the line keeps it to its end.
        dev.setResponder({});
        dev.clearWritten();
        ended.clear();
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdReadValue)).asPoll(), &link, note("poll3"));
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdReadValue)).asPoll(), &link, note("poll4"));
        link.CancelPolls();
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdZerO)), &link, note("op3"));
        QCOMPARE(dev.written().size(), 1);
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(ended, QList<QString>{"op3-"});
        QCOMPARE(dev.written().size(), 2);

        // Closing the port ends what was asked; the next request has a fresh time-out.
        ended.clear();
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdZerO)), &link, note("op4"));
        dev.close();
        QTRY_COMPARE(ended, QList<QString>{"op4-"});
        QVERIFY(!link.timerWait().isActive());
    }

    void heldLineRefusesOthers()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        link.attach(&dev);
        int holder = 0, another = 0;
        QVERIFY(link.Reserve(&holder));
        QVERIFY(!link.Reserve(&another));
        std::optional<LineOutcome> other, own;
        link.Request(LineRequest::For(BuildQueryFrame(1, CmdZerO)), &link, [&](const LineOutcome &o) { other = o; });
        link.Request(LineRequest::For(BuildQueryFrame(2, CmdDN)).heldBy(&holder).withTimeout(20), &link,
                     [&](const LineOutcome &o) { own = o; });
        QTRY_VERIFY(other && own);
        QCOMPARE(other->status, LineOutcome::Status::Refused);
        QCOMPARE(other->error, DeviceLink::TextLineHeld());
        QCOMPARE(own->status, LineOutcome::Status::TimedOut);
        QCOMPARE(dev.written().size(), 1);
        link.Release(&holder);
        QVERIFY(!link.IsReserved());
    }

    void writeFailuresAreErrors()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        QVERIFY_THROWS_EXCEPTION(OperatorError, SendFrameNow(link, BuildQueryFrame(1, CmdReadValue)));
        link.attach(&dev);
        dev.setFailWrites(true);
        link.reply().ReplyDone = true;
        QVERIFY_THROWS_EXCEPTION(OperatorError, ExchangeNow(link, BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(!link.timerWait().isActive()); // left as it was
        QVERIFY(link.reply().ReplyDone);
        QVERIFY(!link.LineBusy());
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
        QVERIFY(!ExchangeNow(link, BuildQueryFrame(1, CmdReadValue)));
        QVERIFY(t.elapsed() < 2000);
        QVERIFY(!dev.isOpen());
        link.declareDeviceLost(QStringLiteral("again"));
        QCOMPARE(lost, 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
