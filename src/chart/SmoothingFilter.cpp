#include "chart/SmoothingFilter.h"

#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"

#include <algorithm>
#include <new>

void SmoothingFilter::reset(int window)
{
    const int n = std::max(window, MinWindow);
    m_ring.resize(std::size_t(n)); // first: if it fails, the filter stays as it was
    m_window = n;
    m_position = 0;
    m_firstSample = true;
}

double SmoothingFilter::step(double x)
{
    if (m_firstSample) {
        m_ring.assign(std::size_t(m_window), x);
        m_runningSum = double(m_window) * x;
        m_position = 0;
        m_lastOutput = x;
        m_firstSample = false;
        return x;
    }
    const double h = InputWeight * x + FeedbackWeight * m_lastOutput;
    double &slot = m_ring[std::size_t(m_position)];
    m_runningSum = m_runningSum - slot + h;
    slot = h;
    m_lastOutput = m_runningSum / double(m_window);
    if (++m_position == m_window)
        m_position = 0;
    return m_lastOutput;
}

void SmoothingFilter::stepRange(const double *in, double *out, std::ptrdiff_t n)
{
    if (n <= 0)
        return;
    std::ptrdiff_t i = 0;
    if (m_firstSample) {
        out[0] = step(in[0]);
        i = 1;
    }
    // step() with the state in locals, so the feedback chain never waits on
    // memory; the arithmetic is step()'s, term for term. For a window that
    // is a power of two the division is a multiplication by its exact
    // reciprocal, which rounds to the very same value but takes a fraction
    // of the time on the chain.
    double *ring = m_ring.data();
    double runningSum = m_runningSum;
    double lastOutput = m_lastOutput;
    int position = m_position;
    const auto run = [&](auto average) {
        for (; i < n; ++i) {
            const double h = InputWeight * in[i] + FeedbackWeight * lastOutput;
            double &slot = ring[position];
            runningSum = runningSum - slot + h;
            slot = h;
            lastOutput = average(runningSum);
            out[i] = lastOutput;
            if (++position == m_window)
                position = 0;
        }
    };
    const double window = double(m_window);
    if ((m_window & (m_window - 1)) == 0) {
        const double reciprocal = 1.0 / window;
        run([reciprocal](double sum) { return sum * reciprocal; });
    } else {
        run([window](double sum) { return sum / window; });
    }
    m_runningSum = runningSum;
    m_lastOutput = lastOutput;
    m_position = position;
}

bool ApplySmoothing(SmoothingFilter &filter, int n, ChartData &data)
{
    if (data.channelCount() <= SampleChannels::Smoothed)
        return true;
    data.clearChannelKeepingStorage(SampleChannels::Smoothed);
    const ChartChannel &samples = data.channel(SampleChannels::Samples);
    ChartChannel &smoothed = data.channel(SampleChannels::Smoothed);
    try {
        filter.reset(n);
        // The samples are copied straight into the smoothed channel's storage
        // and filtered there; its summaries are built once per run of points.
        smoothed.appendFilled(samples.count(), [&](double *x, double *y, qsizetype first, qsizetype count) {
            samples.copyPoints(first, count, x, y);
            filter.stepRange(y, y, count);
        });
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}
