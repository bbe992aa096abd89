#pragma once
// Smoothing of the sample trace: a moving average over the last N values of
// an exponential pre-smoothing whose feedback is the filter's own previous
// output. Used by the main window to rebuild chart channel 1 from channel 0.

#include <cstddef>
#include <vector>

class ChartData;

class SmoothingFilter
{
public:
    static constexpr int DefaultWindow = 32; // track bar position at start
    static constexpr int MinWindow = 1;
    static constexpr int MaxWindow = 32;
    static constexpr double InputWeight = 0.2;    // weight of the new sample
    static constexpr double FeedbackWeight = 0.8; // weight of the previous output

    /// Sets the window length N (values below 1 count as 1), empties the
    /// position and arms the first-sample state. The ring keeps its memory.
    void reset(int window);

    /// One filter step: the output for input x. The first step after a reset
    /// fills the ring with x and returns x unchanged.
    double step(double x);
    /// n filter steps: out[i] = step(in[i]) for i = 0 .. n-1 in order, with
    /// exactly the same results. out may be in (filtering in place).
    void stepRange(const double *in, double *out, std::ptrdiff_t n);

    int window() const { return m_window; }
    double lastOutput() const { return m_lastOutput; }
    bool awaitsFirstSample() const { return m_firstSample; }

private:
    int m_window = DefaultWindow;
    std::vector<double> m_ring; // the last N pre-smoothed values
    int m_position = 0;         // ring slot to overwrite next
    double m_runningSum = 0.0;  // sum of the ring, only ever updated incrementally
    double m_lastOutput = 0.0;
    bool m_firstSample = true;
};

/// Resets the filter to window n and rebuilds the smoothed channel from the
/// samples channel: one point per sample, same X, Y = filter output. Marks of
/// the samples are not looked at; the samples channel is not changed. Does
/// nothing to a chart with fewer than two channels.
/// False when memory ran out (std::bad_alloc never leaves it): the smoothed
/// channel then holds the trace of the first samples only.
bool ApplySmoothing(SmoothingFilter &filter, int n, ChartData &data);
