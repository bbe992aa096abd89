#include "device/WatchStatistics.h"

#include <algorithm>
#include <cmath>

WatchStatistics::WatchStatistics(qsizetype capacity)
    : m_capacity(std::size_t(std::max<qsizetype>(capacity, 1)))
{
}

void WatchStatistics::setWindowMs(qint64 ms)
{
    m_windowMs = std::max<qint64>(ms, 1);
    // The new window is built from the samples held, newest last.
    const std::uint64_t oldest = m_next - m_count;
    m_windowFirst = m_next;
    m_minQueue.clear();
    m_maxQueue.clear();
    while (m_windowFirst > oldest && at(m_windowFirst - 1).timeMs > m_endMs - m_windowMs)
        --m_windowFirst;
    for (std::uint64_t s = m_windowFirst; s < m_next; ++s) {
        while (!m_minQueue.empty() && at(m_minQueue.back()).value >= at(s).value)
            m_minQueue.pop_back();
        m_minQueue.push_back(s);
        while (!m_maxQueue.empty() && at(m_maxQueue.back()).value <= at(s).value)
            m_maxQueue.pop_back();
        m_maxQueue.push_back(s);
    }
    recompute();
}

void WatchStatistics::clear()
{
    m_next = m_count = m_windowFirst = 0;
    m_lastTimeMs = m_endMs = 0;
    m_minQueue.clear();
    m_maxQueue.clear();
    recompute();
}

void WatchStatistics::add(qint64 timeMs, double value)
{
    if (!std::isfinite(value))
        return;
    timeMs = m_count > 0 ? std::max(timeMs, m_lastTimeMs) : timeMs;
    // A full ring gives up its oldest sample, first from the window.
    if (m_count == m_capacity) {
        if (m_windowFirst == m_next - m_count)
            dropFromWindow();
        --m_count;
    }
    const std::uint64_t sequence = m_next++;
    const std::size_t slot = std::size_t(sequence % m_capacity);
    if (slot < m_ring.size())
        m_ring[slot] = Sample{timeMs, value};
    else
        m_ring.push_back(Sample{timeMs, value});
    ++m_count;
    m_lastTimeMs = timeMs;
    m_endMs = std::max(m_endMs, timeMs);

    const double n = double(m_next - m_windowFirst);
    const double delta = value - m_mean;
    m_mean += delta / n;
    m_m2 += delta * (value - m_mean);
    while (!m_minQueue.empty() && at(m_minQueue.back()).value >= value)
        m_minQueue.pop_back();
    m_minQueue.push_back(sequence);
    while (!m_maxQueue.empty() && at(m_maxQueue.back()).value <= value)
        m_maxQueue.pop_back();
    m_maxQueue.push_back(sequence);
    evictBefore(m_endMs - m_windowMs);
}

void WatchStatistics::advanceTo(qint64 nowMs)
{
    m_endMs = std::max(m_endMs, nowMs);
    evictBefore(m_endMs - m_windowMs);
}

void WatchStatistics::evictBefore(qint64 timeMs)
{
    // The window is (end - windowMs, end]: a sample exactly windowMs old has left.
    while (m_windowFirst < m_next && at(m_windowFirst).timeMs <= timeMs)
        dropFromWindow();
}

void WatchStatistics::dropFromWindow()
{
    const std::uint64_t sequence = m_windowFirst++;
    if (!m_minQueue.empty() && m_minQueue.front() == sequence)
        m_minQueue.pop_front();
    if (!m_maxQueue.empty() && m_maxQueue.front() == sequence)
        m_maxQueue.pop_front();
    const std::uint64_t left = m_next - m_windowFirst;
    if (left == 0 || ++m_removedSinceExact >= left)
        return recompute();
    // Welford's update run backwards: the mean without the sample, then its share of m2.
    const double value = at(sequence).value;
    const double delta = value - m_mean;
    m_mean -= delta / double(left);
    m_m2 = std::max(0.0, m_m2 - delta * (value - m_mean));
}

void WatchStatistics::recompute()
{
    m_removedSinceExact = 0;
    const StatisticsSummary exact = summarise(m_windowFirst, m_next);
    m_mean = exact.mean;
    const double n = double(exact.count);
    m_m2 = exact.count > 1 ? exact.stddev * exact.stddev * (n - 1) : 0;
}

StatisticsSummary WatchStatistics::window() const
{
    StatisticsSummary s;
    s.count = qsizetype(m_next - m_windowFirst);
    if (s.count == 0)
        return s;
    s.min = at(m_minQueue.front()).value;
    s.max = at(m_maxQueue.front()).value;
    // Rounding may put the mean a hair outside the values of a flat window.
    s.mean = std::clamp(m_mean, s.min, s.max);
    s.stddev = s.count > 1 ? std::sqrt(m_m2 / double(s.count - 1)) : 0;
    return s;
}

StatisticsSummary WatchStatistics::range(qint64 t0, qint64 t1) const
{
    const std::uint64_t oldest = m_next - m_count;
    // Samples are in time order: binary search over sequence numbers.
    const auto firstAtOrAfter = [&](qint64 t, bool after) {
        std::uint64_t lo = oldest, hi = m_next;
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            const qint64 tm = at(mid).timeMs;
            if (after ? tm <= t : tm < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    if (t1 < t0)
        return {};
    return summarise(firstAtOrAfter(t0, false), firstAtOrAfter(t1, true));
}

StatisticsSummary WatchStatistics::summarise(std::uint64_t first, std::uint64_t last) const
{
    StatisticsSummary s;
    if (first >= last)
        return s;
    s.count = qsizetype(last - first);
    s.min = s.max = at(first).value;
    double sum = 0;
    for (std::uint64_t q = first; q < last; ++q) {
        const double v = at(q).value;
        sum += v;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
    }
    s.mean = std::clamp(sum / double(s.count), s.min, s.max);
    double squares = 0;
    for (std::uint64_t q = first; q < last; ++q) {
        const double d = at(q).value - s.mean;
        squares += d * d;
    }
    s.stddev = s.count > 1 ? std::sqrt(squares / double(s.count - 1)) : 0;
    return s;
}
