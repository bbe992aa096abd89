#pragma once
// Minimum, maximum, mean and standard deviation of one watched channel, over a
// window the operator chooses: the last N seconds, or an explicit time range
// (the part of the chart in view).
//
// The samples (time, value) are kept in a ring of fixed capacity (grown as
// samples come, up to it), so memory is bounded: a range query sees only what the ring still holds, and a
// window longer than the ring holds covers its newest `capacity` samples.
//
// The "last N seconds" figures are kept up to date as samples come and go, at
// O(1) amortised per sample: the count, mean and sum of squared deviations by
// Welford's update, which also takes a sample out again when it leaves the
// window; minimum and maximum by two monotonic queues of the samples that can
// still become the extreme. Taking samples out lets rounding errors build up,
// so the sums are computed exactly anew (two passes over the window) each time
// as many samples have left as the window holds: the cost is paid once per
// window length, and the error can never grow beyond one window's worth of
// updates. The ring is needed anyway: the sample that leaves must be known,
// and range queries read it. A range is computed on request, in two passes.
//
// Times are wall-clock milliseconds; samples are expected in time order (an
// earlier time than the last one's counts as the last one's). The standard
// deviation is the sample one (n - 1); a single sample gives 0.

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <vector>

struct StatisticsSummary {
    qsizetype count = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
    double stddev = 0;
};

class WatchStatistics
{
public:
    static constexpr qsizetype DefaultCapacity = 65536; ///< 1 MiB of samples
    static constexpr qint64 DefaultWindowMs = 60000;

    explicit WatchStatistics(qsizetype capacity = DefaultCapacity);

    /// The "last N seconds" window, in ms (at least 1); the samples of the new
    /// window are taken from the ring.
    void setWindowMs(qint64 ms);
    qint64 windowMs() const { return m_windowMs; }

    void add(qint64 timeMs, double value);
    /// Lets the window end at `nowMs` even when no sample came (a silent channel).
    void advanceTo(qint64 nowMs);
    void clear();

    /// Over the last windowMs() up to the newest sample (or advanceTo()).
    StatisticsSummary window() const;
    /// Over the held samples with t0 <= time <= t1.
    StatisticsSummary range(qint64 t0, qint64 t1) const;

    qsizetype size() const { return qsizetype(m_count); }
    qsizetype capacity() const { return qsizetype(m_capacity); }

private:
    struct Sample {
        qint64 timeMs = 0;
        double value = 0;
    };
    const Sample &at(std::uint64_t sequence) const { return m_ring[std::size_t(sequence % m_capacity)]; }
    /// Takes the oldest sample of the window out of it.
    void dropFromWindow();
    void evictBefore(qint64 timeMs);
    void recompute();
    /// Two-pass figures over the ring's samples first..last-1 (sequence numbers).
    StatisticsSummary summarise(std::uint64_t first, std::uint64_t last) const;

    std::size_t m_capacity;
    std::vector<Sample> m_ring;
    std::uint64_t m_next = 0;  ///< sequence number of the next sample
    std::uint64_t m_count = 0; ///< samples held in the ring
    qint64 m_windowMs = DefaultWindowMs;
    qint64 m_lastTimeMs = 0;
    qint64 m_endMs = 0; ///< where the window ends: the newest sample, or a later advanceTo()

    // The window: samples m_windowFirst .. m_next - 1.
    std::uint64_t m_windowFirst = 0;
    double m_mean = 0;
    double m_m2 = 0; ///< sum of squared deviations from the mean
    std::uint64_t m_removedSinceExact = 0;
    std::deque<std::uint64_t> m_minQueue; ///< increasing values, oldest first
    std::deque<std::uint64_t> m_maxQueue; ///< decreasing values, oldest first
};
