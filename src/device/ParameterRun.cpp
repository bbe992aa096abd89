#include "device/ParameterRun.h"

#include "device/DeviceLink.h"
#include "device/Pause.h"

ParameterRun::ParameterRun(DeviceLink &link, QObject *parent) : QObject(parent), m_link(link) {}

bool ParameterRun::start(DeviceAddress address, Plan plan)
{
    if (m_running)
        return false;
    m_plan = std::move(plan);
    m_address = address;
    m_next = m_plan.first;
    m_running = true;
    m_stopRequested = false;
    m_portWasOpen = m_link.isOpen();
    AskNext();
    return true;
}

void ParameterRun::AskNext()
{
    if (m_stopRequested)
        return Finish(Ending::Stopped);
    if (m_next > m_plan.last)
        return Finish(Ending::Completed);
    // The port went away during the run (the operator has been told of it):
    // the run ends instead of failing on every code that is left.
    if (m_portWasOpen && !m_link.isOpen())
        return Finish(Ending::PortFailed);

    const auto code = CommandCode(m_next);
    emit asking(code);
    std::int32_t value = 0;
    LineRequest request;
    if (m_plan.mode == Mode::Write) {
        value = m_plan.value ? m_plan.value(code) : 0;
        request = LineRequest::For(BuildDataFrame(m_address, code, value));
    } else {
        request = LineRequest::For(BuildQueryFrame(m_address, code));
    }
    // Only the reply from this address with this code ends the request:
    // replies to polls underneath, automatic sending or late answers to
    // earlier codes are no value of this code.
    m_link.Request(request, this,
                   [this, code, value](const LineOutcome &outcome) { Outcome(code, value, outcome); });
}

void ParameterRun::Outcome(CommandCode code, std::int32_t sent, const LineOutcome &outcome)
{
    if (!m_running)
        return;
    switch (outcome.status) {
    case LineOutcome::Status::Answered:
        emit codeDone(code, true, m_plan.mode == Mode::Write ? sent : outcome.reply.value);
        return Continue();
    case LineOutcome::Status::TimedOut:
    case LineOutcome::Status::Cancelled:
        emit codeDone(code, false, 0);
        if (m_plan.stopWhenUnanswered)
            return Finish(Ending::Unanswered);
        return Continue();
    case LineOutcome::Status::Failed:
        // Gone while its reply was awaited: this code is unanswered, and the
        // loss is told once, elsewhere.
        if (outcome.sent)
            emit codeDone(code, false, 0);
        return Finish(Ending::PortFailed, outcome.errorReported ? QString() : outcome.error);
    case LineOutcome::Status::Refused:
        return Finish(Ending::PortFailed, outcome.error);
    }
}

void ParameterRun::Continue()
{
    ++m_next;
    if (m_plan.pauseMs <= 0)
        return AskNext();
    // The pause is scheduled: windows and polls go on meanwhile.
    PauseThen(m_plan.pauseMs, this, [this] {
        if (m_running)
            AskNext();
    });
}

void ParameterRun::Finish(Ending ending, const QString &error)
{
    if (!m_running)
        return;
    m_running = false;
    m_stopRequested = false;
    emit finished(ending, error);
}
