#pragma once
// What several benchmarks measure with: this process's CPU time, and running
// the event loop for a while.

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <vector>

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

/// CPU time of this thread: other programs on a busy machine do not count.
inline double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double Max(const std::vector<double> &v)
{
    return *std::max_element(v.begin(), v.end());
}
