// The watch of 32 modules on one line: the simulator plays them at 115200
// baud (its replies paced at 10 bits a byte) with an answer time of 1 ms, each
// module on a sine of its own around a load that names it (address x 10000,
// +-2000), so every value shows which module sent it. Measured: rounds per
// second at full speed against what the wire allows for that answer time,
// samples lost or given to the wrong module, and this process's CPU (as a
// share of one core) at full speed and at a 100 ms interval, with a sum
// channel, statistics and limits computed every round as a window would.

#include "BenchClock.h"
#include "TxSim.h"
#include "WatchLine.h"
#include "device/BusWatch.h"
#include "device/ComputedChannel.h"
#include "device/LimitAlarm.h"
#include "device/ModuleSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace
{
using namespace WatchLine;
constexpr int DefaultBaud = WatchLine::Baud;
constexpr int DefaultAnswerMs = WatchLine::AnswerMs;

/// CPU seconds (user + system) of another process, from /proc.
double ProcessCpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

struct Tally {
    quint64 samples = 0;
    quint64 misassigned = 0;
    quint64 rounds = 0;
    quint64 alarms = 0;
};

struct Figures {
    double roundsPerSecond = 0;
    double cpuPercent = 0;
    double simCpuPercent = 0;
    Tally tally;
    quint64 timeouts = 0;
};

Figures Run(BusWatch &watch, TxSim &sim, int intervalMs)
{
    Figures figures;
    Tally &tally = figures.tally;
    ComputedChannel total(
        ComputedChannel::Kind::Sum,
        [] {
            QList<int> all;
            for (int i = 0; i < Modules; ++i)
                all << i;
            return all;
        }(),
        QStringLiteral("total"));
    LimitAlarm alarm;
    alarm.setLimits(total.name(), {0.0, 1e12});
    QObject guard;
    QObject::connect(&watch, &BusWatch::valueRead, &guard, [&](int index, std::int32_t raw) {
        ++tally.samples;
        if (Misassigned(index, raw))
            ++tally.misassigned;
    });
    QObject::connect(&watch, &BusWatch::roundCompleted, &guard, [&](quint64, qint64 timeMs) {
        ++tally.rounds;
        if (const std::optional<double> value = total.update(watch.statuses(), timeMs)) {
            tally.alarms += alarm.check(total.name(), *value, timeMs);
            (void)total.statistics().window();
        }
        for (int i = 0; i < Modules; ++i)
            (void)watch.statistics(i).window();
    });
    quint64 timeoutsBefore = 0;
    for (const WatchModuleStatus &s : watch.statuses())
        timeoutsBefore += s.timeouts;

    watch.setIntervalMs(intervalMs);
    const double cpu0 = ProcessCpuSeconds();
    const double sim0 = ProcessCpuSecondsOf(sim.process()->processId());
    QElapsedTimer clock;
    clock.start();
    watch.start();
    RunFor(RunMs);
    watch.stop();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    figures.cpuPercent = 100 * (ProcessCpuSeconds() - cpu0) / seconds;
    figures.simCpuPercent = 100 * (ProcessCpuSecondsOf(sim.process()->processId()) - sim0) / seconds;
    figures.roundsPerSecond = double(tally.rounds) / seconds;
    for (const WatchModuleStatus &s : watch.statuses())
        figures.timeouts += s.timeouts;
    figures.timeouts -= timeoutsBefore;
    RunFor(50); // the withdrawn poll's reply
    return figures;
}

void Print(const char *what, const Figures &f)
{
    std::printf("%-22s %6.2f rounds/s  samples %llu (rounds x 32: %llu)  timeouts %llu  misassigned %llu  "
                "CPU %.2f %% of a core (simulator %.2f %%)\n",
                what, f.roundsPerSecond, static_cast<unsigned long long>(f.tally.samples),
                static_cast<unsigned long long>(f.tally.rounds * Modules),
                static_cast<unsigned long long>(f.timeouts),
                static_cast<unsigned long long>(f.tally.misassigned), f.cpuPercent, f.simCpuPercent);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // bench_watch [BAUD [ANSWER_MS]]: another line (BAUD 0: the simulator answers at once).
    const int Baud = argc > 1 ? std::atoi(argv[1]) : DefaultBaud;
    const int AnswerMs = argc > 2 ? std::atoi(argv[2]) : DefaultAnswerMs;
    TxSim sim;
    QStringList args{QStringLiteral("--modules"), QString::number(Modules), QStringLiteral("--answer-delay"),
                     QString::number(AnswerMs)};
    if (Baud > 0)
        args << QStringLiteral("--baud") << QString::number(Baud);
    if (!sim.start(args))
        return std::puts("txsim did not start"), 1;
    sim.ok(QStringLiteral("log off"));
    QList<WatchModule> modules;
    for (int a = 1; a <= Modules; ++a) {
        LoadModule(sim, a);
        modules << WatchModule{DeviceAddress(a), QStringLiteral("m%1").arg(a), 0, QStringLiteral("kg"), true};
    }
    ModuleSession session;
    session.SetBaud(Baud > 0 ? Baud : DefaultBaud);
    session.OpenPort(sim.portName());
    BusWatch watch(session.link());
    watch.setModules(modules);

    const double exchangeMs = ExchangeMs(Baud, AnswerMs);
    const double wireRounds = 1000.0 / (Modules * exchangeMs);
    std::printf(
        "%d modules at %d baud, answer time %d ms: the wire allows %.2f rounds/s (%.3f ms an exchange)\n",
        Modules, Baud, AnswerMs, wireRounds, exchangeMs);
    const Figures fast = Run(watch, sim, 0);
    Print("full speed:", fast);
    std::printf("%-22s %.1f %% of the wire's limit\n", "", 100 * fast.roundsPerSecond / wireRounds);
    const Figures slow = Run(watch, sim, SlowIntervalMs);
    Print("interval 100 ms:", slow);
    const bool clean = fast.tally.misassigned == 0 && slow.tally.misassigned == 0 && fast.timeouts == 0 &&
                       slow.timeouts == 0;
    std::printf("%s\n", clean ? "no sample lost or misassigned" : "SAMPLES LOST OR MISASSIGNED");
    return clean ? 0 : 1;
}
