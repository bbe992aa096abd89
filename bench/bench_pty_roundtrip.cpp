// Raw round trip over a pseudo-terminal: QSerialPort <-> txsim answering at once,
// without any of the program's own code in between. The program's overhead per
// exchange is measured against these figures. Also prints the rate at which a
// burst of replies comes in.

#include "TxSim.h"
#include "device/Protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int RoundTrips = 10000;
constexpr int WarmUpRoundTrips = 200;
constexpr int BurstReplies = 1000000;
constexpr int ReplyTimeoutMs = 2000;
constexpr double NsPerMs = 1e6;

bool OpenPort(QSerialPort &port, const QString &name)
{
    port.setPortName(name);
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setDataTerminalReady(true); // unsupported on a pty: not an open failure
    port.setRequestToSend(true);
    port.clearError();
    return true;
}

/// One query and its 9-byte reply; returns the nanoseconds taken, or -1.
qint64 RoundTrip(QSerialPort &port, const QByteArray &query)
{
    QElapsedTimer clock;
    clock.start();
    port.write(query);
    port.flush();
    qint64 received = 0;
    while (received < qint64(ReplyFrameSize)) {
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(ReplyTimeoutMs))
            return -1;
        received += port.read(ReplyFrameSize - received).size();
    }
    return clock.nsecsElapsed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TxSim sim;
    if (!sim.start() || !sim.ok("log off")) {
        std::fprintf(stderr, "txsim did not start\n");
        return 1;
    }
    QSerialPort port;
    if (!OpenPort(port, sim.portName())) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sim.portName()));
        return 1;
    }

    const QueryFrame frame = BuildQueryFrame(1, CmdReadValue);
    const QByteArray query(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
    for (int i = 0; i < WarmUpRoundTrips; ++i)
        RoundTrip(port, query);
    std::vector<qint64> times;
    times.reserve(RoundTrips);
    for (int i = 0; i < RoundTrips; ++i) {
        const qint64 ns = RoundTrip(port, query);
        if (ns < 0) {
            std::fprintf(stderr, "no reply to round trip %d\n", i);
            return 1;
        }
        times.push_back(ns);
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double fraction) {
        return double(times[std::size_t(fraction * (times.size() - 1))]) / NsPerMs;
    };
    std::printf("pty round trip, %d query/reply pairs: median %.4f ms, p99 %.4f ms, max %.4f ms\n",
                RoundTrips, at(0.5), at(0.99), double(times.back()) / NsPerMs);

    // Burst: how fast numbered replies arrive, and that none is lost.
    QElapsedTimer clock;
    clock.start();
    if (!sim.ok(QStringLiteral("burst %1").arg(BurstReplies)))
        return 1;
    QByteArray pending;
    std::int32_t expected = 1;
    qint64 lost = 0;
    while (expected <= BurstReplies) {
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(ReplyTimeoutMs))
            break;
        pending += port.readAll();
        qsizetype at9 = 0;
        for (; at9 + qsizetype(ReplyFrameSize) <= pending.size(); at9 += ReplyFrameSize) {
            const Reply r =
                DecodeReply(reinterpret_cast<const std::uint8_t *>(pending.constData() + at9 + 1));
            if (r.value != expected)
                lost += r.value - expected;
            expected = r.value + 1;
        }
        pending.remove(0, at9);
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("burst of %d replies: %.3f s, %.0f replies/s, %lld lost, %s\n", BurstReplies, seconds,
                (expected - 1) / seconds, static_cast<long long>(lost + (BurstReplies + 1 - expected)),
                qPrintable(sim.waitForLine("BURST DONE", ReplyTimeoutMs)));
    return 0;
}
