#include "device/ZeroCalibrationRun.h"

#include "device/ModuleSession.h"

#include <algorithm>

bool ZeroCalibrationRun::start(int waitIntervalMs)
{
    if (isRunning())
        return false;
    Begin();
    m_waitIntervalMs = std::max(0, waitIntervalMs);
    m_oldZero = m_measured = m_newZero = 0;
    Ask(LineRequest::For(BuildQueryFrame(session().CurrentAddress(), CmdZerO)),
        [this](StepEnding ending, const Reply &reply) {
            if (!ReadAnswered(ending))
                return;
            m_oldZero = reply.value;
            After(m_waitIntervalMs, [this] { ReadMeasured(); });
        });
    return true;
}

void ZeroCalibrationRun::cancel()
{
    if (isRunning())
        Finish(Ending::Cancelled);
}

bool ZeroCalibrationRun::ReadAnswered(StepEnding ending)
{
    if (ending == StepEnding::Answered)
        return true;
    Finish(ending == StepEnding::Unanswered ? Ending::ReadUnanswered : Ending::Failed);
    return false;
}

void ZeroCalibrationRun::ReadMeasured()
{
    Ask(LineRequest::For(BuildQueryFrame(session().CurrentAddress(), CmdReadValue)),
        [this](StepEnding ending, const Reply &reply) {
            if (!ReadAnswered(ending))
                return;
            m_measured = reply.value;
            WriteZero(); // at once, no pause
        });
}

void ZeroCalibrationRun::WriteZero()
{
    m_newZero = WrappingSum(m_oldZero, m_measured);
    Ask(LineRequest::For(BuildDataFrame(session().CurrentAddress(), CmdZerO, m_newZero)),
        [this](StepEnding ending, const Reply &) {
            switch (ending) {
            case StepEnding::Answered:
                return Finish(Ending::Written);
            case StepEnding::Unanswered:
                return Finish(Ending::WriteUnanswered);
            case StepEnding::Failed:
                return Finish(Ending::Failed);
            }
        });
}

void ZeroCalibrationRun::Finish(Ending ending)
{
    Stop();
    emit finished(ending);
}
