#include "calibration/ZeroCalibration.h"

#include "device/ModuleSession.h"
#include "device/Pause.h"
#include "device/Protocol.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QCursor>

#include <algorithm>
#include <cstdint>

namespace
{
QString ConfirmTitle()
{
    return QCoreApplication::translate("ZeroCalibration", "提示");
}
QString ConfirmText()
{
    return QCoreApplication::translate("ZeroCalibration", "即将标定传感器零点，请去掉传感器上的所有附加载荷");
}
QString TextBusy()
{
    return QCoreApplication::translate("ZeroCalibration", "标定中...");
}
QString TextReadTimeout()
{
    return QCoreApplication::translate("ZeroCalibration", "读取超时！");
}
QString TextWriteOk()
{
    return QCoreApplication::translate("ZeroCalibration", "设置成功！");
}
QString TextWriteFailed()
{
    return QCoreApplication::translate("ZeroCalibration", "写入失败！");
}

/// On leaving, clears a busy text still shown (the run was cut short by a
/// failed write).
/// Tells the caller the run is on (it keeps its button disabled) and, on
/// leaving, that it ended; a busy text still shown then (the run was cut short
/// by a failed write) is cleared.
class RunningGuard
{
public:
    RunningGuard(ModuleSession &session, const std::function<void(bool)> &running)
        : m_session(session), m_running(running)
    {
        if (m_running)
            m_running(true);
    }
    ~RunningGuard()
    {
        if (m_running)
            m_running(false);
        if (m_session.ValueText() == TextBusy())
            m_session.SetValueText(QString());
    }
    RunningGuard(const RunningGuard &) = delete;
    RunningGuard &operator=(const RunningGuard &) = delete;

private:
    ModuleSession &m_session;
    const std::function<void(bool)> &m_running;
};

/// Sum of two 32-bit values with two's-complement wrap-around.
std::int32_t WrappingSum(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

void ZeroCalibrationSequence(ModuleSession &session)
{
    DeviceLink &link = session.link();
    session.SetValueText(TextBusy());

    // A reply carrying another command byte answered some other request (a
    // poll running underneath, a stray reply): it is no zero value, so the
    // read counts as failed rather than as 0.
    if (!link.ExchangeExpecting(BuildQueryFrame(session.CurrentAddress(), CmdZerO))) {
        session.SetValueText(TextReadTimeout());
        return;
    }
    const std::int32_t oldZero = link.reply().ReplyValue;

    Pause(WaitIntervalMs(session));

    if (!link.ExchangeExpecting(BuildQueryFrame(session.CurrentAddress(), CmdReadValue))) {
        session.SetValueText(TextReadTimeout());
        return;
    }
    const std::int32_t measured = link.reply().ReplyValue;

    const std::int32_t newZero = WrappingSum(oldZero, measured);
    // Only the module's acknowledgement of this write (command byte 3) is a
    // success; a reply to another request arriving meanwhile is not.
    const bool written = link.ExchangeExpecting(BuildDataFrame(session.CurrentAddress(), CmdZerO, newZero));
    session.SetValueText(written ? TextWriteOk() : TextWriteFailed());
}
} // namespace

BusyCursor::BusyCursor()
{
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void BusyCursor::restore()
{
    if (!m_active)
        return;
    m_active = false;
    QApplication::restoreOverrideCursor();
}

int WaitIntervalMs(const ModuleSession &session)
{
    return std::max(0, session.current().WaitInterval);
}

void RunZeroCalibration(ModuleSession &session, QWidget *parent,
                        const std::function<void(bool running)> &running)
{
    Guarded(parent, [&] {
        if (!Prompts().askOkCancel(parent, ConfirmTitle(), ConfirmText()))
            return;
        session.link().ReapplyFraming();
        // Declared inside the guarded body: both are restored before an error
        // dialog is shown.
        RunningGuard guard(session, running);
        BusyCursor busy;
        ZeroCalibrationSequence(session);
    });
}
