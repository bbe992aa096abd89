#include "calibration/ZeroCalibration.h"

#include "app/MainUnit.h"
#include "app/Pause.h"
#include "app/Prompter.h"
#include "app/Protocol.h"
#include "ui_MainUnit.h"

#include <QApplication>
#include <QCursor>

#include <algorithm>
#include <cstdint>

namespace
{
const QString ConfirmTitle = QStringLiteral("提示");
const QString ConfirmText = QStringLiteral("即将标定传感器零点，请去掉传感器上的所有附加载荷");
const QString TextBusy = QStringLiteral("标定中...");
const QString TextReadTimeout = QStringLiteral("读取超时！");
const QString TextWriteOk = QStringLiteral("设置成功！");
const QString TextWriteFailed = QStringLiteral("写入失败！");

/// Keeps btnZero disabled while the calibration runs. On leaving, the button
/// gets the state the main window's state table gives it: enabled only while
/// the port is open and idle (reading may have been started, or the port may
/// have been lost, while an exchange waited). A busy text still shown then (the
/// run was cut short by a failed write) is cleared.
class ZeroButtonLock
{
public:
    explicit ZeroButtonLock(TfrmMain &main) : m_main(main) { m_main.ui()->btnZero->setEnabled(false); }
    ~ZeroButtonLock()
    {
        m_main.ui()->btnZero->setEnabled(m_main.state() == TfrmMain::State::PortIdle);
        if (m_main.ValueText() == TextBusy)
            m_main.SetValueText(QString());
    }
    ZeroButtonLock(const ZeroButtonLock &) = delete;
    ZeroButtonLock &operator=(const ZeroButtonLock &) = delete;

private:
    TfrmMain &m_main;
};

/// Sum of two 32-bit values with two's-complement wrap-around.
std::int32_t WrappingSum(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

void ZeroCalibrationSequence(TfrmMain &main)
{
    DeviceLink &link = main.link();
    main.SetValueText(TextBusy);

    // A reply carrying another command byte answered some other request (a
    // poll running underneath, a stray reply): it is no zero value, so the
    // read counts as failed rather than as 0.
    if (!link.ExchangeExpecting(BuildQueryFrame(main.CurrentAddress(), CmdZerO))) {
        main.SetValueText(TextReadTimeout);
        return;
    }
    const std::int32_t oldZero = link.reply().ReplyValue;

    Pause(WaitIntervalMs(main));

    if (!link.ExchangeExpecting(BuildQueryFrame(main.CurrentAddress(), CmdReadValue))) {
        main.SetValueText(TextReadTimeout);
        return;
    }
    const std::int32_t measured = link.reply().ReplyValue;

    const std::int32_t newZero = WrappingSum(oldZero, measured);
    // Only the module's acknowledgement of this write (command byte 3) is a
    // success; a reply to another request arriving meanwhile is not.
    const bool written = link.ExchangeExpecting(BuildDataFrame(main.CurrentAddress(), CmdZerO, newZero));
    main.SetValueText(written ? TextWriteOk : TextWriteFailed);
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

int WaitIntervalMs(TfrmMain &main)
{
    return std::max(0, main.current().WaitInterval);
}

void RunZeroCalibration(TfrmMain &main)
{
    Guarded(&main, [&] {
        if (!Prompts().askOkCancel(&main, ConfirmTitle, ConfirmText))
            return;
        main.link().ReapplyFraming();
        // Declared inside the guarded body: both are restored before an error
        // dialog is shown.
        ZeroButtonLock button(main);
        BusyCursor busy;
        ZeroCalibrationSequence(main);
    });
}
