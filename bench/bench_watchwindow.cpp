// The whole watch window on 32 modules: the simulator plays them at 115200
// baud with an answer time of 1 ms (each on a sine around a load that names
// it), the window shows its table, 32 traces and their sum live, checks a
// limit on every module and the sum (none crossed), keeps its statistics and its journal.
// Measured: rounds per second against the wire's limit, samples lost or given
// to the wrong module, and this process's CPU (a share of one core) at full
// speed and at a 100 ms interval. Run it on a real X server (xvfb-run) for the
// painting as the operator's screen would cost it.

#include "BenchClock.h"
#include "TxSim.h"
#include "WatchLine.h"
#include "chart/ChartWidget.h"
#include "device/DeviceLink.h"
#include "device/ModuleSession.h"
#include "io/SettingsStore.h"
#include "ui_WatchUnit.h"
#include "watch/WatchUnit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace
{
using namespace WatchLine;

struct Figures {
    double roundsPerSecond = 0;
    double cpuPercent = 0;
    quint64 samples = 0;
    quint64 misassigned = 0;
    quint64 timeouts = 0;
    quint64 rounds = 0;
};

Figures Run(TfrmWatch &window, int intervalMs)
{
    Figures f;
    QObject guard;
    QObject::connect(&window.watch(), &BusWatch::valueRead, &guard, [&](int index, std::int32_t raw) {
        ++f.samples;
        if (Misassigned(index, raw))
            ++f.misassigned;
    });
    quint64 timeoutsBefore = 0;
    for (const WatchModuleStatus &s : window.watch().statuses())
        timeoutsBefore += s.timeouts;
    const quint64 roundsBefore = window.watch().rounds();
    window.ui()->speInterval->setClampedValue(intervalMs);
    const double cpu0 = ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    window.btnStartClick();
    RunFor(RunMs);
    window.btnStopClick();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    f.cpuPercent = 100 * (ProcessCpuSeconds() - cpu0) / seconds;
    f.rounds = window.watch().rounds() - roundsBefore;
    f.roundsPerSecond = double(f.rounds) / seconds;
    for (const WatchModuleStatus &s : window.watch().statuses())
        f.timeouts += s.timeouts;
    f.timeouts -= timeoutsBefore;
    RunFor(50); // the withdrawn poll's reply
    return f;
}

void Print(const char *what, const Figures &f)
{
    std::printf("%-18s %6.2f rounds/s  samples %llu  timeouts %llu  misassigned %llu  CPU %.2f %% of a core\n",
                what, f.roundsPerSecond, static_cast<unsigned long long>(f.samples),
                static_cast<unsigned long long>(f.timeouts), static_cast<unsigned long long>(f.misassigned),
                f.cpuPercent);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TxSim sim;
    if (!sim.start({QStringLiteral("--modules"), QString::number(Modules), QStringLiteral("--answer-delay"),
                    QString::number(AnswerMs), QStringLiteral("--baud"), QString::number(Baud)}))
        return std::puts("txsim did not start"), 1;
    sim.ok(QStringLiteral("log off"));
    WatchConfig config;
    WatchChannelConfig sum{ComputedChannel::Kind::Sum, {}, QStringLiteral("sum"), QStringLiteral("kg")};
    for (int a = 1; a <= Modules; ++a) {
        LoadModule(sim, a);
        config.modules << WatchModule{DeviceAddress(a), QStringLiteral("m%1").arg(a), 0, QStringLiteral("kg"), true};
        // Checked every round, never crossed: an alarm is the exception.
        config.limits << WatchLimitConfig{config.modules.constLast().name,
                                          {0.0, double(a * LoadStep + 2 * SineAmplitude)}};
        sum.members << a - 1;
    }
    config.channels << sum;
    config.limits << WatchLimitConfig{sum.name, {0.0, 1e12}};

    QTemporaryDir dir;
    SettingsStore settings(QDir(dir.path()).filePath(QStringLiteral("Data.ini")));
    ModuleSession session;
    session.SetBaud(Baud);
    session.OpenPort(sim.portName());
    TfrmWatch window(session, settings);
    window.ApplyConfig(config);
    window.resize(1200, 800);
    // bench_watchwindow [nochart|notable]: the window without one of its parts, to see what each costs.
    const QByteArray without = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (without == "nochart")
        window.chart()->hide();
    if (without == "notable")
        window.ui()->tblWatch->hide();
    window.show();
    RunFor(500);

    const double exchangeMs = ExchangeMs(Baud, AnswerMs);
    const double wireRounds = 1000.0 / (Modules * exchangeMs);
    std::printf("%d modules at %d baud, answer time %d ms: the wire allows %.2f rounds/s; window %s\n", Modules,
                Baud, AnswerMs, wireRounds, qPrintable(QGuiApplication::platformName()));
    const Figures fast = Run(window, 0);
    Print("full speed:", fast);
    std::printf("%-18s %.1f %% of the wire's limit; %d traces live, %lld points each\n", "",
                100 * fast.roundsPerSecond / wireRounds, Modules + 1,
                static_cast<long long>(window.chart()->count(window.ChartChannelOf(0))));
    const Figures slow = Run(window, SlowIntervalMs);
    Print("interval 100 ms:", slow);
    const bool clean = fast.misassigned == 0 && slow.misassigned == 0 && fast.timeouts == 0 &&
                       fast.samples >= fast.rounds * Modules && fast.samples <= (fast.rounds + 1) * Modules;
    std::printf("%s\n", clean ? "no sample lost or misassigned" : "SAMPLES LOST OR MISASSIGNED");
    return clean ? 0 : 1;
}
