#include "device/CalibrationRun.h"

#include "device/ModuleSession.h"

#include <algorithm>

bool CalibrationRun::clearZero()
{
    if (isRunning())
        return false;
    Begin();
    m_phase = Phase::ClearingZero;
    Ask(LineRequest::For(BuildDataFrame(session().CurrentAddress(), CmdZerO, 0)),
        [this](StepEnding ending, const Reply &) { Finish(EndingOf(ending)); });
    return true;
}

bool CalibrationRun::averagePoint(int averageCount, int waitIntervalMs)
{
    if (isRunning())
        return false;
    Begin();
    m_averageCount = std::max(1, averageCount);
    m_waitIntervalMs = std::max(0, waitIntervalMs);
    m_sum = 0;
    m_samples = 0;
    m_phase = Phase::Settling;
    After(SettleBeforeAveragingMs, [this] {
        m_phase = Phase::Sampling;
        const quint64 run = generation();
        emit sampling();
        if (run == generation())
            ReadSample();
    });
    return true;
}

void CalibrationRun::ReadSample()
{
    Ask(LineRequest::For(BuildQueryFrame(session().CurrentAddress(), CmdReadAdCode)),
        [this](StepEnding ending, const Reply &reply) {
            if (ending != StepEnding::Answered)
                return Finish(EndingOf(ending));
            // Only an AD code is a sample.
            if (reply.command == CmdReadAdCode) {
                m_sum += reply.value;
                if (++m_samples == m_averageCount) {
                    m_average = static_cast<std::int32_t>(m_sum / m_averageCount); // truncates toward zero
                    return Finish(Ending::Done);
                }
                const quint64 run = generation();
                emit sampleTaken(m_samples);
                if (run != generation())
                    return;
            }
            After(m_waitIntervalMs, [this] { ReadSample(); });
        });
}

bool CalibrationRun::writeTable(std::vector<LinearPoint> points)
{
    if (isRunning())
        return false;
    Begin();
    m_points = std::move(points);
    m_written = 0;
    m_phase = Phase::WritingTable;
    After(TableStartPauseMs, [this] { WriteNext(); });
    return true;
}

StepEnding CalibrationRun::TableStep(StepEnding ending) const
{
    return ending == StepEnding::Failed && failureReported() ? StepEnding::Unanswered : ending;
}

void CalibrationRun::WriteNext()
{
    if (m_written == 2 * m_points.size())
        return WriteCount();
    const int k = int(m_written / 2) + 1;
    const LinearPoint &point = m_points[m_written / 2];
    const bool av = m_written % 2 == 0;
    const DataFrame frame =
        BuildDataFrame(session().CurrentAddress(), av ? CmdAVP(k) : CmdPVP(k), av ? point.AV : point.PV);
    Ask(LineRequest::For(frame), [this](StepEnding ending, const Reply &) {
        ending = TableStep(ending);
        if (ending != StepEnding::Answered)
            return Finish(EndingOf(ending));
        ++m_written;
        After(TableWritePauseMs, [this] { WriteNext(); });
    });
}

void CalibrationRun::WriteCount()
{
    m_phase = Phase::WritingCount;
    const auto count = static_cast<std::int32_t>(m_points.size());
    Ask(LineRequest::For(BuildDataFrame(session().CurrentAddress(), CmdPointCount, count)),
        [this](StepEnding ending, const Reply &) {
            ending = TableStep(ending);
            if (ending == StepEnding::Failed)
                return Finish(Ending::Failed);
            const quint64 run = generation();
            emit countWritten(ending == StepEnding::Answered);
            if (run == generation())
                After(StorePauseMs, [this] { Store(); });
        });
}

void CalibrationRun::Store()
{
    m_phase = Phase::Storing;
    Ask(LineRequest::For(BuildQueryFrame(session().CurrentAddress(), CmdStore)),
        [this](StepEnding ending, const Reply &) { Finish(EndingOf(TableStep(ending))); });
}

void CalibrationRun::cancel()
{
    if (isRunning())
        Finish(Ending::Cancelled);
}

CalibrationRun::Ending CalibrationRun::EndingOf(StepEnding ending)
{
    switch (ending) {
    case StepEnding::Answered:
        return Ending::Done;
    case StepEnding::Unanswered:
        return Ending::Unanswered;
    case StepEnding::Failed:
        break;
    }
    return Ending::Failed;
}

void CalibrationRun::Finish(Ending ending)
{
    Stop();
    emit finished(ending);
}
