#include "device/Protocol.h"

#include <QTest>

#include <vector>

namespace {
template <std::size_t N> std::vector<int> bytes(const std::array<std::uint8_t, N> &frame)
{
    return std::vector<int>(frame.begin(), frame.end());
}
} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void workedExamples()
    {
        QCOMPARE(bytes(BuildQueryFrame(1, CmdReadValue)), (std::vector<int>{0x3F, 0x01, 0x01, 0x3F, 0x23}));
        QCOMPARE(bytes(BuildQueryFrame(0, CmdDN)), (std::vector<int>{0x3F, 0x00, 0x02, 0x3D, 0x23}));
        QCOMPARE(bytes(BuildDataFrame(0, CmdDN, 5)),
                 (std::vector<int>{0x3D, 0x00, 0x02, 0x00, 0x00, 0x00, 0x05, 0x3A, 0x23}));
        QCOMPARE(bytes(BuildDataFrame(1, CmdZerO, -1)),
                 (std::vector<int>{0x3D, 0x01, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0x23}));
        QCOMPARE(bytes(BuildQueryFrame(1, CmdStore)), (std::vector<int>{0x3F, 0x01, 0x18, 0x26, 0x23}));
        QCOMPARE(bytes(BuildQueryFrame(0, CmdAutoSend)), (std::vector<int>{0x3F, 0x00, 0x17, 0x28, 0x23}));
    }

    void valuesAreBigEndianTwosComplement()
    {
        const DataFrame f = BuildDataFrame(7, CmdPVP(9), std::numeric_limits<std::int32_t>::min());
        QCOMPARE(bytes(f), (std::vector<int>{0x3D, 7, 22, 0x80, 0, 0, 0, 0x3D ^ 7 ^ 22 ^ 0x80, 0x23}));
        const DataFrame g = BuildDataFrame(1, CmdZerO, 0x01020304);
        QCOMPARE(int(g[3]), 1);
        QCOMPARE(int(g[6]), 4);
    }

    void replyDecoding()
    {
        // "=" stripped: address, command, value, check, "#"
        const std::uint8_t topBit[8] = {5, 1, 0xFF, 0xFF, 0xFF, 0x9C, 0x00, 0x23};
        const Reply r = DecodeReply(topBit);
        QCOMPARE(int(r.address), 5);
        QCOMPARE(int(r.command), 1);
        QCOMPARE(r.value, -100);
        // Check byte and end byte are not looked at.
        const std::uint8_t garbageTail[8] = {1, 3, 0x00, 0x00, 0x3D, 0x3D, 0x12, 0x34};
        QCOMPARE(DecodeReply(garbageTail).value, 0x3D3D);
        for (std::int32_t v : {0, 1, -1, 123456789, -123456789, std::numeric_limits<std::int32_t>::max()}) {
            const DataFrame f = BuildDataFrame(3, CmdZerO, v);
            QCOMPARE(DecodeReply(f.data() + 1).value, v);
        }
    }

    void commandTable()
    {
        QCOMPARE(int(CmdAVP(1)), 5);
        QCOMPARE(int(CmdAVP(9)), 13);
        QCOMPARE(int(CmdPVP(1)), 14);
        QCOMPARE(int(CmdPVP(9)), 22);
        QCOMPARE(int(CmdOutDSP(1)), 36);
        QCOMPARE(int(CmdOutVAL(1)), 37);
        QCOMPARE(int(CmdOutDSP(3)), 40);
        QCOMPARE(int(CmdOutVAL(3)), 41);
        QCOMPARE(GeneralParamCount, 21);
        QCOMPARE(SpecialParamCount, 21);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
