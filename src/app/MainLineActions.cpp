#include "app/MainUnit.h"

#include "device/Pause.h"
#include "io/SettingsKeys.h"
#include "ui_MainUnit.h"
#include "widgets/Prompter.h"

#include <QCoreApplication>

// The main window's work on the line: opening the port, reading and setting
// the bus address, live reading and automatic sending. Every request goes
// through the line's queue and ends in a callback; nothing here waits.

namespace
{
namespace Keys = SettingsKeys;

QString TextReadTimeout()
{
    return QCoreApplication::translate("TfrmMain", "读取超时！");
}
QString TextReadOk()
{
    return QCoreApplication::translate("TfrmMain", "读取成功！");
}
QString TextWriteTimeout()
{
    return QCoreApplication::translate("TfrmMain", "写入超时！");
}
QString TextSetOk()
{
    return QCoreApplication::translate("TfrmMain", "设置成功！");
}
QString TextWriteOk()
{
    return QCoreApplication::translate("TfrmMain", "写入成功！");
}
QString TextWriteFailed()
{
    return QCoreApplication::translate("TfrmMain", "写入失败！");
}
QString PromptTitle()
{
    return QCoreApplication::translate("TfrmMain", "提示");
}
QString TextAutoSendConfirm()
{
    return QCoreApplication::translate("TfrmMain",
                                       "此操作将使模块进入自动发送状态，继续吗？（再次上电自动取消自动发送）");
}

constexpr int SetAddressStorePauseMs = 100;
constexpr int AddressWriteSpacingMs = 200;
} // namespace

// --- Port and address ------------------------------------------------------

void TfrmMain::btnOpenClick()
{
    Guarded(this, [this] {
        if (!IsPortOpen()) {
            OpenPort();
            if (!IsPortOpen())
                return;
            ApplyState(State::PortIdle);
        } else {
            ClosePort();
            ApplyState(State::PortClosed);
        }
    });
}

void TfrmMain::cbbPortChange()
{
    const QString name = m_ui->cbbPort->currentText();
    current().ComPort = name;
    m_settings.WriteString(Keys::SectionCommunication, Keys::KeyComPort, name);
}

void TfrmMain::btnDNClick()
{
    // A broadcast asks every module; the one that answers becomes the current
    // address (the session follows the reply).
    if (m_addressRun != AddressRun::None)
        return;
    m_addressRun = AddressRun::Reading;
    link().Request(LineRequest::For(BuildQueryFrame(BroadcastAddress, CmdDN)), this,
                   [this](const LineOutcome &outcome) {
                       m_addressRun = AddressRun::None;
                       if (outcome.answered())
                           SetValueText(TextReadOk());
                       else if (outcome.unanswered())
                           SetValueText(TextReadTimeout());
                       else
                           LineRefused(outcome);
                   });
}

void TfrmMain::btnSetDNClick()
{
    if (m_addressRun != AddressRun::None)
        return;
    SetValueText(QString());
    m_addressRun = AddressRun::Setting;
    m_resumeReading = m_session.IsReading();
    timerRead().stop();
    ApplyState(State::SettingAddress);
    // The new address to every module, a pause, then the store request to
    // the new address; the window returns to its state however it ends.
    const DeviceAddress address = CurrentAddress();
    link().Request(LineRequest::For(BuildDataFrame(BroadcastAddress, CmdDN, address)), this,
                   [this, address](const LineOutcome &outcome) {
                       if (!outcome.answered() && !outcome.unanswered()) {
                           LineRefused(outcome);
                           return SetAddressEnded();
                       }
                       SetValueText(outcome.answered() ? TextSetOk() : TextWriteTimeout());
                       PauseThen(SetAddressStorePauseMs, this, [this, address] { StoreAddress(address); });
                   });
}

void TfrmMain::StoreAddress(DeviceAddress address)
{
    link().Request(LineRequest::For(BuildQueryFrame(address, CmdStore)), this, [this](const LineOutcome &outcome) {
        if (outcome.answered() || outcome.unanswered()) {
            SetValueText(outcome.answered() ? TextWriteOk() : TextWriteTimeout());
        } else {
            // The store request did not go out (the line lost meanwhile): the
            // success text of the first step must not stay as the last word,
            // and nothing timed out.
            SetValueText(TextWriteFailed());
            LineRefused(outcome);
        }
        SetAddressEnded();
    });
}

void TfrmMain::SetAddressEnded()
{
    m_addressRun = AddressRun::None;
    const bool resume = std::exchange(m_resumeReading, false) && IsPortOpen();
    if (resume && m_session.StartReading())
        ApplyState(State::Reading);
    else
        ApplyState(State::PortIdle);
}

void TfrmMain::LineRefused(const LineOutcome &outcome)
{
    // A lost port is told once, by its own notice.
    if (outcome.status == LineOutcome::Status::Cancelled || outcome.errorReported)
        return;
    Prompts().showError(this, outcome.error);
}

void TfrmMain::speDNTextChange() { m_session.SetCurrentAddress(m_ui->speDN->clampedValue()); }

void TfrmMain::speDNChange()
{
    speDNTextChange();
    if (!m_ui->speDN->textIsInteger())
        return;
    // Several modules in automatic sending change the address with every
    // reply: a change right after a write is stored once the burst settles,
    // instead of one synced file write per reply.
    if (m_addressWritten.isValid() && m_addressWritten.elapsed() < AddressWriteSpacingMs) {
        if (!m_addressWriteTimer.isActive())
            m_addressWriteTimer.start(AddressWriteSpacingMs);
        return;
    }
    WriteDeviceNumber();
}

void TfrmMain::WriteDeviceNumber()
{
    m_addressWriteTimer.stop();
    if (!m_ui->speDN->textIsInteger())
        return;
    m_settings.WriteInteger(Keys::SectionDefault, Keys::KeyDeviceNumber, int(m_ui->speDN->textValue()));
    m_addressWritten.start();
}

// --- Port lost ---------------------------------------------------------------

void TfrmMain::PortLost(const QString &reason)
{
    ApplyState(State::PortClosed);
    if (m_lostNoticePending)
        return;
    m_lostNoticePending = true;
    // Told once, after the waits that the loss ended have unwound.
    QTimer::singleShot(0, this, [this, reason] {
        m_lostNoticePending = false;
        link().LossReported();
        RefreshPortList();
        Prompts().showError(this, tr("串口连接已断开，串口已关闭。\n%1").arg(reason));
    });
}

// --- Live reading ----------------------------------------------------------

void TfrmMain::btnBeginReadClick()
{
    if (m_state != State::Reading) {
        // New samples would change the store under a running export or import.
        if (m_fileWorkRunning)
            return;
        if (!m_session.StartReading()) {
            Prompts().showError(this, DeviceLink::TextLineHeld());
            return;
        }
        ApplyState(State::Reading);
        SetValueText(QString());
    } else {
        StopReading();
    }
}

void TfrmMain::StopReading()
{
    m_session.StopReading();
    ApplyState(State::PortIdle);
}

void TfrmMain::PollFailed(const QString &error, bool reported)
{
    if (m_state == State::Reading)
        ApplyState(State::PortIdle);
    if (!reported) // a lost port is reported once, elsewhere
        Prompts().showError(this, error);
}

// --- Automatic sending -----------------------------------------------------

void TfrmMain::btnReportClick()
{
    if (!Prompts().askYesNo(this, PromptTitle(), TextAutoSendConfirm()))
        return;
    link().Request(LineRequest::WriteOnly(BuildQueryFrame(BroadcastAddress, CmdAutoSend)), this,
                   [this](const LineOutcome &outcome) {
                       if (!outcome.answered())
                           LineRefused(outcome);
                   });
}

void TfrmMain::mnuEvaluateClick()
{
    btnReportClick();
}

