#include "calibration/ZeroCalibration.h"


#include "device/ModuleSession.h"
#include "device/ZeroCalibrationRun.h"
#include "widgets/Prompter.h"
#include "widgets/ValueDisplay.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <memory>

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

/// Shows how the run ended in the value display; a failure that is not told
/// elsewhere goes to the standard error dialog over `parent`.
void ShowEnding(ValueDisplay &display, const ZeroCalibrationRun &run, ZeroCalibrationRun::Ending ending,
                QWidget *parent)
{
    using Ending = ZeroCalibrationRun::Ending;
    switch (ending) {
    case Ending::Written:
        return display.SetText(TextWriteOk());
    case Ending::ReadUnanswered:
        return display.SetText(TextReadTimeout());
    case Ending::WriteUnanswered:
        return display.SetText(TextWriteFailed());
    case Ending::Failed:
    case Ending::Cancelled:
        break;
    }
    if (display.Text() == TextBusy())
        display.SetText(QString());
    if (ending == Ending::Failed && !run.failureReported())
        Prompts().showError(parent, run.failureText());
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

void RunZeroCalibration(ModuleSession &session, ValueDisplay &display, QWidget *parent,
                        const std::function<void(bool running)> &running)
{
    // The run lives with the window that started it (or with the session).
    QObject *owner = parent ? static_cast<QObject *>(parent) : &session;
    for (const ZeroCalibrationRun *run :
         owner->findChildren<ZeroCalibrationRun *>(Qt::FindDirectChildrenOnly)) {
        if (run->isRunning())
            return;
    }
    if (!Prompts().askOkCancel(parent, ConfirmTitle(), ConfirmText()))
        return;
    session.link().ReapplyFraming();
    auto *run = new ZeroCalibrationRun(session, owner);
    // Both end with the run, whichever way it ends (also when its owner goes first).
    auto busy = std::make_shared<BusyCursor>();
    if (running)
        running(true);
    display.SetText(TextBusy());
    QObject::connect(run, &ZeroCalibrationRun::finished, run,
                     [run, busy, running, &display,
                      dialogParent = QPointer<QWidget>(parent)](ZeroCalibrationRun::Ending ending) {
                         run->deleteLater();
                         if (running)
                             running(false);
                         busy->restore();
                         ShowEnding(display, *run, ending, dialogParent);
                     });
    run->start(WaitIntervalMs(session));
}
