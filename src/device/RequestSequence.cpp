#include "device/RequestSequence.h"

#include "device/ModuleSession.h"
#include "device/Pause.h"

StepEnding JudgeStep(const LineOutcome &outcome)
{
    if (outcome.answered())
        return StepEnding::Answered;
    // A request the port's closing withdrew was asked and not answered, as
    // was one whose reply the device's loss cut off.
    if (outcome.unanswered() || outcome.status == LineOutcome::Status::Cancelled)
        return StepEnding::Unanswered;
    return StepEnding::Failed;
}

RequestSequence::RequestSequence(ModuleSession &session, QObject *parent)
    : QObject(parent), m_session(session)
{
}

RequestSequence::~RequestSequence()
{
    if (m_requestPending)
        m_session.link().Cancel(m_requestId);
}

void RequestSequence::Begin()
{
    m_running = true;
    ++m_generation;
    m_failure = {};
}

void RequestSequence::Stop()
{
    m_running = false;
    ++m_generation;
    if (m_requestPending) {
        // A request on the line keeps it until its reply or time-out; its
        // outcome no longer reaches us.
        m_requestPending = false;
        m_session.link().Cancel(m_requestId);
    }
}

void RequestSequence::Ask(LineRequest request, StepDone then)
{
    if (!m_running)
        return;
    const quint64 asked = m_generation;
    m_requestPending = true;
    m_requestId = m_session.link().Request(std::move(request), this,
                                           [this, asked, then = std::move(then)](const LineOutcome &outcome) {
                                               if (asked != m_generation)
                                                   return;
                                               m_requestPending = false;
                                               const StepEnding ending = JudgeStep(outcome);
                                               if (ending == StepEnding::Failed)
                                                   m_failure = outcome;
                                               then(ending, outcome.reply);
                                           });
}

void RequestSequence::After(int ms, std::function<void()> then)
{
    if (!m_running)
        return;
    const quint64 scheduled = m_generation;
    PauseThen(ms, this, [this, scheduled, then = std::move(then)] {
        if (scheduled == m_generation)
            then();
    });
}
