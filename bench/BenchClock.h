#pragma once
// What several benchmarks measure with: this process's CPU time, and running
// the event loop for a while.

#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

/// User and system CPU seconds this process has used so far.
inline double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

/// System (kernel) CPU seconds this process has used so far.
inline double ProcessSystemCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6;
}

/// Handles events for `ms` milliseconds.
inline void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
