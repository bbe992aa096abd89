// The traffic decoder of the protocol monitor and the device link's tap:
// frames in both directions with their check byte and end byte verified,
// replies cut across reads, noise and replies cut short as rows of their own.

#include "LineWait.h"
#include "FakeDevice.h"
#include "device/DeviceLink.h"
#include "device/TrafficDecoder.h"

#include <QTest>

namespace
{
QByteArray Bytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}

// A reply of module 1 to CmdReadValue carrying 100: "=", 01, 01, 00 00 00 64,
// check 3D^01^01^64 = 59, "#".
const QByteArray GoodReply = Bytes("3D010100000064"
                                   "59"
                                   "23");

using Kind = TrafficRow::Kind;
using Direction = TrafficRow::Direction;

TrafficStamp At(qint64 ms)
{
    return {ms, 1'700'000'000'000 + ms};
}
} // namespace

class TestTrafficDecoder : public QObject
{
    Q_OBJECT
private slots:
    void sentFrames()
    {
        TrafficRows rows;
        // CmdReadValue to address 1, and set address 5 (a data frame to address 0).
        TrafficDecoder::decodeWritten(Bytes("3F01013F23"), At(10), rows);
        TrafficDecoder::decodeWritten(Bytes("3D000200000005"
                                            "3A23"),
                                      At(11), rows);
        TrafficDecoder::decodeWritten(Bytes("0102"), At(12), rows);
        QCOMPARE(rows.size(), 3u);

        QCOMPARE(rows[0].direction, Direction::Sent);
        QCOMPARE(rows[0].kind, Kind::Query);
        QCOMPARE(int(rows[0].address), 1);
        QCOMPARE(int(rows[0].command), 1);
        QVERIFY(!rows[0].hasValue());
        QVERIFY(rows[0].checkOk && rows[0].endOk);
        QCOMPARE(HexBytes(rows[0].raw), QStringLiteral("3F 01 01 3F 23"));
        QCOMPARE(rows[0].stamp.sinceOpenMs, 10);

        QCOMPARE(rows[1].kind, Kind::Data);
        QCOMPARE(int(rows[1].address), 0);
        QCOMPARE(int(rows[1].command), 2);
        QCOMPARE(rows[1].value, 5);
        QVERIFY(rows[1].checkOk && rows[1].endOk);

        QCOMPARE(rows[2].kind, Kind::Unframed);
        QCOMPARE(rows[2].direction, Direction::Sent);
        QCOMPARE(rows[2].raw, Bytes("0102"));
    }

    void receivedFramesAndTheirFaults()
    {
        TrafficDecoder decoder;
        TrafficRows rows;
        QByteArray badCheck = GoodReply;
        badCheck[7] = char(0x58);
        QByteArray badEnd = GoodReply;
        badEnd[8] = char(0x24);
        // A negative value, with 3D among its bytes: FF FF FF 3D, check 3D^02^03^FF^FF^FF^3D = FE.
        const QByteArray negative = Bytes("3D0203FFFFFF3D"
                                          "FE"
                                          "23");
        decoder.feedRead(GoodReply + badCheck + badEnd + negative, At(20), rows);
        QCOMPARE(rows.size(), 4u);
        for (const TrafficRow &row : rows) {
            QCOMPARE(row.direction, Direction::Received);
            QCOMPARE(row.kind, Kind::Data);
        }
        QCOMPARE(int(rows[0].address), 1);
        QCOMPARE(int(rows[0].command), 1);
        QCOMPARE(rows[0].value, 100);
        QVERIFY(rows[0].checkOk && rows[0].endOk);
        QVERIFY(!rows[1].checkOk && rows[1].endOk);
        QCOMPARE(rows[1].value, 100);
        QVERIFY(rows[2].checkOk && !rows[2].endOk);
        QCOMPARE(int(rows[3].address), 2);
        QCOMPARE(int(rows[3].command), 3);
        QCOMPARE(rows[3].value, -195);
        QVERIFY(rows[3].checkOk && rows[3].endOk);
        QCOMPARE(decoder.pending(), 0);

        // A wrong check byte in a reply whose value holds "=": still one frame
        // (no whole reply starts at that "="), whether more bytes follow or not.
        const QByteArray faulty = Bytes("3D01013D000000"
                                        "11"
                                        "23");
        rows.clear();
        decoder.feedRead(faulty, At(21), rows);
        decoder.feedRead(GoodReply, At(22), rows);
        QCOMPARE(rows.size(), 2u);
        QCOMPARE(rows[0].raw, faulty);
        QCOMPARE(rows[0].value, 0x3D000000);
        QVERIFY(!rows[0].checkOk && rows[0].endOk);
        QCOMPARE(rows[1].raw, GoodReply);
        rows.clear();
        decoder.feedRead(faulty, At(23), rows);
        decoder.flush(rows);
        QCOMPARE(rows.size(), 1u);
        QCOMPARE(rows[0].kind, Kind::Data);
        QCOMPARE(rows[0].raw, faulty);
    }

    void cutRepliesAndNoise()
    {
        TrafficDecoder decoder;
        TrafficRows rows;
        // A reply in two reads: one row, stamped when its last byte came.
        decoder.feedRead(GoodReply.left(4), At(30), rows);
        QCOMPARE(rows.size(), 0u);
        decoder.feedRead(GoodReply.mid(4), At(31), rows);
        QCOMPARE(rows.size(), 1u);
        QVERIFY(rows[0].checkOk && rows[0].endOk);
        QCOMPARE(rows[0].stamp.sinceOpenMs, 31);
        QCOMPARE(rows[0].raw, GoodReply);

        // Noise between two replies: a row of its own, between them.
        rows.clear();
        decoder.feedRead(GoodReply + Bytes("010203") + GoodReply, At(40), rows);
        QCOMPARE(rows.size(), 3u);
        QCOMPARE(rows[0].kind, Kind::Data);
        QCOMPARE(rows[1].kind, Kind::Unframed);
        QCOMPARE(rows[1].direction, Direction::Received);
        QCOMPARE(rows[1].raw, Bytes("010203"));
        QCOMPARE(rows[2].kind, Kind::Data);
        QVERIFY(rows[2].checkOk && rows[2].endOk);
        // Noise at the end of a read shows at once (before any frame written next).
        rows.clear();
        decoder.feedRead(GoodReply + Bytes("0405"), At(41), rows);
        QCOMPARE(rows.size(), 2u);
        QCOMPARE(rows[1].raw, Bytes("0405"));
        QCOMPARE(decoder.pending(), 0);

        // A reply cut short by the next one: its bytes are no frame, the next reply is whole.
        rows.clear();
        decoder.feedRead(GoodReply.left(5) + GoodReply, At(50), rows);
        QCOMPARE(rows.size(), 2u);
        QCOMPARE(rows[0].kind, Kind::Unframed);
        QCOMPARE(rows[0].raw, GoodReply.left(5));
        QCOMPARE(rows[1].kind, Kind::Data);
        QVERIFY(rows[1].checkOk && rows[1].endOk);

        // A reply cut short with nothing after it shows once the line is quiet.
        rows.clear();
        decoder.feedRead(GoodReply.left(3), At(60), rows);
        decoder.flushStale(60 + TrafficDecoder::StaleAfterMs - 1, rows);
        QCOMPARE(rows.size(), 0u);
        decoder.flushStale(60 + TrafficDecoder::StaleAfterMs, rows);
        QCOMPARE(rows.size(), 1u);
        QCOMPARE(rows[0].kind, Kind::Unframed);
        QCOMPARE(rows[0].raw, GoodReply.left(3));
        QCOMPARE(rows[0].stamp.sinceOpenMs, 60);
        QCOMPARE(decoder.pending(), 0);

        // A long run of noise is split into rows of limited length.
        rows.clear();
        const qsizetype run = 2 * TrafficDecoder::UnframedRowLimit + 6;
        decoder.feedRead(QByteArray(run, '\x01'), At(70), rows);
        decoder.flush(rows);
        QCOMPARE(rows.size(), 3u);
        QCOMPARE(rows[0].raw.size(), TrafficDecoder::UnframedRowLimit);
        QCOMPARE(rows[2].raw.size(), 6);
    }

    void commandNames()
    {
        QCOMPARE(CommandName(0), QStringLiteral("CmdReadAdCode"));
        QCOMPARE(CommandName(1), QStringLiteral("CmdReadValue"));
        QCOMPARE(CommandName(5), QStringLiteral("CmdAVP(1)"));
        QCOMPARE(CommandName(13), QStringLiteral("CmdAVP(9)"));
        QCOMPARE(CommandName(22), QStringLiteral("CmdPVP(9)"));
        QCOMPARE(CommandName(23), QStringLiteral("CmdAutoSend"));
        QCOMPARE(CommandName(36), QStringLiteral("CmdOutDSP(1)"));
        QCOMPARE(CommandName(41), QStringLiteral("CmdOutVAL(3)"));
        QCOMPARE(CommandName(45), QStringLiteral("CmdFilterBand"));
        QVERIFY(CommandName(46).isEmpty());
    }

    void linkReportsWhatGoesOverTheLine()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 1000);
        link.attach(&dev);
        QStringList events;
        // A reply handler that writes at once (as a polling tick may): the
        // read that caused the write is reported before it.
        bool storeSent = false;
        connect(&link, &DeviceLink::replyHandled, this, [&](const Reply &) {
            if (!storeSent) {
                storeSent = true;
                SendFrameNow(link, BuildQueryFrame(1, CmdStore));
            }
        });
        connect(&link, &DeviceLink::frameWritten, this,
                [&](const QByteArray &bytes) { events << QStringLiteral("W ") + HexBytes(bytes); });
        connect(&link, &DeviceLink::bytesRead, this,
                [&](const QByteArray &bytes) { events << QStringLiteral("R ") + HexBytes(bytes); });
        dev.setResponder([&](const QByteArray &frame) {
            if (frame.at(2) == CmdReadValue)
                dev.deliver(Bytes("AA") + GoodReply);
        });

        QVERIFY(ExchangeNow(link, BuildQueryFrame(1, CmdReadValue)));
        QCOMPARE(events, QStringList({QStringLiteral("W 3F 01 01 3F 23"),
                                      QStringLiteral("R AA 3D 01 01 00 00 00 64 59 23"),
                                      QStringLiteral("W 3F 01 18 26 23")}));
    }
};

QTEST_GUILESS_MAIN(TestTrafficDecoder)
#include "tst_trafficdecoder.moc"
