#include "device/BusScanner.h"

#include "device/ModuleSession.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <exception>

BusScanner::BusScanner(ModuleSession &session, QObject *parent) : QObject(parent), m_session(session)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire late by a twentieth of its interval: the time-out
    // of each question is what bounds the length of a scan.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &BusScanner::TimerExpired);
    connect(&m_session.link(), &DeviceLink::replyHandled, this, &BusScanner::ReplyHandled);
    connect(&m_session, &ModuleSession::portLost, this, [this](const QString &reason) {
        if (isRunning())
            Finish(Ending::PortFailed, reason);
    });
}

BusScanner::~BusScanner()
{
    if (isRunning())
        m_session.SetFollowReplies(true);
}

void BusScanner::setTimeoutMs(int ms)
{
    m_timeoutMs = std::clamp(ms, MinTimeoutMs, MaxTimeoutMs);
}

BusScanner::Refusal BusScanner::start(DeviceAddress from, DeviceAddress to)
{
    const int first = std::max<int>(from, FirstAddress);
    if (isRunning())
        return Refusal::Running;
    if (first > to)
        return Refusal::EmptyRange;
    if (!m_session.IsPortOpen())
        return Refusal::PortClosed;
    if (m_session.IsReading())
        return Refusal::Reading;
    // The scan holds the line for its run: every other request is refused
    // until it ends, so no poll or window shares the line with it.
    if (m_session.PollPending() || !m_session.link().Reserve(this))
        return Refusal::LineBusy;

    m_from = first;
    m_to = to;
    m_asked = first;
    m_stopRequested = false;
    m_unanswered.reset();
    m_savedCommand = m_session.reply().ReplyCommand;
    m_savedValue = m_session.reply().ReplyValue;
    m_session.SetFollowReplies(false);
    m_phase = Phase::Listening;
    m_timer.start(m_listenMs);
    emit listening();
    return Refusal::None;
}

void BusScanner::stop()
{
    if (!isRunning())
        return;
    m_stopRequested = true;
    // With no question outstanding there is nothing to wait for.
    if (m_phase == Phase::Listening || m_phase == Phase::Settling)
        Finish(Ending::Stopped);
}

QString BusScanner::FormatValue(std::int32_t value, int decimal, const QString &unit)
{
    if (decimal <= 0)
        return QString::number(value) + unit;
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(double(value) / std::pow(10.0, decimal), 'f', decimal) + unit;
}

void BusScanner::AskNext()
{
    if (m_stopRequested)
        return Finish(Ending::Stopped);
    if (m_asked > m_to)
        return Finish(Ending::Completed);
    if (!m_session.IsPortOpen())
        return Finish(Ending::PortFailed);

    m_conflictsSeen.reset();
    m_phase = Phase::AskingAddress;
    emit asking(DeviceAddress(m_asked), m_asked - m_from, m_to - m_from + 1);
    if (m_stopRequested)
        return Finish(Ending::Stopped);
    Ask(CmdDN);
}

void BusScanner::Ask(CommandCode command)
{
    m_sinceAsked.start();
    m_answerMs = 0;
    const LineRequest request = LineRequest::For(BuildQueryFrame(DeviceAddress(m_asked), command))
                                    .withTimeout(m_timeoutMs)
                                    .heldBy(this);
    m_session.link().Request(request, this, [this](const LineOutcome &outcome) { Answered(outcome); });
}

void BusScanner::TimerExpired()
{
    switch (m_phase) {
    case Phase::Listening:
    case Phase::Settling:
        if (m_phase == Phase::Settling)
            ++m_asked;
        return AskNext();
    default:
        return;
    }
}

void BusScanner::Answered(const LineOutcome &outcome)
{
    if (m_phase != Phase::AskingAddress && m_phase != Phase::ReadingValue)
        return;
    switch (outcome.status) {
    case LineOutcome::Status::Answered:
        if (m_phase == Phase::ReadingValue)
            return Found(true, outcome.reply.value);
        if (m_stopRequested)
            return Found(false, 0);
        m_phase = Phase::ReadingValue;
        return Ask(CmdReadValue);
    case LineOutcome::Status::TimedOut:
        m_unanswered.set(std::size_t(m_asked));
        if (m_phase == Phase::ReadingValue)
            return Found(false, 0); // the module is there; only its value did not come (in time)
        ++m_asked;
        return AskNext();
    case LineOutcome::Status::Failed:
    case LineOutcome::Status::Refused:
    case LineOutcome::Status::Cancelled:
        return Finish(Ending::PortFailed, outcome.error);
    }
}

void BusScanner::ReplyHandled(const Reply &reply, bool asked)
{
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::Listening)
        return Finish(Ending::AutoSending);
    if (asked) {
        // The answer to the question on the line; its outcome follows.
        if (reply.command == CmdDN)
            m_answerMs = double(m_sinceAsked.nsecsElapsed()) / 1e6;
        return;
    }
    // Another module, a second answer from the address asked, or a late one.
    ReportConflict(reply.address);
}

void BusScanner::Found(bool hasValue, std::int32_t value)
{
    // The next address is asked once the replies that came together with this
    // answer are handled, so a second answer is still seen as one to this question.
    m_phase = Phase::Settling;
    m_timer.start(0);
    emit found(BusScanFinding{DeviceAddress(m_asked), m_answerMs, hasValue, value});
}

void BusScanner::ReportConflict(DeviceAddress answered)
{
    if (m_conflictsSeen.test(answered))
        return;
    m_conflictsSeen.set(answered);
    emit conflict(DeviceAddress(m_asked), answered, answered != m_asked && m_unanswered.test(answered));
}

void BusScanner::Finish(Ending ending, const QString &detail)
{
    // A write that fails because the port is lost ends the scan twice over:
    // through the loss and through the failed write.
    if (m_phase == Phase::Idle)
        return;
    m_timer.stop();
    m_phase = Phase::Idle;
    m_stopRequested = false;
    m_session.SetFollowReplies(true);
    m_session.link().Release(this);
    ReplyState &state = m_session.reply();
    state.ReplyCommand = m_savedCommand;
    state.ReplyValue = m_savedValue;
    emit finished(ending, detail);
}
