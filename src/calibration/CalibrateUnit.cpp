#include "calibration/CalibrateUnit.h"

#include "app/MainUnit.h"
#include "app/ModalRunner.h"
#include "app/Pause.h"
#include "app/Prompter.h"
#include "calibration/ZeroCalibration.h"
#include "settings/SettingsKeys.h"
#include "ui_CalibrateUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>

#include <algorithm>

std::array<LinearPoint, CalibrationPointCount> LinearPoints{};
int CurrentPoint = 0;
int CalibratedCount = 0;
bool ReadAdNext = true;

TfrmCalibrate *frmCalibrate = nullptr;

namespace
{
constexpr int FirstPoint = SettingsKeys::LinearPointFirst;
constexpr int LastPoint = SettingsKeys::LinearPointLast;
static_assert(LastPoint - FirstPoint + 1 == CalibrationPointCount);

const QString TextReadTimeout = QStringLiteral("读取超时！");
const QString TextWriteFailed = QStringLiteral("写入失败！");
const QString TextSetOk = QStringLiteral("设置成功！");
const QString TextBusy = QStringLiteral("标定中...");
const QString TextWriteOk = QStringLiteral("写入成功！");
const QString TextCalibrationOk = QStringLiteral("标定成功！");
const QString TextCalibrationFailed = QStringLiteral("标定失败！");
const QString CaptionCalibrate = QStringLiteral("标定此点(&C)");
const QString CaptionRecalibrate = QStringLiteral("重新标定此点(&C)");

const QColor GreyText(Qt::gray);

const QString TextTableNotStored = QStringLiteral("标定未完成：标定表未保存到模块。");
const QString TextStoreNotConfirmed = QStringLiteral("标定未完成：模块未确认保存标定表。");

/// An exchange of the end sequence. Only the module's acknowledgement (a reply
/// carrying the request's command byte) counts as answered: a reply to another
/// request arriving meanwhile, or a wait ended by closing the dialog, does
/// not. A port that went away meanwhile counts as not answered (the main
/// window reports the loss), so the sequence takes its failure path and the
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
int AverageCount(TfrmMain &main)
{
    return std::max(1, main.current().AverageCount);
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

void OpenCalibration(TfrmMain &main)
{
    bool cleared = false;
    Guarded(&main, [&] {
        main.link().ReapplyFraming();
        main.SetValueText(QString());
        // Only the module's acknowledgement of this write opens the dialog.
        cleared = main.link().ExchangeExpecting(BuildDataFrame(main.CurrentAddress(), CmdZerO, 0));
        main.SetValueText(cleared ? TextSetOk : TextWriteFailed);
    });
    if (cleared && frmCalibrate)
        ShowModal(frmCalibrate);
}

TfrmCalibrate::TfrmCalibrate(QWidget *parent) : QDialog(parent), m_ui(std::make_unique<Ui::TfrmCalibrate>())
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

    frmCalibrate = this;
}

TfrmCalibrate::~TfrmCalibrate()
{
    m_timerTmpRead.stop();
    if (frmCalibrate == this)
        frmCalibrate = nullptr;
}

TfrmMain &TfrmCalibrate::main() const
{
    return *frmMain;
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
    SettingsStore &settings = main().settings();
    for (int k = FirstPoint; k <= LastPoint; ++k) {
        LinearPointAt(k).PV = settings.ReadInteger(SettingsKeys::LinearPointSection(k), SettingsKeys::KeyPV,
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
    m_ui->btnCalibrate->setText(CaptionCalibrate);
}

void TfrmCalibrate::FormClose()
{
    m_closed = true;
    m_timerTmpRead.stop();
    if (frmMain)
        main().link().AbortExchange();
}

void TfrmCalibrate::TimerTmpReadTimer()
{
    DeviceLink &link = main().link();
    if (!link.isOpen()) {
        m_timerTmpRead.stop(); // the port went away; the main window has told the operator
        return;
    }
    Guarded(this, [&] {
        const CommandCode command = ReadAdNext ? CmdReadAdCode : CmdReadValue;
        bool answered = false;
        try {
            answered = link.Exchange(BuildQueryFrame(main().CurrentAddress(), command));
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
                main().SetValueText(value);
            ReadAdNext = !ReadAdNext;
        } else if (ReadAdNext) {
            m_ui->sttAV->setText(TextReadTimeout);
        } else {
            main().SetValueText(TextReadTimeout);
        }
    });
}

bool TfrmCalibrate::AveragePoint(std::int64_t &average)
{
    DeviceLink &link = main().link();
    const int count = AverageCount(main());
    Pause(SettleBeforeAveragingMs);
    std::int64_t sum = 0;
    int samples = 0;
    main().SetValueText(TextBusy);
    for (;;) {
        if (m_closed)
            return false;
        const bool answered = link.Exchange(BuildQueryFrame(main().CurrentAddress(), CmdReadAdCode));
        if (m_closed)
            return false; // closed while waiting (that wait ended as answered): the
                          // point is given up
        if (!answered) {
            m_ui->sttAV->setText(TextReadTimeout);
            return false;
        }
        if (link.reply().ReplyCommand == CmdReadAdCode) {
            sum += link.reply().ReplyValue;
            if (++samples == count)
                break;
            m_ui->pbrRead->setValue(m_ui->pbrRead->value() + 1);
        }
        Pause(WaitIntervalMs(main()));
    }
    average = sum / count; // truncates toward zero
    return true;
}

void TfrmCalibrate::btnCalibrateClick()
{
    Guarded(this, [&] {
        SetCurrentPointGreyed(true);
        m_ui->pbrRead->setMaximum(AverageCount(main()) - 1);
        m_ui->pbrRead->setValue(0);
        m_timerTmpRead.stop();
        main().link().AbortExchange();

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
                if (dialog->main().ValueText() == TextBusy)
                    dialog->main().SetValueText(QString());
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
        SettingsStore &settings = main().settings();
        const QString section = SettingsKeys::LinearPointSection(CurrentPoint);
        settings.WriteInteger(section, SettingsKeys::KeyPV, point.PV);
        settings.WriteInteger(section, SettingsKeys::KeyAV, point.AV);

        lock.release();
        m_ui->btnNextPoint->setEnabled(CurrentPoint < LastPoint);
        if (CurrentPoint > FirstPoint)
            m_ui->btnEnd->setEnabled(true);
        CalibratedCount = CurrentPoint;
        StartTmpRead();
        busy.restore();
        m_ui->btnCalibrate->setText(CaptionRecalibrate);
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
    m_ui->btnCalibrate->setText(CaptionCalibrate);
}

bool TfrmCalibrate::WritePointTable()
{
    DeviceLink &link = main().link();
    for (int k = FirstPoint; k <= CalibratedCount; ++k) {
        const LinearPoint &point = LinearPointAt(k);
        if (!EndExchange(link, BuildDataFrame(main().CurrentAddress(), CmdAVP(k), point.AV)) || m_closed)
            return false;
        Pause(EndWritePauseMs);
        if (!EndExchange(link, BuildDataFrame(main().CurrentAddress(), CmdPVP(k), point.PV)) || m_closed)
            return false;
        Pause(EndWritePauseMs);
    }
    return true;
}

void TfrmCalibrate::btnEndClick()
{
    Guarded(this, [&] {
        DeviceLink &link = main().link();
        m_timerTmpRead.stop();
        link.AbortExchange();
        BusyCursor busy;
        Pause(EndStartPauseMs);

        if (!WritePointTable()) {
            if (m_closed) {
                // Closed by the operator meanwhile: nothing further is sent.
                busy.restore();
                Prompts().showError(&main(), TextTableNotStored);
                return;
            }
            m_ui->sttAV->setText(TextWriteFailed);
            busy.restore();
            close();
            return;
        }

        const bool counted =
            EndExchange(link, BuildDataFrame(main().CurrentAddress(), CmdPointCount, CalibratedCount));
        main().SetValueText(counted ? TextWriteOk : TextWriteFailed);
        if (m_closed) {
            busy.restore();
            Prompts().showError(&main(), TextTableNotStored);
            return;
        }
        Pause(EndStorePauseMs);
        const bool stored = EndExchange(link, BuildQueryFrame(main().CurrentAddress(), CmdStore));
        main().SetValueText(stored ? TextCalibrationOk : TextCalibrationFailed);
        busy.restore();
        if (m_closed && !stored) {
            // The store request went out, but the dialog was closed before
            // the module acknowledged it.
            Prompts().showError(&main(), TextStoreNotConfirmed);
            return;
        }
        close(); // stops TimerTmpRead again
    });
}
