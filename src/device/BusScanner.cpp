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
    if (m_session.PollPending() || m_session.link().timerWait().isActive())
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
    if (m_session.IsReading())
        return Finish(Ending::ReadingStarted);
    if (m_session.link().timerWait().isActive())
        return Finish(Ending::LineBusy);

    m_conflictsSeen.reset();
    m_phase = Phase::AskingAddress;
    emit asking(DeviceAddress(m_asked), m_asked - m_from, m_to - m_from + 1);
    if (m_stopRequested)
        return Finish(Ending::Stopped);
    Ask(CmdDN);
}

void BusScanner::Ask(CommandCode command)
{
    // Everything is set before the write: the port may hand over replies
    // while it writes, and they belong to this question.
    m_sinceAsked.start();
    m_timer.start(m_timeoutMs);
    try {
        m_session.link().SendFrame(BuildQueryFrame(DeviceAddress(m_asked), command));
    } catch (const std::exception &e) {
        Finish(Ending::PortFailed, QString::fromStdString(e.what()));
    }
}

void BusScanner::TimerExpired()
{
    switch (m_phase) {
    case Phase::Idle:
        return;
    case Phase::Listening:
        return AskNext();
    case Phase::AskingAddress:
        m_unanswered.set(std::size_t(m_asked));
        ++m_asked;
        return AskNext();
    case Phase::ReadingValue:
        // The module is there; only its value did not come (in time).
        m_unanswered.set(std::size_t(m_asked));
        return Found(false, 0);
    case Phase::Settling:
        ++m_asked;
        return AskNext();
    }
}

void BusScanner::ReplyHandled(const Reply &reply)
{
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::Listening)
        return Finish(Ending::AutoSending);
    // A live-reading poll's reply: the line is no longer the scan's.
    if (m_session.IsReading())
        return Finish(Ending::ReadingStarted);
    if (reply.address != m_asked)
        return ReportConflict(reply.address);

    if (m_phase == Phase::AskingAddress && reply.command == CmdDN) {
        m_answerMs = double(m_sinceAsked.nsecsElapsed()) / 1e6;
        if (m_stopRequested)
            return Found(false, 0);
        m_phase = Phase::ReadingValue;
        Ask(CmdReadValue);
        return;
    }
    if (m_phase == Phase::ReadingValue && reply.command == CmdReadValue)
        return Found(true, reply.value);
    // One more reply from the address asked: a second module answers there.
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
    ReplyState &state = m_session.reply();
    state.ReplyCommand = m_savedCommand;
    state.ReplyValue = m_savedValue;
    emit finished(ending, detail);
}
