// Round trip of one exchange against the simulator over a pseudo-terminal:
// the device link alone, and through the main window (reply displayed and
// charted). Prints median and p99 of 10,000 exchanges each.

#include "LineWait.h"
#include "MainFixture.h"
#include "device/DeviceLink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int Exchanges = 10000;

void report(const char *what, std::vector<qint64> &ns)
{
    std::sort(ns.begin(), ns.end());
    const double median = ns[ns.size() / 2] / 1000.0;
    const double p99 = ns[ns.size() * 99 / 100] / 1000.0;
    const double worst = ns.back() / 1000.0;
    std::printf("%-34s n=%zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, ns.size(), median, p99, worst);
}

template <typename Send> bool measure(const char *what, Send send)
{
    std::vector<qint64> ns;
    ns.reserve(Exchanges);
    QElapsedTimer t;
    for (int i = 0; i < Exchanges; ++i) {
        t.start();
        if (!send())
            return std::printf("%s: exchange %d timed out\n", what, i), false;
        ns.push_back(t.nsecsElapsed());
    }
    report(what, ns);
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The link on its own.
    {
        TxSim sim;
        if (!sim.start() || !sim.ok(QStringLiteral("log off")))
            return std::puts("txsim did not start"), 1;
        QSerialPort port(sim.portName());
        if (!port.open(QIODevice::ReadWrite))
            return std::puts("cannot open the simulator's port"), 1;
        DeviceLink link;
        link.attach(&port);
        measure("device link (CmdDN query)", [&] { return ExchangeNow(link, BuildQueryFrame(1, CmdDN)); });
    }

    // Through the main window: each reply is shown and charted.
    {
        MainFixture f(DeviceLink::DefaultReplyTimeoutMs);
        if (!f.connect() || !f.sim().ok(QStringLiteral("log off")))
            return std::puts("main window could not open the simulator"), 1;
        TfrmMain &m = f.main();
        measure("main window (CmdReadValue, shown)",
                [&] { return ExchangeNow(m.link(), BuildQueryFrame(1, CmdReadValue)); });
        std::printf("points charted: %lld\n", static_cast<long long>(m.SampleCount()));
    }
    return 0;
}
