#include "calibration/CalibrateUnit.h"

#include "device/ModuleSession.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "ui_CalibrateUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"
#include "widgets/ValueDisplay.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>

#include <algorithm>
#include <utility>
#include <vector>

std::array<LinearPoint, CalibrationPointCount> LinearPoints{};
int CurrentPoint = 0;
int CalibratedCount = 0;
bool ReadAdNext = true;

namespace
{
constexpr int FirstPoint = SettingsKeys::LinearPointFirst;
constexpr int LastPoint = SettingsKeys::LinearPointLast;
static_assert(LastPoint - FirstPoint + 1 == CalibrationPointCount);

QString TextReadTimeout()
{
    return QCoreApplication::translate("TfrmCalibrate", "读取超时！");
}
QString TextWriteFailed()
{
    return QCoreApplication::translate("TfrmCalibrate", "写入失败！");
}
QString TextSetOk()
{
    return QCoreApplication::translate("TfrmCalibrate", "设置成功！");
}
QString TextBusy()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定中...");
}
QString TextWriteOk()
{
    return QCoreApplication::translate("TfrmCalibrate", "写入成功！");
}
QString TextCalibrationOk()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定成功！");
}
QString TextCalibrationFailed()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定失败！");
}
QString CaptionCalibrate()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定此点(&C)");
}
QString CaptionRecalibrate()
{
    return QCoreApplication::translate("TfrmCalibrate", "重新标定此点(&C)");
}

const QColor GreyText(Qt::gray);

QString TextTableNotStored()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定未完成：标定表未保存到模块。");
}
QString TextStoreNotConfirmed()
{
    return QCoreApplication::translate("TfrmCalibrate", "标定未完成：模块未确认保存标定表。");
}

/// "Average Count" as used: at least one sample per point.
int AverageCount(const ModuleSession &session)
{
    return std::max(1, session.current().AverageCount);
}

} // namespace

void OpenCalibration(TfrmCalibrate &dialog)
{
    dialog.Open();
}

TfrmCalibrate::TfrmCalibrate(ModuleSession &session, SettingsStore &settings, ValueDisplay &display, QWidget *parent)
    : QDialog(parent), m_session(session), m_display(display), m_settings(settings), m_ui(std::make_unique<Ui::TfrmCalibrate>()),
      m_run(session)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_ui->spePV->setLimits(PVMin, PVMax);
    m_ui->sttTotalPoint->setText(QString::number(LastPoint));

    m_timerTmpRead.setObjectName(QStringLiteral("TimerTmpRead"));
    m_timerTmpRead.setInterval(TmpReadIntervalMs);
    connect(&m_timerTmpRead, &QTimer::timeout, this, &TfrmCalibrate::TimerTmpReadTimer);
    connect(m_ui->btnCalibrate, &QPushButton::clicked, this, &TfrmCalibrate::btnCalibrateClick);
    connect(m_ui->btnNextPoint, &QPushButton::clicked, this, &TfrmCalibrate::btnNextPointClick);
    connect(m_ui->btnEnd, &QPushButton::clicked, this, &TfrmCalibrate::btnEndClick);
    connect(&m_run, &CalibrationRun::finished, this, &TfrmCalibrate::RunFinished);
    connect(&m_run, &CalibrationRun::sampling, this, [this] { m_display.SetText(TextBusy()); });
    connect(&m_run, &CalibrationRun::sampleTaken, this,
            [this] { m_ui->pbrRead->setValue(m_ui->pbrRead->value() + 1); });
    connect(&m_run, &CalibrationRun::countWritten, this,
            [this](bool answered) { m_display.SetText(answered ? TextWriteOk() : TextWriteFailed()); });
}

TfrmCalibrate::~TfrmCalibrate()
{
    m_timerTmpRead.stop();
    if (m_tickPending)
        m_session.link().Cancel(m_tickId);
}

void TfrmCalibrate::Open()
{
    if (m_run.isRunning() || isVisible())
        return;
    m_session.link().ReapplyFraming();
    m_display.SetText(QString());
    m_work = Work::Opening;
    m_run.clearZero();
}

bool TfrmCalibrate::CurrentPointGreyed() const
{
    return m_ui->sttCurrentPoint->palette().color(QPalette::WindowText) == GreyText;
}

void TfrmCalibrate::SetCurrentPointGreyed(bool grey)
{
    QPalette palette = m_ui->sttCurrentPoint->palette();
    palette.setColor(QPalette::WindowText,
                     grey ? GreyText : QApplication::palette().color(QPalette::WindowText));
    m_ui->sttCurrentPoint->setPalette(palette);
}

void TfrmCalibrate::StartTmpRead()
{
    if (!m_timerTmpRead.isActive())
        m_timerTmpRead.start();
}

void TfrmCalibrate::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmCalibrate::closeEvent(QCloseEvent *event)
{
    FormClose();
    QDialog::closeEvent(event);
    ShowClosingMessage();
}

void TfrmCalibrate::done(int result)
{
    // Escape and the window's own closing both end here.
    FormClose();
    QDialog::done(result);
    ShowClosingMessage();
}

void TfrmCalibrate::ShowClosingMessage()
{
    if (!m_closingMessage.isEmpty())
        Prompts().showError(parentWidget(), std::exchange(m_closingMessage, QString()));
}

void TfrmCalibrate::FormShow()
{
    for (int k = FirstPoint; k <= LastPoint; ++k) {
        LinearPointAt(k).PV = m_settings.ReadInteger(SettingsKeys::LinearPointSection(k), SettingsKeys::KeyPV,
                                                     SettingsKeys::DefaultLinearPointPV(k));
    }
    m_closed = false;
    CurrentPoint = FirstPoint;
    m_ui->spePV->setClampedValue(LinearPointAt(CurrentPoint).PV);
    m_ui->sttCurrentPoint->setText(QString::number(CurrentPoint));
    SetCurrentPointGreyed(true);
    m_ui->sttTotalPoint->setText(QString::number(LastPoint));
    m_ui->sttAV->clear();
    m_ui->pbrRead->setValue(m_ui->pbrRead->minimum());
    m_ui->btnNextPoint->setEnabled(false);
    m_ui->btnEnd->setEnabled(false);
    m_ui->btnCalibrate->setEnabled(true);
    StartTmpRead();
    m_ui->btnCalibrate->setText(CaptionCalibrate());
}

void TfrmCalibrate::FormClose()
{
    m_closed = true;
    StopTicks();
    // A run cut short ends here; what it leaves undone is told once the
    // dialog is hidden.
    m_run.cancel();
}

void TfrmCalibrate::StopTicks()
{
    m_timerTmpRead.stop();
    if (m_tickPending) {
        m_tickPending = false;
        m_session.link().Cancel(m_tickId);
    }
}

void TfrmCalibrate::TimerTmpReadTimer()
{
    DeviceLink &link = m_session.link();
    if (!link.isOpen()) {
        m_timerTmpRead.stop(); // the port went away; the operator has been told
        return;
    }
    // One tick at a time: the next asks once the last one's request has ended.
    if (m_tickPending)
        return;
    const CommandCode command = ReadAdNext ? CmdReadAdCode : CmdReadValue;
    m_tickPending = true;
    m_tickId = link.Request(LineRequest::For(BuildQueryFrame(m_session.CurrentAddress(), command)), this,
                            [this](const LineOutcome &outcome) {
                                m_tickPending = false;
                                TickEnded(outcome);
                            });
}

void TfrmCalibrate::TickEnded(const LineOutcome &outcome)
{
    switch (JudgeStep(outcome)) {
    case StepEnding::Answered: {
        const QString value = QString::number(outcome.reply.value);
        if (outcome.reply.command == CmdReadAdCode)
            m_ui->sttAV->setText(value);
        else
            m_display.SetText(value);
        ReadAdNext = !ReadAdNext;
        return;
    }
    case StepEnding::Unanswered:
        // The same request again next time.
        if (ReadAdNext)
            m_ui->sttAV->setText(TextReadTimeout());
        else
            m_display.SetText(TextReadTimeout());
        return;
    case StepEnding::Failed:
        // No further ticks into a failing port while the error is shown.
        m_timerTmpRead.stop();
        if (!outcome.errorReported)
            Prompts().showError(this, outcome.error);
        return;
    }
}

void TfrmCalibrate::btnCalibrateClick()
{
    if (m_run.isRunning())
        return;
    SetCurrentPointGreyed(true);
    m_ui->pbrRead->setMaximum(AverageCount(m_session) - 1);
    m_ui->pbrRead->setValue(0);
    // A tick still waiting is withdrawn; the samples queue behind whatever
    // is on the line.
    StopTicks();
    m_ui->btnCalibrate->setEnabled(false);
    m_ui->sttAV->clear();
    m_busy.emplace();
    m_nextWasEnabled = m_ui->btnNextPoint->isEnabled();
    m_endWasEnabled = m_ui->btnEnd->isEnabled();
    m_ui->btnNextPoint->setEnabled(false);
    m_ui->btnEnd->setEnabled(false);
    m_work = Work::Averaging;
    m_run.averagePoint(AverageCount(m_session), WaitIntervalMs(m_session));
}

void TfrmCalibrate::RestoreButtons()
{
    m_ui->btnNextPoint->setEnabled(m_nextWasEnabled);
    m_ui->btnEnd->setEnabled(m_endWasEnabled);
}

void TfrmCalibrate::RunFinished(CalibrationRun::Ending ending)
{
    switch (m_work) {
    case Work::Opening:
        return Opened(ending);
    case Work::Averaging:
        return PointEnded(ending);
    case Work::Ending:
        return TableEnded(ending);
    }
}

void TfrmCalibrate::ShowFailure(QWidget *parent)
{
    if (!m_run.failureReported())
        Prompts().showError(parent, m_run.failureText());
}

void TfrmCalibrate::Opened(CalibrationRun::Ending ending)
{
    if (ending == CalibrationRun::Ending::Failed)
        return ShowFailure(parentWidget());
    // Only the module's acknowledgement of this write opens the dialog.
    const bool cleared = ending == CalibrationRun::Ending::Done;
    m_display.SetText(cleared ? TextSetOk() : TextWriteFailed());
    if (cleared)
        ShowModal(this);
}

void TfrmCalibrate::PointEnded(CalibrationRun::Ending ending)
{
    m_ui->btnCalibrate->setEnabled(true);
    // The busy text goes with the averaging, however it ended (a lost port
    // or a closed dialog leaves no tick to replace it).
    if (m_display.Text() == TextBusy())
        m_display.SetText(QString());
    if (ending == CalibrationRun::Ending::Done)
        return PointAveraged();
    // Nothing is stored; the point keeps its earlier state, caption and grey number.
    RestoreButtons();
    m_busy.reset();
    if (ending == CalibrationRun::Ending::Unanswered) {
        m_ui->sttAV->setText(TextReadTimeout());
        if (!m_closed)
            StartTmpRead();
    } else if (ending == CalibrationRun::Ending::Failed) {
        ShowFailure(this);
    }
}

void TfrmCalibrate::PointAveraged()
{
    const std::int32_t average = m_run.average();
    m_ui->sttAV->setText(QString::number(average));
    LinearPoint &point = LinearPointAt(CurrentPoint);
    point.PV = m_ui->spePV->clampedValue();
    point.AV = average;
    const QString section = SettingsKeys::LinearPointSection(CurrentPoint);
    m_settings.WriteInteger(section, SettingsKeys::KeyPV, point.PV);
    m_settings.WriteInteger(section, SettingsKeys::KeyAV, point.AV);

    RestoreButtons();
    m_ui->btnNextPoint->setEnabled(CurrentPoint < LastPoint);
    if (CurrentPoint > FirstPoint)
        m_ui->btnEnd->setEnabled(true);
    CalibratedCount = CurrentPoint;
    StartTmpRead();
    m_busy.reset();
    m_ui->btnCalibrate->setText(CaptionRecalibrate());
    SetCurrentPointGreyed(false);
}

void TfrmCalibrate::btnNextPointClick()
{
    if (CurrentPoint >= LastPoint)
        return;
    m_ui->pbrRead->setValue(0);
    ++CurrentPoint;
    m_ui->spePV->setClampedValue(LinearPointAt(CurrentPoint).PV);
    m_ui->sttCurrentPoint->setText(QString::number(CurrentPoint));
    SetCurrentPointGreyed(true);
    m_ui->sttAV->clear();
    m_ui->btnNextPoint->setEnabled(false);
    m_ui->btnCalibrate->setText(CaptionCalibrate());
}

void TfrmCalibrate::btnEndClick()
{
    if (m_run.isRunning())
        return;
    StopTicks();
    m_busy.emplace();
    m_work = Work::Ending;
    std::vector<LinearPoint> points;
    for (int k = FirstPoint; k <= CalibratedCount; ++k)
        points.push_back(LinearPointAt(k));
    m_run.writeTable(std::move(points));
}

void TfrmCalibrate::TableEnded(CalibrationRun::Ending ending)
{
    using Ending = CalibrationRun::Ending;
    m_busy.reset();
    const bool storing = m_run.phase() == CalibrationRun::Phase::Storing;
    switch (ending) {
    case Ending::Cancelled:
        // Closed by the operator meanwhile: nothing further is sent.
        m_closingMessage = storing ? TextStoreNotConfirmed() : TextTableNotStored();
        return;
    case Ending::Failed:
        return ShowFailure(this);
    case Ending::Done:
    case Ending::Unanswered:
        break;
    }
    if (storing)
        m_display.SetText(ending == Ending::Done ? TextCalibrationOk() : TextCalibrationFailed());
    else
        m_ui->sttAV->setText(
            TextWriteFailed()); // the remaining points, PointCount and the store are not sent
    close();                    // stops TimerTmpRead again
}
