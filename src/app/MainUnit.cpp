#include "app/MainUnit.h"

#include "app/ModalRunner.h"
#include "app/Pause.h"
#include "app/Prompter.h"
#include "app/SmoothingFilter.h"
#include "calibration/CalibrateUnit.h"
#include "calibration/ZeroCalibration.h"
#include "chart/ChartWidget.h"
#include "parameters/AccessGate.h"
#include "chart/SampleDataFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SystemParamsUnit.h"
#include "ui_MainUnit.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSerialPortInfo>
#include <QShowEvent>

#include <cmath>

TfrmMain *frmMain = nullptr;

namespace {
namespace Keys = SettingsKeys;

const QString CaptionOpen = QStringLiteral("打开串口(&O)");
const QString CaptionClose = QStringLiteral("关闭串口(&E)");
const QString CaptionBeginRead = QStringLiteral("开始读数(&B)");
const QString CaptionStopRead = QStringLiteral("停止读数(&S)");
const QString TextReadTimeout = QStringLiteral("读取超时！");
const QString TextReadOk = QStringLiteral("读取成功！");
const QString TextWriteTimeout = QStringLiteral("写入超时！");
const QString TextSetOk = QStringLiteral("设置成功！");
const QString TextWriteOk = QStringLiteral("写入成功！");
const QString TextWriteFailed = QStringLiteral("写入失败！");
const QString TextOpenFailed = QStringLiteral("串口打开失败！");
const QString PromptTitle = QStringLiteral("提示");
const QString TextAutoSendConfirm =
    QStringLiteral("此操作将使模块进入自动发送状态，继续吗？（再次上电自动取消自动发送）");
const QString TextSettingsWriteFailed = QStringLiteral(
    "设置无法写入文件 %1：\n%2\n\n程序继续工作，但本次运行中更改的设置可能不会保存。");
const QString FilterClassPrefix = QStringLiteral("滤波级数：");
const QString ExportFilter = QStringLiteral("Text File (*.txt)");
const QString ImportFilter = QStringLiteral("文本文件(*.txt)");
const QString DataFileSuffix = QStringLiteral("txt");

constexpr int StatusPanel0Width = 200;
constexpr int SetAddressStorePauseMs = 100;
constexpr int AddressMin = 0;
constexpr int AddressMax = 255;
constexpr int AddressWriteSpacingMs = 200;
constexpr int ValueTextRefreshMs = 16; // about one screen refresh

/// Restores the window's controls however a handler ends.
template <typename F> class ScopeExit
{
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

private:
    F m_f;
};
} // namespace

TfrmMain::TfrmMain(const QString &settingsDir, int replyTimeoutMs, QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::TfrmMain>()), m_settingsDir(settingsDir),
      m_link(nullptr, replyTimeoutMs), m_smoothing(std::make_unique<SmoothingFilter>())
{
    frmMain = this;
    m_ui->setupUi(this);
    m_ui->speDN->setLimits(AddressMin, AddressMax);
    m_ui->speDN->setClampedValue(1);

    // Status bar: panel 0 centred, panel 1 right-aligned.
    m_statusPanel0 = new QLabel(this);
    m_statusPanel0->setAlignment(Qt::AlignCenter);
    m_statusPanel0->setFixedWidth(StatusPanel0Width);
    m_statusPanel1 = new QLabel(this);
    m_statusPanel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_ui->StatusBar1->addWidget(m_statusPanel0);
    m_ui->StatusBar1->addWidget(m_statusPanel1, 1);

    // Context menu of the chart area.
    m_popupMenu1 = new QMenu(this);
    m_popupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    m_popupMenu1->addAction(m_ui->M1);
    m_popupMenu1->addAction(m_ui->mnuClearData);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    m_popupMenu1->addAction(m_ui->mnuEvaluate);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N2"));
    m_popupMenu1->addAction(m_ui->N3);
    m_popupMenu1->addAction(m_ui->E1);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N4"));
    m_popupMenu1->addAction(m_ui->F1);
    // The shortcuts act where the menu is bound, the chart area (clicked or
    // tabbed into), never while the operator types in another field.
    m_ui->pltMain->setFocusPolicy(Qt::StrongFocus);
    for (QAction *action : {m_ui->M1, m_ui->mnuClearData, m_ui->mnuEvaluate, m_ui->N3, m_ui->E1, m_ui->F1}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_ui->pltMain->addAction(action);
    }
    connect(m_popupMenu1, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu1Popup);
    connect(m_ui->pltMain, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_popupMenu1->popup(m_ui->pltMain->mapToGlobal(pos)); });

    m_timerRead.setObjectName(QStringLiteral("TimerRead"));
    m_link.timerWait().setObjectName(QStringLiteral("TimerWait"));
    m_comPort1.setObjectName(QStringLiteral("ComPort1"));

    connect(m_ui->btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    connect(m_ui->cbbPort, &QComboBox::activated, this, &TfrmMain::cbbPortChange);
    connect(m_ui->cbbPort, &PortComboBox::aboutToShowPopup, this, &TfrmMain::RefreshPortList);
    connect(m_ui->btnDN, &QToolButton::clicked, this, &TfrmMain::btnDNClick);
    connect(m_ui->btnSetDN, &QPushButton::clicked, this, &TfrmMain::btnSetDNClick);
    connect(m_ui->speDN, &QSpinBox::textChanged, this, &TfrmMain::speDNChange);
    connect(m_ui->M1, &QAction::triggered, this, &TfrmMain::M1Click);
    connect(m_ui->F1, &QAction::triggered, this, &TfrmMain::F1Click);
    connect(m_ui->N3, &QAction::triggered, this, &TfrmMain::N3Click);
    connect(m_ui->btnSystemParams, &QPushButton::clicked, this, &TfrmMain::btnSystemParamsClick);
    connect(m_ui->btnBeginRead, &QPushButton::clicked, this, &TfrmMain::btnBeginReadClick);
    connect(&m_timerRead, &QTimer::timeout, this, &TfrmMain::TimerReadTimer);
    connect(m_ui->btnClear, &QPushButton::clicked, this, &TfrmMain::btnClearClick);
    connect(m_ui->mnuClearData, &QAction::triggered, this, &TfrmMain::mnuClearDataClick);
    connect(m_ui->btnFilter, &QPushButton::clicked, this, &TfrmMain::btnFilterClick);
    connect(m_ui->tbFilterClass, &QSlider::valueChanged, this, &TfrmMain::tbFilterClassChange);
    // Every change of the box (mouse, keyboard, accessibility, program) applies and stores it.
    connect(m_ui->ckbViewMarker, &QCheckBox::toggled, this, &TfrmMain::ckbViewMarkerClick);
    connect(m_ui->btnExport, &QPushButton::clicked, this, &TfrmMain::btnExportClick);
    connect(m_ui->E1, &QAction::triggered, this, &TfrmMain::E1Click);
    connect(m_ui->btnLoadData, &QPushButton::clicked, this, &TfrmMain::btnLoadDataClick);
    connect(m_ui->btnReport, &QPushButton::clicked, this, &TfrmMain::btnReportClick);
    connect(m_ui->mnuEvaluate, &QAction::triggered, this, &TfrmMain::mnuEvaluateClick);
    connect(m_ui->btnZero, &QPushButton::clicked, this, &TfrmMain::btnZeroClick);
    connect(m_ui->btnCalibrate, &QPushButton::clicked, this, &TfrmMain::btnCalibrateClick);
    connect(m_ui->btnParam, &QPushButton::clicked, this, &TfrmMain::sttValueDblClick);
    m_ui->sttValue->installEventFilter(this);

    connect(&m_link, &DeviceLink::replyHandled, this, &TfrmMain::ComDataPacket1Packet);
    connect(&m_link, &DeviceLink::deviceLost, this, &TfrmMain::DeviceLost);
    connect(&m_link, &DeviceLink::waitTimedOut, this, &TfrmMain::PollTimedOut);
    connect(&m_link, &DeviceLink::waitAborted, this, &TfrmMain::PollEnded);
    m_link.attach(&m_comPort1);
    m_addressWriteTimer.setSingleShot(true);
    connect(&m_addressWriteTimer, &QTimer::timeout, this, &TfrmMain::WriteDeviceNumber);
    m_valueText = m_ui->sttValue->text();
    m_valueTextRefresh.setSingleShot(true);
    connect(&m_valueTextRefresh, &QTimer::timeout, this, [this] {
        if (m_ui->sttValue->text() != m_valueText) {
            m_ui->sttValue->setText(m_valueText);
            m_valueTextRefresh.start(ValueTextRefreshMs);
        }
    });

    FormCreate();
    ApplyState(State::PortClosed);
}

TfrmMain::~TfrmMain()
{
    if (m_addressWriteTimer.isActive())
        WriteDeviceNumber();
    m_timerRead.stop();
    m_link.detach();
    if (m_comPort1.isOpen())
        m_comPort1.close();
    if (frmMain == this)
        frmMain = nullptr;
}

ChartWidget *TfrmMain::chart() const { return m_ui->pltMain; }

// --- Start-up --------------------------------------------------------------

void TfrmMain::FormCreate()
{
    m_settings = std::make_unique<SettingsStore>(QDir(m_settingsDir).filePath(Keys::FileName));
    m_settings->setWriteFailureHandler(
        [this](const QString &filePath, const QString &reason) { SettingsWriteFailed(filePath, reason); });
    SettingsStore &ini = *m_settings;

    m_current.ComPort = ini.ReadString(Keys::SectionCommunication, Keys::KeyComPort, Keys::DefaultComPort);
    m_current.AverageCount = ini.ReadInteger(Keys::SectionFilter, Keys::KeyAverageCount, Keys::DefaultAverageCount);
    m_current.ReadInterval =
        ini.ReadInteger(Keys::SectionSystemParameters, Keys::KeyReadInterval, Keys::DefaultReadInterval);
    m_current.WaitInterval =
        ini.ReadInteger(Keys::SectionSystemParameters, Keys::KeyWaitInterval, Keys::DefaultWaitInterval);
    SetReadInterval(m_current.ReadInterval);

    m_current.StayOnTop = ini.ReadBool(Keys::SectionSystemParameters, Keys::KeyStayOnTop, Keys::DefaultStayOnTop);
    ApplyStayOnTop(m_current.StayOnTop);

    m_current.MeasureUnit =
        ini.ReadString(Keys::SectionSystemParameters, Keys::KeyMeasureUnit, Keys::DefaultMeasureUnit);
    m_current.Decimal = ini.ReadInteger(Keys::SectionSystemParameters, Keys::KeyDecimal, Keys::DefaultDecimal);

    m_current.YMin = ini.ReadFloat(Keys::SectionSystemParameters, Keys::KeyYMin, Keys::DefaultYMin);
    m_current.YMax = ini.ReadFloat(Keys::SectionSystemParameters, Keys::KeyYMax, Keys::DefaultYMax);
    ApplyYRange(m_current.YMin, m_current.YMax);

    if (!ini.SectionExists(Keys::SectionSystem)) {
        ini.WriteString(Keys::SectionSystem, Keys::KeyApplicationName, Keys::DefaultApplicationName);
        ini.WriteString(Keys::SectionSystem, Keys::KeyHomePage, Keys::DefaultHomePage);
    }
    m_statusPanel0->setText(
        ini.ReadString(Keys::SectionSystem, Keys::KeyApplicationName, Keys::DefaultApplicationName));
    m_statusPanel1->setText(ini.ReadString(Keys::SectionSystem, Keys::KeyHomePage, Keys::DefaultHomePage));

    RefreshPortList();
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous() && !m_formShown) {
        m_formShown = true;
        FormShow();
    }
}

void TfrmMain::FormShow()
{
    SettingsStore &ini = *m_settings;
    {
        const QSignalBlocker once(m_ui->ckbViewMarker); // applied below, whether it changed or not
        m_ui->ckbViewMarker->setChecked(
            ini.ReadBool(Keys::SectionRuntime, Keys::KeyViewDataMarker, Keys::DefaultViewDataMarker));
    }
    ckbViewMarkerClick();

    const int saved = m_ui->cbbPort->findText(m_current.ComPort, Qt::MatchFixedString);
    if (saved >= 0)
        m_ui->cbbPort->setCurrentIndex(saved);

    m_sampleCount = 0;
    m_current.Baud = ini.ReadInteger(Keys::SectionSystemParameters, Keys::KeyBaud, Keys::DefaultBaud);
    SetCurrentAddress(ini.ReadInteger(Keys::SectionDefault, Keys::KeyDeviceNumber, Keys::DefaultDeviceNumber));

    reply().ReplyValue = 0;
    ShowValue();
}

// --- Shared operations -----------------------------------------------------

DeviceAddress TfrmMain::CurrentAddress() const
{
    return static_cast<DeviceAddress>(m_ui->speDN->clampedValue());
}

void TfrmMain::SetCurrentAddress(int address)
{
    if (m_ui->speDN->textIsInteger() && m_ui->speDN->textValue() == address)
        return;
    m_ui->speDN->setClampedValue(address);
}

void TfrmMain::SetValueText(const QString &text)
{
    // A new text lays the window out again. In automatic sending a text per
    // reply would do that a thousand times a second, far more often than any
    // screen shows: the display takes the newest text at most once per
    // refresh, a change after a quiet spell at once.
    m_valueText = text;
    if (m_valueTextRefresh.isActive())
        return;
    m_ui->sttValue->setText(text);
    m_valueTextRefresh.start(ValueTextRefreshMs);
}

QString TfrmMain::ValueText() const { return m_valueText; }

void TfrmMain::ShowValue()
{
    const std::int32_t value = reply().ReplyValue;
    const int decimal = m_current.Decimal;
    QString text;
    if (decimal > 0) {
        m_displayValue = double(value) / std::pow(10.0, decimal);
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        text = locale.toString(m_displayValue, 'f', decimal);
    } else {
        m_displayValue = double(value);
        text = QString::number(value);
    }
    SetValueText(text + m_current.MeasureUnit);
}

void TfrmMain::PlotValue()
{
    ++m_sampleCount;
    // Called for every reply: a chart without memory for one more point
    // loses this sample only (the stored ones stay) and is told once, not
    // again until a sample has been stored in between. The notice waits
    // until the reply handler has ended.
    try {
        m_ui->pltMain->append(ChartWidget::SampleChannel, double(m_sampleCount), m_displayValue);
        m_plotFailing = false;
        return;
    } catch (const std::bad_alloc &) {
        if (m_plotFailing)
            return;
    }
    try {
        QTimer::singleShot(0, this, [this] {
            Prompts().showError(this, QStringLiteral("内存不足：新的读数无法再加入曲线，已有的数据保留。"));
        });
        m_plotFailing = true;
    } catch (const std::bad_alloc &) {
        // Not even the notice fits: it is tried again with the next sample.
    }
}

void TfrmMain::ApplyYRange(double yMin, double yMax)
{
    m_ui->pltMain->setYAxis(std::min(yMin, yMax), std::abs(yMax - yMin));
}

void TfrmMain::SetReadInterval(int ms)
{
    m_current.ReadInterval = ms;
    // A zero or negative interval would poll without pause.
    m_timerRead.setInterval(std::max(ms, 1));
}

void TfrmMain::SetBaud(int baud)
{
    m_current.Baud = baud;
    m_comPort1.setBaudRate(baud);
}

void TfrmMain::OpenPort()
{
    m_comPort1.setPortName(m_ui->cbbPort->currentText());
    m_comPort1.setBaudRate(m_current.Baud);
    m_comPort1.setDataBits(QSerialPort::Data8);
    m_comPort1.setParity(QSerialPort::NoParity);
    m_comPort1.setStopBits(QSerialPort::OneStop);
    m_comPort1.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_comPort1.open(QIODevice::ReadWrite)) {
        QString reason = m_comPort1.errorString();
        if (m_comPort1.error() == QSerialPort::PermissionError)
            reason += QStringLiteral("\n当前用户无权访问该串口：请把用户加入 \"dialout\" 组后重新登录。");
        m_comPort1.clearError();
        throw OperatorError(TextOpenFailed + QLatin1Char('\n') + reason);
    }
    // Pseudo-terminals and some adapters have no modem lines: not an error.
    m_comPort1.setDataTerminalReady(true);
    m_comPort1.setRequestToSend(true);
    m_comPort1.clearError();
    m_link.attach(&m_comPort1);
}

void TfrmMain::ClosePort()
{
    if (m_comPort1.isOpen())
        m_comPort1.close();
}

void TfrmMain::ReopenPort()
{
    // A poll sent before the reopening gets no reply: the next tick asks anew.
    PollEnded();
    ClosePort();
    try {
        OpenPort();
    } catch (...) {
        m_timerRead.stop();
        ApplyState(State::PortClosed);
        throw;
    }
}

bool TfrmMain::SelectPort(const QString &portName)
{
    int index = m_ui->cbbPort->findText(portName, Qt::MatchFixedString);
    if (index < 0) {
        if (!QFileInfo::exists(portName))
            return false;
        m_ui->cbbPort->addItem(portName);
        index = m_ui->cbbPort->count() - 1;
    }
    m_ui->cbbPort->setCurrentIndex(index);
    return true;
}

void TfrmMain::RefreshPortList()
{
    const QString selected = m_ui->cbbPort->currentText();
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.systemLocation();
    // Virtual ports (pseudo-terminals, network bridges) are not listed by the
    // system; offer the saved one while it exists. The chosen one stays even
    // when it has vanished (a pulled adapter): the next opening must not
    // silently take another port; it stays until the operator picks another.
    if (const QString &saved = m_current.ComPort;
        !saved.isEmpty() && !names.contains(saved, Qt::CaseInsensitive) && QFileInfo::exists(saved))
        names << saved;
    if (!selected.isEmpty() && !names.contains(selected, Qt::CaseInsensitive))
        names << selected;
    names.sort();
    if (names == itemsOf(m_ui->cbbPort))
        return;
    m_ui->cbbPort->clear();
    m_ui->cbbPort->addItems(names);
    const int index = m_ui->cbbPort->findText(selected, Qt::MatchFixedString);
    if (index >= 0)
        m_ui->cbbPort->setCurrentIndex(index);
}

QStringList TfrmMain::itemsOf(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// --- Control states --------------------------------------------------------

void TfrmMain::ApplyState(State state)
{
    if (state != State::PortClosed && !IsPortOpen())
        state = State::PortClosed;
    m_state = state;
    const bool closed = state == State::PortClosed;
    const bool idle = state == State::PortIdle;
    const bool reading = state == State::Reading;
    const bool settingAddress = state == State::SettingAddress;

    m_ui->btnOpen->setEnabled(closed || idle);
    m_ui->btnOpen->setText(closed ? CaptionOpen : CaptionClose);
    m_ui->cbbPort->setEnabled(closed);
    m_ui->btnBeginRead->setEnabled(idle || reading);
    m_ui->btnBeginRead->setText(reading ? CaptionStopRead : CaptionBeginRead);
    m_ui->btnSetDN->setEnabled(idle);
    m_ui->btnCalibrate->setEnabled(idle);
    m_ui->btnZero->setEnabled(idle);
    m_ui->btnDN->setEnabled(idle || settingAddress);
    m_ui->sttValue->setEnabled(!closed);
    m_ui->btnParam->setEnabled(idle || settingAddress);
    m_ui->mnuEvaluate->setEnabled(idle || settingAddress);
    m_ui->speDN->setEnabled(!reading);
    m_ui->mnuClearData->setEnabled(!reading);
}

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
            m_timerRead.stop();
            PollEnded();
            ClosePort();
            ApplyState(State::PortClosed);
        }
    });
}

void TfrmMain::cbbPortChange()
{
    const QString name = m_ui->cbbPort->currentText();
    m_comPort1.setPortName(name);
    m_current.ComPort = name;
    m_settings->WriteString(Keys::SectionCommunication, Keys::KeyComPort, name);
}

void TfrmMain::btnDNClick()
{
    Guarded(this, [this] {
        ReplyState &r = reply();
        m_link.SendFrame(BuildQueryFrame(BroadcastAddress, CmdDN));
        r.ReplyDone = false;
        r.ReplyTimedOut = false;
        m_link.StartTimerWait();
        m_link.WaitForReply();
        SetValueText(r.ReplyTimedOut ? TextReadTimeout : TextReadOk);
    });
}

void TfrmMain::btnSetDNClick()
{
    Guarded(this, [this] {
        SetValueText(QString());
        const bool wasReading = m_timerRead.isActive();
        m_timerRead.stop();
        ApplyState(State::SettingAddress);
        // However the handler ends (a write error included), the window returns to its state.
        ScopeExit restore([this, wasReading] {
            if (wasReading && IsPortOpen())
                m_timerRead.start();
            ApplyState(wasReading ? State::Reading : State::PortIdle);
        });

        const bool addressSet = m_link.Exchange(BuildDataFrame(BroadcastAddress, CmdDN, CurrentAddress()));
        SetValueText(addressSet ? TextSetOk : TextWriteTimeout);
        Pause(SetAddressStorePauseMs);
        bool stored = false;
        try {
            stored = m_link.Exchange(BuildQueryFrame(CurrentAddress(), CmdStore));
        } catch (...) {
            // The store request did not go out (the line lost meanwhile): the
            // success text of the first step must not stay as the last word,
            // and nothing timed out.
            SetValueText(TextWriteFailed);
            throw;
        }
        SetValueText(stored ? TextWriteOk : TextWriteTimeout);
    });
}

void TfrmMain::speDNChange()
{
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
    m_settings->WriteInteger(Keys::SectionDefault, Keys::KeyDeviceNumber, int(m_ui->speDN->textValue()));
    m_addressWritten.start();
}

// --- Replies ---------------------------------------------------------------

void TfrmMain::ComDataPacket1Packet(const Reply &reply)
{
    // Any reply ends every wait in progress, the poll's too.
    PollEnded();
    SetCurrentAddress(reply.address);
    if (reply.command == CmdReadValue) {
        ShowValue();
        PlotValue();
    }
}

void TfrmMain::DeviceLost(const QString &reason)
{
    m_timerRead.stop();
    PollEnded();
    ClosePort();
    ApplyState(State::PortClosed);
    if (m_lostNoticePending)
        return;
    m_lostNoticePending = true;
    // Told once, after the waits that the loss ended have unwound.
    QTimer::singleShot(0, this, [this, reason] {
        m_lostNoticePending = false;
        m_link.LossReported();
        RefreshPortList();
        Prompts().showError(this, QStringLiteral("串口连接已断开，串口已关闭。\n%1").arg(reason));
    });
}

void TfrmMain::SettingsWriteFailed(const QString &filePath, const QString &reason)
{
    // Told once per run; the program goes on with the values in memory (and
    // the store writes them with the next write that succeeds). The notice
    // waits until the handler that wrote has ended.
    if (m_settingsFailureTold)
        return;
    m_settingsFailureTold = true;
    QTimer::singleShot(0, this, [this, filePath, reason] {
        Prompts().showError(this, TextSettingsWriteFailed.arg(QDir::toNativeSeparators(filePath), reason));
    });
}

// --- Live reading ----------------------------------------------------------

void TfrmMain::btnBeginReadClick()
{
    if (m_state != State::Reading) {
        ApplyState(State::Reading);
        m_timerRead.start();
        SetValueText(QString());
    } else {
        StopReading();
    }
}

void TfrmMain::StopReading()
{
    m_link.AbortExchange();
    m_timerRead.stop();
    PollEnded();
    ApplyState(State::PortIdle);
}

void TfrmMain::TimerReadTimer()
{
    // At most one poll is outstanding: a tick that comes while the last poll
    // still waits sends nothing, so a slow module is polled at its own answer
    // rate and the line is never flooded with requests it cannot answer.
    //
    // The poll does not wait here. Its reply (any reply, as for every wait)
    // or TimerWait running out ends it, so a window opened meanwhile, by
    // whatever way, never sits on top of a wait of the poll's: the ticks go
    // on under every dialog.
    if (m_pollPending)
        return;
    try {
        m_link.SendFrame(BuildQueryFrame(CurrentAddress(), CmdReadValue));
        m_pollPending = true;
        m_link.StartTimerWait();
    } catch (const std::exception &e) {
        // A failed write stops reading, so the next tick does not repeat the error.
        if (m_state == State::Reading)
            StopReading();
        if (!dynamic_cast<const ReportedError *>(&e)) // a lost port is reported once, elsewhere
            Prompts().showError(this, QString::fromStdString(e.what()));
    }
}

void TfrmMain::PollEnded() { m_pollPending = false; }

void TfrmMain::PollTimedOut()
{
    if (!m_pollPending)
        return;
    m_pollPending = false;
    SetValueText(TextReadTimeout);
    // The wait is over already: nothing to abort.
    m_timerRead.stop();
    ApplyState(State::PortIdle);
}

void TfrmMain::btnClearClick()
{
    m_ui->pltMain->clearAll();
    m_sampleCount = 0;
}

void TfrmMain::mnuClearDataClick() { btnClearClick(); }

// --- Sample data -----------------------------------------------------------

void TfrmMain::btnFilterClick()
{
    if (!ApplySmoothing(*m_smoothing, m_ui->tbFilterClass->value(), m_ui->pltMain->data()))
        Prompts().showError(this, QStringLiteral("内存不足：滤波未能完成，滤波曲线不完整。"));
}

void TfrmMain::tbFilterClassChange()
{
    m_ui->sttFilterClass->setText(FilterClassPrefix + QString::number(m_ui->tbFilterClass->value()));
    btnFilterClick();
}

void TfrmMain::ckbViewMarkerClick()
{
    const bool visible = m_ui->ckbViewMarker->isChecked();
    for (int channel = 0; channel < m_ui->pltMain->channelCount(); ++channel)
        m_ui->pltMain->setMarkersVisible(channel, visible);
    m_settings->WriteBool(Keys::SectionRuntime, Keys::KeyViewDataMarker, visible);
}

void TfrmMain::ExportData()
{
    const QString name = Prompts().saveFileName(this, ExportFilter, DataFileSuffix);
    if (name.isEmpty())
        return;
    QString error;
    if (!WriteSampleDataFile(m_ui->pltMain->data(), name, &error))
        Prompts().showError(this, QLatin1String(SaveDataErrorPrefix) + error);
}

void TfrmMain::btnExportClick() { ExportData(); }

void TfrmMain::E1Click() { ExportData(); }

void TfrmMain::btnLoadDataClick()
{
    const QString name = Prompts().openFileName(this, ImportFilter, DataFileSuffix);
    if (name.isEmpty())
        return;
    ChartWidget *chart = m_ui->pltMain;
    QString error;
    chart->suspendRepaint();
    const bool read = ReadSampleDataFile(chart->data(), name, &error);
    chart->resumeRepaint();
    if (!read || !AppendMeanLine(chart->data(), &error))
        Prompts().showError(this, QLatin1String(LoadDataErrorPrefix) + error);
}

// --- Automatic sending -----------------------------------------------------

void TfrmMain::btnReportClick()
{
    if (!Prompts().askYesNo(this, PromptTitle, TextAutoSendConfirm))
        return;
    Guarded(this, [this] { m_link.SendFrame(BuildQueryFrame(BroadcastAddress, CmdAutoSend)); });
}

void TfrmMain::mnuEvaluateClick() { btnReportClick(); }

// --- Window-level commands -------------------------------------------------

void TfrmMain::M1Click()
{
    const bool on = m_ui->M1->isChecked();
    m_ui->pltMain->setToolbarVisible(on);
    m_ui->pltMain->setToolbarEnabled(on);
}

void TfrmMain::ApplyStayOnTop(bool onTop)
{
    if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible)
        show(); // changing the flags hides the window
}

void TfrmMain::F1Click()
{
    const bool onTop = m_ui->F1->isChecked();
    ApplyStayOnTop(onTop);
    m_current.StayOnTop = onTop;
    m_settings->WriteBool(Keys::SectionSystemParameters, Keys::KeyStayOnTop, onTop);
}

void TfrmMain::PopupMenu1Popup() { m_ui->F1->setChecked(windowFlags() & Qt::WindowStaysOnTopHint); }

void TfrmMain::N3Click() { btnSystemParamsClick(); }

void TfrmMain::btnSystemParamsClick() { ShowModal(frmSystemParams); }

void TfrmMain::btnZeroClick() { RunZeroCalibration(*this); }

void TfrmMain::btnCalibrateClick() { OpenCalibration(*this); }

void TfrmMain::sttValueDblClick() { RunAccessGate(); }

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->sttValue && event->type() == QEvent::MouseButtonDblClick && m_ui->sttValue->isEnabled()) {
        sttValueDblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
