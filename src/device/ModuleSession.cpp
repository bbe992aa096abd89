#include "device/ModuleSession.h"

#include "io/OperatorError.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace
{
QString TextOpenFailed()
{
    return QCoreApplication::translate("ModuleSession", "串口打开失败！");
}
QString TextNoPermission()
{
    return QCoreApplication::translate("ModuleSession",
                                       "\n当前用户无权访问该串口：请把用户加入 \"dialout\" 组后重新登录。");
}
} // namespace

ModuleSession::ModuleSession(int replyTimeoutMs, QObject *parent)
    : QObject(parent), m_link(nullptr, replyTimeoutMs)
{
    m_timerRead.setObjectName(QStringLiteral("TimerRead"));
    m_link.timerWait().setObjectName(QStringLiteral("TimerWait"));
    m_comPort1.setObjectName(QStringLiteral("ComPort1"));
    SetReadInterval(m_current.ReadInterval);

    connect(&m_timerRead, &QTimer::timeout, this, &ModuleSession::TimerReadTimer);
    connect(&m_link, &DeviceLink::replyHandled, this, &ModuleSession::ReplyHandled);
    connect(&m_link, &DeviceLink::deviceLost, this, &ModuleSession::DeviceLost);
    m_link.attach(&m_comPort1);
}

ModuleSession::~ModuleSession()
{
    m_timerRead.stop();
    m_link.detach();
    if (m_comPort1.isOpen())
        m_comPort1.close();
}

// --- Current address ---------------------------------------------------------

void ModuleSession::SetCurrentAddress(qint64 address)
{
    const auto clamped = DeviceAddress(std::clamp<qint64>(address, AddressMin, AddressMax));
    if (clamped == m_address)
        return;
    m_address = clamped;
    emit currentAddressChanged(clamped);
}

// --- The last measured value --------------------------------------------------------

double ModuleSession::DisplayValueOf(std::int32_t value, int decimal)
{
    return decimal > 0 ? double(value) / std::pow(10.0, decimal) : double(value);
}

// --- Settings in force -----------------------------------------------------------

void ModuleSession::SetReadInterval(int ms)
{
    m_current.ReadInterval = ms;
    // A zero or negative interval would poll without pause.
    m_timerRead.setInterval(std::max(ms, 1));
}

void ModuleSession::SetBaud(int baud)
{
    m_current.Baud = baud;
    m_comPort1.setBaudRate(baud);
}

// --- Port --------------------------------------------------------------------------

void ModuleSession::OpenPort(const QString &portName)
{
    m_comPort1.setPortName(portName);
    m_comPort1.setBaudRate(m_current.Baud);
    m_comPort1.setDataBits(QSerialPort::Data8);
    m_comPort1.setParity(QSerialPort::NoParity);
    m_comPort1.setStopBits(QSerialPort::OneStop);
    m_comPort1.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_comPort1.open(QIODevice::ReadWrite)) {
        QString reason = m_comPort1.errorString();
        if (m_comPort1.error() == QSerialPort::PermissionError)
            reason += TextNoPermission();
        m_comPort1.clearError();
        throw OperatorError(TextOpenFailed() + QLatin1Char('\n') + reason);
    }
    // Pseudo-terminals and some adapters have no modem lines: not an error.
    m_comPort1.setDataTerminalReady(true);
    m_comPort1.setRequestToSend(true);
    m_comPort1.clearError();
    m_link.attach(&m_comPort1);
}

void ModuleSession::ClosePort()
{
    m_timerRead.stop();
    PollEnded();
    if (m_comPort1.isOpen())
        m_comPort1.close();
}

void ModuleSession::ReopenPort()
{
    // A poll sent before the reopening gets no reply: the next tick asks anew.
    PollEnded();
    if (m_comPort1.isOpen())
        m_comPort1.close();
    try {
        OpenPort(m_comPort1.portName());
    } catch (...) {
        m_timerRead.stop();
        emit portClosed();
        throw;
    }
}

void ModuleSession::DeviceLost(const QString &reason)
{
    m_timerRead.stop();
    PollEnded();
    if (m_comPort1.isOpen())
        m_comPort1.close();
    emit portLost(reason);
}

// --- Live reading -----------------------------------------------------------------

bool ModuleSession::StartReading()
{
    // A bus scan holds the line: reading would lose its first polls.
    if (m_link.IsReserved())
        return false;
    m_timerRead.start();
    return true;
}

void ModuleSession::StopReading()
{
    m_link.CancelPolls();
    m_timerRead.stop();
    PollEnded();
}

void ModuleSession::TimerReadTimer()
{
    // At most one poll is queued or on the line: a tick that comes while the
    // last poll still waits sends nothing, so a slow module is polled at its
    // own answer rate and the line is never flooded with requests it cannot
    // answer. The poll goes through the line's queue like every request, so
    // it never shares the line with a window's request; its reply or its
    // time-out ends it, and nothing waits here.
    if (m_pollPending)
        return;
    m_pollPending = true;
    const quint64 poll = ++m_pollNumber;
    m_link.Request(LineRequest::For(BuildQueryFrame(CurrentAddress(), CmdReadValue)).asPoll(), this,
                   [this, poll](const LineOutcome &outcome) {
                       if (poll == m_pollNumber)
                           PollEnded(outcome);
                   });
}

void ModuleSession::PollEnded(const LineOutcome &outcome)
{
    if (!m_pollPending)
        return;
    m_pollPending = false;
    switch (outcome.status) {
    case LineOutcome::Status::Answered:
    case LineOutcome::Status::Cancelled:
        return; // the reply is shown as it arrives
    case LineOutcome::Status::TimedOut:
        m_timerRead.stop();
        emit readingTimedOut();
        return;
    case LineOutcome::Status::Refused:
    case LineOutcome::Status::Failed:
        // A failed write stops reading, so the next tick does not repeat the error.
        if (IsReading())
            StopReading();
        emit pollFailed(outcome.error, outcome.errorReported);
        return;
    }
}

void ModuleSession::ReplyHandled(const Reply &reply, bool asked)
{
    if (!m_followReplies)
        return;
    // An unasked reply (automatic sending, a poll's answer after its
    // time-out) is shown when it carries a measured value; any other stray
    // changes nothing.
    if (!asked && reply.command != CmdReadValue)
        return;
    if (!asked) {
        ReplyState &state = m_link.reply();
        state.ReplyCommand = reply.command;
        state.ReplyValue = reply.value;
        state.ReplyDone = true;
        state.ReplyTimedOut = false;
    }
    SetCurrentAddress(reply.address);
    emit addressReplied(reply.address);
    if (reply.command == CmdReadValue) {
        m_displayValue = DisplayValueOf(reply.value, m_current.Decimal);
        emit valueRead(reply.value, m_displayValue);
    }
}
