#include "app/SmoothingFilter.h"

#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"

#include <algorithm>

void SmoothingFilter::reset(int window)
{
    m_window = std::max(window, MinWindow);
    m_ring.resize(std::size_t(m_window));
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

void ApplySmoothing(SmoothingFilter &filter, int n, ChartData &data)
{
    if (data.channelCount() <= SampleChannels::Smoothed)
        return;
    filter.reset(n);
    data.clearChannelKeepingStorage(SampleChannels::Smoothed);
    const ChartChannel &samples = data.channel(SampleChannels::Samples);
    const qsizetype count = samples.count();
    for (qsizetype i = 0; i < count; ++i)
        data.append(SampleChannels::Smoothed, samples.x(i), filter.step(samples.y(i)));
}
