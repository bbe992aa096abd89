#pragma once
// The multi-point calibration of the module at the session's current address,
// in three runs the operator starts one after the other:
//
// - clearZero(): writes the zero value 0, so the AD codes are taken from a
//   module that adds no zero offset;
// - averagePoint(): for the load now on the sensor, settles, then averages
//   "Average Count" AD codes with a "Wait Interval" pause between two of them;
// - writeTable(): writes the AD code (AVPk) and output value (PVPk) of every
//   point, then the number of points (PointCount), then asks the module to
//   store the table.
//
// Only one runs at a time. Each request goes to the current address as it is
// then and is answered by its own reply only.

#include "device/RequestSequence.h"

#include <cstdint>
#include <vector>

/// One calibration point: averaged AD code and the output value that belongs to it.
struct LinearPoint {
    std::int32_t AV = 0;
    std::int32_t PV = 0;
};

class CalibrationRun : public RequestSequence
{
    Q_OBJECT
public:
    static constexpr int SettleBeforeAveragingMs = 200;
    static constexpr int TableStartPauseMs = 100;
    static constexpr int TableWritePauseMs = 20;
    static constexpr int StorePauseMs = 100;

    /// The step in progress, or the one the last run ended in.
    enum class Phase { Idle, ClearingZero, Settling, Sampling, WritingTable, WritingCount, Storing };
    Q_ENUM(Phase)
    enum class Ending {
        Done,       ///< zero cleared / point averaged / table stored
        Unanswered, ///< a request got no answer of its own (phase() says which)
        Failed,     ///< a request could not go out (failureText says why)
        Cancelled,  ///< cancel() was called
    };
    Q_ENUM(Ending)

    using RequestSequence::RequestSequence;

    /// Each starts a run; false (nothing started) while one runs.
    bool clearZero();
    /// At least one sample is taken; a negative pause counts as none.
    bool averagePoint(int averageCount, int waitIntervalMs);
    /// `points` are points 1, 2, ... in order; PointCount is their number.
    bool writeTable(std::vector<LinearPoint> points);
    /// Ends the run at once: finished(Cancelled), nothing more is sent.
    void cancel();

    Phase phase() const { return m_phase; }
    int averageCount() const { return m_averageCount; }
    /// The mean of the samples, truncated toward zero (after averagePoint is Done).
    std::int32_t average() const { return m_average; }

signals:
    /// Averaging: the settling pause is over, AD codes are read now.
    void sampling();
    /// Averaging: `taken` AD codes are summed and more are to come (not sent for the last one).
    void sampleTaken(int taken);
    /// Table: the PointCount write was (not) acknowledged; the store request follows either way.
    void countWritten(bool answered);
    void finished(CalibrationRun::Ending ending);

private:
    void ReadSample();
    void WriteNext();
    void WriteCount();
    void Store();
    void Finish(Ending ending);
    static Ending EndingOf(StepEnding ending);
    /// In the table, a request the device's loss kept from going out counts as
    /// unanswered: the loss is told elsewhere, the sequence takes its failure path.
    StepEnding TableStep(StepEnding ending) const;

    Phase m_phase = Phase::Idle;
    int m_averageCount = 1;
    int m_waitIntervalMs = 0;
    std::int64_t m_sum = 0;
    int m_samples = 0;
    std::int32_t m_average = 0;
    std::vector<LinearPoint> m_points;
    std::size_t m_written = 0; ///< table values acknowledged so far (AV and PV of each point)
};
