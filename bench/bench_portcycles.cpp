// Port cycles with the device coming and going: 100 times the simulator is
// started on the same link path, the port opened, one exchange made and the
// device killed under the open port (every second cycle the operator closes
// the port first). Prints the program's resident memory, open descriptors and
// CPU time per cycle, then the CPU the program uses while idle with the port
// open, before and after the device vanished (a busy loop would show there).

#include "MainFixture.h"

#include "ui_MainUnit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace
{
constexpr int Cycles = 100;
constexpr int IdleSeconds = 3;
constexpr int WaitMs = 10000;

long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                   .size());
}

/// User plus system CPU time of this process, in milliseconds.
double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void RunEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct CycleFigures {
    long rssKiB = 0;
    int descriptors = 0;
    double cpuMs = 0;
    double wallMs = 0;
};
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir linkDir;
    const QString linkPath = linkDir.filePath(QStringLiteral("ttyBench"));
    MainFixture fx;
    TfrmMain &m = fx.create();
    TxSim &sim = fx.sim();

    QList<CycleFigures> figures;
    int failures = 0;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        const double cpuBefore = CpuMs();
        QElapsedTimer wall;
        wall.start();
        if (!sim.start({QStringLiteral("--link"), linkPath}) || !m.SelectPort(linkPath)) {
            std::printf("cycle %d: simulator did not start\n", cycle + 1);
            return 1;
        }
        m.btnOpenClick();
        m.btnDNClick();
        if (!m.IsPortOpen() || m.ValueText() != QStringLiteral("读取成功！"))
            ++failures;
        if (cycle % 2 == 0) {
            const qsizetype told = fx.prompts.errors.size();
            sim.kill();
            if (!sim.waitUntil([&] { return !m.IsPortOpen() && fx.prompts.errors.size() > told; }, WaitMs))
                ++failures;
        } else {
            m.btnOpenClick();
            sim.kill();
        }
        figures.append(
            {ResidentKiB(), OpenDescriptors(), CpuMs() - cpuBefore, double(wall.nsecsElapsed()) / 1e6});
    }

    std::printf("port cycles: %d (device killed under the open port in every second one), %d failed, "
                "operator told %lld times\n",
                Cycles, failures, static_cast<long long>(fx.prompts.errors.size()));
    std::printf("%6s %10s %6s %12s %10s\n", "cycle", "RSS KiB", "fds", "CPU ms", "wall ms");
    for (int i = 0; i < figures.size(); ++i) {
        if (i < 3 || (i + 1) % 10 == 0) {
            const CycleFigures &f = figures[i];
            std::printf("%6d %10ld %6d %12.2f %10.2f\n", i + 1, f.rssKiB, f.descriptors, f.cpuMs, f.wallMs);
        }
    }
    double cpuTotal = 0;
    double wallTotal = 0;
    for (const CycleFigures &f : figures) {
        cpuTotal += f.cpuMs;
        wallTotal += f.wallMs;
    }
    std::printf("RSS growth from cycle 1 to %d: %ld KiB (%.1f KiB per cycle after the first)\n", Cycles,
                figures.last().rssKiB - figures.first().rssKiB,
                double(figures.last().rssKiB - figures.first().rssKiB) / (Cycles - 1));
    std::printf("open descriptors after cycle 1: %d, after cycle %d: %d\n", figures.first().descriptors,
                Cycles, figures.last().descriptors);
    std::printf("program CPU per cycle: %.2f ms mean (wall %.2f ms mean)\n", cpuTotal / Cycles,
                wallTotal / Cycles);

    // Idle with the port open: the device present, then vanished.
    if (!sim.start({QStringLiteral("--link"), linkPath}) || !m.SelectPort(linkPath))
        return 1;
    m.btnOpenClick();
    if (!m.IsPortOpen())
        return 1;
    int notifications = 0;
    QObject::connect(&m.comPort(), &QSerialPort::errorOccurred, &m, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            ++notifications;
    });
    QObject::connect(&m.comPort(), &QIODevice::readyRead, &m, [&] { ++notifications; });
    double cpu = CpuMs();
    RunEvents(IdleSeconds * 1000);
    const double idlePresent = CpuMs() - cpu;
    const qsizetype told = fx.prompts.errors.size();
    sim.kill();
    QElapsedTimer sinceKill;
    sinceKill.start();
    cpu = CpuMs();
    qint64 closedAfterMs = -1;
    QObject::connect(&m.comPort(), &QIODevice::aboutToClose, &m,
                     [&] { closedAfterMs = sinceKill.elapsed(); });
    RunEvents(IdleSeconds * 1000);
    const double idleVanished = CpuMs() - cpu;
    std::printf("idle %d s with the port open, device present: program CPU %.1f ms (%.2f %%)\n", IdleSeconds,
                idlePresent, idlePresent / (IdleSeconds * 10.0));
    std::printf(
        "idle %d s after the device vanished: program CPU %.1f ms (%.2f %%); port closed after %lld ms; "
        "%d port notifications; operator told %lld time(s)\n",
        IdleSeconds, idleVanished, idleVanished / (IdleSeconds * 10.0), static_cast<long long>(closedAfterMs),
        notifications, static_cast<long long>(fx.prompts.errors.size() - told));
    return 0;
}
