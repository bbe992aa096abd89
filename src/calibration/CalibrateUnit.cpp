#include "calibration/CalibrateUnit.h"

#include "calibration/ZeroCalibration.h"
#include "device/ModuleSession.h"
#include "device/Pause.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "ui_CalibrateUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>

#include <algorithm>

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

/// An exchange of the end sequence. Only the module's acknowledgement (a reply
/// carrying the request's command byte) counts as answered: a reply to another
/// request arriving meanwhile, or a wait ended by closing the dialog, does
/// not. A port that went away meanwhile counts as not answered (the loss is
/// reported once, elsewhere), so the sequence takes its failure path and the
/// dialog closes.
template <typename Frame> bool EndExchange(DeviceLink &link, const Frame &frame)
{
    try {
        return link.ExchangeExpecting(frame);
    } catch (const ReportedError &) {
        return false;
    }
}

/// "Average Count" as used: at least one sample per point.
int AverageCount(const ModuleSession &session)
{
    return std::max(1, session.current().AverageCount);
}

/// Remembers the enabled state of the buttons that must not act while a point
/// is averaged, disables them, and puts the remembered states back on leaving.
class ButtonsLock
{
public:
    ButtonsLock(QWidget *a, QWidget *b)
        : m_a(a), m_b(b), m_aEnabled(a->isEnabled()), m_bEnabled(b->isEnabled())
    {
        m_a->setEnabled(false);
        m_b->setEnabled(false);
    }
    ~ButtonsLock() { release(); }
    ButtonsLock(const ButtonsLock &) = delete;
    ButtonsLock &operator=(const ButtonsLock &) = delete;
    void release()
    {
        if (m_released)
            return;
        m_released = true;
        m_a->setEnabled(m_aEnabled);
        m_b->setEnabled(m_bEnabled);
    }

private:
    QWidget *m_a;
    QWidget *m_b;
    bool m_aEnabled;
    bool m_bEnabled;
    bool m_released = false;
};
} // namespace

void OpenCalibration(TfrmCalibrate &dialog)
{
    ModuleSession &session = dialog.session();
    bool cleared = false;
    Guarded(dialog.parentWidget(), [&] {
        session.link().ReapplyFraming();
        session.SetValueText(QString());
        // Only the module's acknowledgement of this write opens the dialog.
        cleared = session.link().ExchangeExpecting(BuildDataFrame(session.CurrentAddress(), CmdZerO, 0));
        session.SetValueText(cleared ? TextSetOk() : TextWriteFailed());
    });
    if (cleared)
        ShowModal(&dialog);
}

TfrmCalibrate::TfrmCalibrate(ModuleSession &session, SettingsStore &settings, QWidget *parent)
    : QDialog(parent), m_session(session), m_settings(settings), m_ui(std::make_unique<Ui::TfrmCalibrate>())
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
}

TfrmCalibrate::~TfrmCalibrate()
{
    m_timerTmpRead.stop();
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
}

void TfrmCalibrate::done(int result)
{
    // Escape and the window's own closing both end here.
    FormClose();
    QDialog::done(result);
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
    m_timerTmpRead.stop();
    m_session.link().AbortExchange();
}

void TfrmCalibrate::TimerTmpReadTimer()
{
    DeviceLink &link = m_session.link();
    if (!link.isOpen()) {
        m_timerTmpRead.stop(); // the port went away; the operator has been told
        return;
    }
    Guarded(this, [&] {
        const CommandCode command = ReadAdNext ? CmdReadAdCode : CmdReadValue;
        bool answered = false;
        try {
            answered = link.Exchange(BuildQueryFrame(m_session.CurrentAddress(), command));
        } catch (...) {
            // No further ticks into a failing port while the error is shown.
            m_timerTmpRead.stop();
            throw;
        }
        if (answered) {
            const QString value = QString::number(link.reply().ReplyValue);
            if (link.reply().ReplyCommand == CmdReadAdCode)
                m_ui->sttAV->setText(value);
            else
                m_session.SetValueText(value);
            ReadAdNext = !ReadAdNext;
        } else if (ReadAdNext) {
            m_ui->sttAV->setText(TextReadTimeout());
        } else {
            m_session.SetValueText(TextReadTimeout());
        }
    });
}

bool TfrmCalibrate::AveragePoint(std::int64_t &average)
{
    DeviceLink &link = m_session.link();
    const int count = AverageCount(m_session);
    Pause(SettleBeforeAveragingMs);
    std::int64_t sum = 0;
    int samples = 0;
    m_session.SetValueText(TextBusy());
    for (;;) {
        if (m_closed)
            return false;
        const bool answered = link.Exchange(BuildQueryFrame(m_session.CurrentAddress(), CmdReadAdCode));
        if (m_closed)
            return false; // closed while waiting (that wait ended as answered): the
                          // point is given up
        if (!answered) {
            m_ui->sttAV->setText(TextReadTimeout());
            return false;
        }
        if (link.reply().ReplyCommand == CmdReadAdCode) {
            sum += link.reply().ReplyValue;
            if (++samples == count)
                break;
            m_ui->pbrRead->setValue(m_ui->pbrRead->value() + 1);
        }
        Pause(WaitIntervalMs(m_session));
    }
    average = sum / count; // truncates toward zero
    return true;
}

void TfrmCalibrate::btnCalibrateClick()
{
    Guarded(this, [&] {
        SetCurrentPointGreyed(true);
        m_ui->pbrRead->setMaximum(AverageCount(m_session) - 1);
        m_ui->pbrRead->setValue(0);
        m_timerTmpRead.stop();
        m_session.link().AbortExchange();

        m_ui->btnCalibrate->setEnabled(false);
        m_ui->sttAV->clear();
        BusyCursor busy;
        ButtonsLock lock(m_ui->btnNextPoint, m_ui->btnEnd);
        struct Restore {
            TfrmCalibrate *dialog;
            ~Restore()
            {
                dialog->m_ui->btnCalibrate->setEnabled(true);
                // The busy text goes with the averaging, however it ended (a
                // lost port or a closed dialog leaves no tick to replace it).
                if (dialog->m_session.ValueText() == TextBusy())
                    dialog->m_session.SetValueText(QString());
            }
        } restore{this};

        std::int64_t average = 0;
        if (!AveragePoint(average)) {
            if (!m_closed)
                StartTmpRead();
            return;
        }
        m_ui->sttAV->setText(QString::number(average));

        LinearPoint &point = LinearPointAt(CurrentPoint);
        point.PV = m_ui->spePV->clampedValue();
        point.AV = static_cast<std::int32_t>(average); // a mean of 32-bit codes fits
        const QString section = SettingsKeys::LinearPointSection(CurrentPoint);
        m_settings.WriteInteger(section, SettingsKeys::KeyPV, point.PV);
        m_settings.WriteInteger(section, SettingsKeys::KeyAV, point.AV);

        lock.release();
        m_ui->btnNextPoint->setEnabled(CurrentPoint < LastPoint);
        if (CurrentPoint > FirstPoint)
            m_ui->btnEnd->setEnabled(true);
        CalibratedCount = CurrentPoint;
        StartTmpRead();
        busy.restore();
        m_ui->btnCalibrate->setText(CaptionRecalibrate());
        SetCurrentPointGreyed(false);
    });
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

bool TfrmCalibrate::WritePointTable()
{
    DeviceLink &link = m_session.link();
    for (int k = FirstPoint; k <= CalibratedCount; ++k) {
        const LinearPoint &point = LinearPointAt(k);
        if (!EndExchange(link, BuildDataFrame(m_session.CurrentAddress(), CmdAVP(k), point.AV)) || m_closed)
            return false;
        Pause(EndWritePauseMs);
        if (!EndExchange(link, BuildDataFrame(m_session.CurrentAddress(), CmdPVP(k), point.PV)) || m_closed)
            return false;
        Pause(EndWritePauseMs);
    }
    return true;
}

void TfrmCalibrate::btnEndClick()
{
    Guarded(this, [&] {
        DeviceLink &link = m_session.link();
        m_timerTmpRead.stop();
        link.AbortExchange();
        BusyCursor busy;
        Pause(EndStartPauseMs);

        if (!WritePointTable()) {
            if (m_closed) {
                // Closed by the operator meanwhile: nothing further is sent.
                busy.restore();
                Prompts().showError(parentWidget(), TextTableNotStored());
                return;
            }
            m_ui->sttAV->setText(TextWriteFailed());
            busy.restore();
            close();
            return;
        }

        const bool counted =
            EndExchange(link, BuildDataFrame(m_session.CurrentAddress(), CmdPointCount, CalibratedCount));
        m_session.SetValueText(counted ? TextWriteOk() : TextWriteFailed());
        if (m_closed) {
            busy.restore();
            Prompts().showError(parentWidget(), TextTableNotStored());
            return;
        }
        Pause(EndStorePauseMs);
        const bool stored = EndExchange(link, BuildQueryFrame(m_session.CurrentAddress(), CmdStore));
        m_session.SetValueText(stored ? TextCalibrationOk() : TextCalibrationFailed());
        busy.restore();
        if (m_closed && !stored) {
            // The store request went out, but the dialog was closed before
            // the module acknowledged it.
            Prompts().showError(parentWidget(), TextStoreNotConfirmed());
            return;
        }
        close(); // stops TimerTmpRead again
    });
}
