// A full bus scan (addresses 1..255) of a line where no module answers, at
// the shortest and at the default time-out: the time it takes against the
// bound of 255 time-outs, and the longest gap in the event loop meanwhile
// (the window stays responsive while it scans).

#include "TxSim.h"
#include "device/BusScanner.h"
#include "device/ModuleSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace
{
constexpr int TickMs = 5;
constexpr int ScanEndMs = 600000;
constexpr int Addresses = BusScanner::LastAddress - BusScanner::FirstAddress + 1;

bool Measure(ModuleSession &session, int timeoutMs)
{
    BusScanner scanner(session);
    scanner.setTimeoutMs(timeoutMs);
    QElapsedTimer total;
    QElapsedTimer questions;
    qint64 listenNs = 0;
    qint64 scanNs = 0;
    bool done = false;
    bool completed = false;
    QObject::connect(&scanner, &BusScanner::asking, [&](DeviceAddress, int index) {
        if (index == 0) {
            listenNs = total.nsecsElapsed();
            questions.start();
        }
    });
    QObject::connect(&scanner, &BusScanner::finished, [&](BusScanner::Ending ending) {
        scanNs = questions.nsecsElapsed();
        completed = ending == BusScanner::Ending::Completed;
        done = true;
    });

    // The longest wait between two ticks of a 5 ms timer, less the 5 ms.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer sinceTick;
    qint64 worstGapNs = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstGapNs = std::max(worstGapNs, sinceTick.nsecsElapsed() - qint64(TickMs) * 1000000);
        sinceTick.start();
    });

    total.start();
    if (scanner.start(BusScanner::FirstAddress, BusScanner::LastAddress) != BusScanner::Refusal::None)
        return std::puts("the scan did not start"), false;
    sinceTick.start();
    tick.start(TickMs);
    QElapsedTimer limit;
    limit.start();
    while (!done && limit.elapsed() < ScanEndMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick.stop();
    if (!completed)
        return std::puts("the scan did not complete"), false;

    const double boundMs = double(Addresses) * timeoutMs;
    std::printf(
        "time-out %4d ms: 255 questions %8.1f ms (bound 255 x time-out %8.1f ms, over it by %.1f ms = "
        "%.3f ms a question), listening first %.1f ms, total %.1f ms; longest event-loop gap %.2f ms\n",
        timeoutMs, scanNs / 1e6, boundMs, scanNs / 1e6 - boundMs, (scanNs / 1e6 - boundMs) / Addresses,
        listenNs / 1e6, total.nsecsElapsed() / 1e6, worstGapNs / 1e6);
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TxSim sim;
    // One module that stays silent: an empty line.
    if (!sim.start() || !sim.ok(QStringLiteral("log off")) || !sim.ok(QStringLiteral("fault silent on")))
        return std::puts("txsim did not start"), 1;
    ModuleSession session;
    session.OpenPort(sim.portName());
    for (const int timeoutMs : {BusScanner::MinTimeoutMs, BusScanner::DefaultTimeoutMs})
        if (!Measure(session, timeoutMs))
            return 1;
    return 0;
}
