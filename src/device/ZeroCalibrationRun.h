#pragma once
// The zero calibration of the module at the session's current address: reads
// its zero value (ZerO), pauses "Wait Interval", reads the value it measures
// now, and writes their sum back as the new zero value, so the unloaded
// sensor reads zero. Each request goes to the current address as it is then.
// Only a request's own reply answers it; a read that is not answered ends the
// run before anything is written.

#include "device/RequestSequence.h"

#include <cstdint>

class ZeroCalibrationRun : public RequestSequence
{
    Q_OBJECT
public:
    enum class Ending {
        Written,         ///< the module acknowledged the new zero value
        ReadUnanswered,  ///< a read got no answer; nothing was written
        WriteUnanswered, ///< the write got no answer; the module may or may not have taken it
        Failed,          ///< a request could not go out (failureText says why)
        Cancelled,       ///< cancel() was called
    };
    Q_ENUM(Ending)

    using RequestSequence::RequestSequence;

    /// Starts the run with a pause of `waitIntervalMs` (negative: none)
    /// between the two reads; false when it runs already.
    bool start(int waitIntervalMs);
    /// Ends the run at once: finished(Cancelled), nothing more is sent.
    void cancel();

    std::int32_t oldZero() const { return m_oldZero; }
    std::int32_t measured() const { return m_measured; }
    /// oldZero() + measured(), wrapping around in 32 bits.
    std::int32_t newZero() const { return m_newZero; }

    static std::int32_t WrappingSum(std::int32_t a, std::int32_t b)
    {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    }

signals:
    void finished(ZeroCalibrationRun::Ending ending);

private:
    void ReadMeasured();
    void WriteZero();
    void Finish(Ending ending);
    /// Ends the run unless the read was answered.
    bool ReadAnswered(StepEnding ending);

    int m_waitIntervalMs = 0;
    std::int32_t m_oldZero = 0;
    std::int32_t m_measured = 0;
    std::int32_t m_newZero = 0;
};
