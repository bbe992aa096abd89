#include "app/MainUnit.h"

#include "app/AboutBox.h"
#include "app/BuildInfo.h"
#include "app/Language.h"
#include "bustools/BusScanUnit.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "calibration/CalibrateUnit.h"
#include "calibration/ZeroCalibration.h"
#include "chart/ChartWidget.h"
#include "chart/SmoothingFilter.h"
#include "io/SettingsKeys.h"
#include "parameters/AccessGate.h"
#include "settings/MqttPublishing.h"
#include "settings/SystemParamsUnit.h"
#include "ui_MainUnit.h"
#include "watch/WatchUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"

#include <QDateTime>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSerialPortInfo>
#include <QShowEvent>

#include <algorithm>
#include <cmath>

namespace
{
namespace Keys = SettingsKeys;

QString CaptionOpen()
{
    return QCoreApplication::translate("TfrmMain", "打开串口(&O)");
}
QString CaptionClose()
{
    return QCoreApplication::translate("TfrmMain", "关闭串口(&E)");
}
QString CaptionBeginRead()
{
    return QCoreApplication::translate("TfrmMain", "开始读数(&B)");
}
QString CaptionStopRead()
{
    return QCoreApplication::translate("TfrmMain", "停止读数(&S)");
}
QString TextSettingsWriteFailed()
{
    return QCoreApplication::translate(
        "TfrmMain", "设置无法写入文件 %1：\n%2\n\n程序继续工作，但本次运行中更改的设置可能不会保存。");
}

constexpr int StatusPanel0Width = 200;
/// The value display changes at most this often: ten readings a second, as a
/// weighing indicator shows them. Each new text lays the window out again.
constexpr int ValueTextRefreshMs = 100;

/// The bus tools stay open beside the main window (not modal).
void ShowToolWindow(QWidget *window)
{
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

TfrmMain::TfrmMain(ModuleSession &session, SettingsStore &settings, QWidget *parent)
    : QMainWindow(parent), m_session(session), m_settings(settings), m_ui(std::make_unique<Ui::TfrmMain>()),
      m_smoothing(std::make_unique<SmoothingFilter>())
{
    m_ui->setupUi(this);
    m_ui->speDN->setLimits(ModuleSession::AddressMin, ModuleSession::AddressMax);
    m_ui->speDN->setClampedValue(m_session.CurrentAddress());

    // Status bar: panel 0 centred, panel 1 right-aligned.
    m_statusPanel0 = new QLabel(this);
    m_statusPanel0->setAlignment(Qt::AlignCenter);
    m_statusPanel0->setFixedWidth(StatusPanel0Width);
    m_statusPanel1 = new QLabel(this);
    m_statusPanel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_ui->StatusBar1->addWidget(m_statusPanel0);
    m_ui->StatusBar1->addWidget(m_statusPanel1, 1);
    // Faulty frames the line brought (noise, a lost byte): shown once there are any.
    m_droppedFrames = new QLabel(this);
    m_droppedFrames->setObjectName(QStringLiteral("sttDroppedFrames"));
    m_droppedFrames->setVisible(false);
    m_ui->StatusBar1->addPermanentWidget(m_droppedFrames);

    // Context menu of the chart area.
    m_popupMenu1 = new QMenu(this);
    m_popupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    m_popupMenu1->addAction(m_ui->M1);
    // Live samples keep their wall-clock time: the X axis can show it.
    m_popupMenu1->addAction(m_ui->pltMain->action(ChartWidget::Action::ClockTime));
    m_popupMenu1->addAction(m_ui->mnuClearData);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    m_popupMenu1->addAction(m_ui->mnuEvaluate);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N2"));
    m_popupMenu1->addAction(m_ui->N3);
    m_popupMenu1->addAction(m_ui->E1);
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N4"));
    m_popupMenu1->addAction(m_ui->F1);
    // The bus tools only look at the line: their shortcuts work anywhere in the window.
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N5"));
    QAction *monitor = m_popupMenu1->addAction(tr("协议监视器(&M)..."), this, &TfrmMain::mnuProtocolMonitorClick);
    monitor->setObjectName(QStringLiteral("mnuProtocolMonitor"));
    monitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    QAction *busScan = m_popupMenu1->addAction(tr("总线扫描(&N)..."), this, &TfrmMain::mnuBusScanClick);
    busScan->setObjectName(QStringLiteral("mnuBusScan"));
    busScan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    QAction *watch = m_popupMenu1->addAction(tr("总线监视(&W)..."), this, &TfrmMain::mnuWatchClick);
    watch->setObjectName(QStringLiteral("mnuWatch"));
    watch->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    addActions({monitor, busScan, watch});
    SetUpMqtt();
    m_popupMenu1->addSeparator()->setObjectName(QStringLiteral("N6"));
    AddLanguageMenu(m_popupMenu1, m_settings, this);
    m_popupMenu1->addAction(tr("关于(&A)..."), this, &TfrmMain::mnuAboutClick)
        ->setObjectName(QStringLiteral("mnuAbout"));
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

    connect(m_ui->btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    connect(m_ui->cbbPort, &QComboBox::activated, this, &TfrmMain::cbbPortChange);
    connect(m_ui->cbbPort, &PortComboBox::aboutToShowPopup, this, &TfrmMain::RefreshPortList);
    connect(m_ui->btnDN, &QToolButton::clicked, this, &TfrmMain::btnDNClick);
    connect(m_ui->btnSetDN, &QPushButton::clicked, this, &TfrmMain::btnSetDNClick);
    connect(m_ui->speDN, &QSpinBox::textChanged, this, &TfrmMain::speDNChange);
    // Every text of the field is the session's current address at once: the
    // typed ones (an empty or partly typed one too) come from the editor, the
    // ones the program sets only from the spin box.
    connect(m_ui->speDN->editor(), &QLineEdit::textChanged, this, &TfrmMain::speDNTextChange);
    connect(m_ui->M1, &QAction::triggered, this, &TfrmMain::M1Click);
    connect(m_ui->F1, &QAction::triggered, this, &TfrmMain::F1Click);
    connect(m_ui->N3, &QAction::triggered, this, &TfrmMain::N3Click);
    connect(m_ui->btnSystemParams, &QPushButton::clicked, this, &TfrmMain::btnSystemParamsClick);
    connect(m_ui->btnBeginRead, &QPushButton::clicked, this, &TfrmMain::btnBeginReadClick);
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
    // The value display sits alone in its panel, which the window's layout
    // places: a new text (ten a second while values stream in) repaints the
    // display without laying out the whole window again.
    m_ui->pnlValue->installEventFilter(this);

    connect(&m_session, &ModuleSession::currentAddressChanged, this, &TfrmMain::ShowCurrentAddress);
    connect(&m_session, &ModuleSession::addressReplied, this, &TfrmMain::SetCurrentAddress);
    connect(&m_display, &ValueDisplay::textChanged, this, &TfrmMain::ShowValueText);
    connect(&m_session, &ModuleSession::valueRead, this, [this] {
        ShowValue();
        PlotValue();
    });
    // In automatic sending the replies wait in the port until the chart is
    // about to be drawn: one wake-up a frame takes them in and draws them.
    // The link reads them by itself only when the chart does not come by.
    m_session.link().setStreamBatchInterval(ChartWidget::DefaultRepaintIntervalMs +
                                            DeviceLink::DefaultStreamBatchMs);
    // A waiting text of the value display goes with the same frame.
    connect(m_ui->pltMain, &ChartWidget::aboutToRefresh, this, [this] {
        m_session.link().readHeld();
        if (m_valueTextRefresh.isActive() && m_valueTextSet.elapsed() >= ValueTextRefreshMs)
            FlushValueText();
    });
    connect(&m_display, &ValueDisplay::yRangeChanged, this, [this](double yMin, double yMax) {
        m_ui->pltMain->setYAxis(std::min(yMin, yMax), std::abs(yMax - yMin));
    });
    connect(&m_session, &ModuleSession::readingTimedOut, this, [this] {
        SetValueText(tr("读取超时！"));
        ApplyState(State::PortIdle);
    });
    connect(&m_session, &ModuleSession::pollFailed, this, &TfrmMain::PollFailed);
    connect(&m_session, &ModuleSession::portLost, this, &TfrmMain::PortLost);
    connect(&m_session, &ModuleSession::portClosed, this, [this] { ApplyState(State::PortClosed); });
    connect(&link(), &DeviceLink::reservationChanged, this, [this] { ApplyState(m_state); });
    connect(&link(), &DeviceLink::frameDropped, this, &TfrmMain::ShowDroppedFrames);
    m_addressWriteTimer.setSingleShot(true);
    connect(&m_addressWriteTimer, &QTimer::timeout, this, &TfrmMain::WriteDeviceNumber);
    m_valueTextRefresh.setSingleShot(true);
    connect(&m_valueTextRefresh, &QTimer::timeout, this, &TfrmMain::FlushValueText);

    FormCreate();
    ApplyState(State::PortClosed);
}

TfrmMain::~TfrmMain()
{
    if (m_addressWriteTimer.isActive())
        WriteDeviceNumber();
    m_settings.setWriteFailureHandler({});
    // Publishing ends before the window: the broker gets "offline".
    m_mqtt->disconnect(this);
    m_mqtt.reset();
    // A normal end: the journal is for runs that do not get here.
    m_journal.remove();
}

ChartWidget *TfrmMain::chart() const
{
    return m_ui->pltMain;
}

// --- Start-up --------------------------------------------------------------

void TfrmMain::FormCreate()
{
    m_settings.setWriteFailureHandler(
        [this](const QString &filePath, const QString &reason) { SettingsWriteFailed(filePath, reason); });
    SettingsStore &ini = m_settings;
    CurrentSettings &now = current();

    now.ComPort = ini.ReadString(Keys::SectionCommunication, Keys::KeyComPort, Keys::DefaultComPort);
    now.AverageCount = ini.Read(Keys::AverageCount);
    now.ReadInterval = ini.Read(Keys::ReadInterval);
    now.WaitInterval = ini.Read(Keys::WaitInterval);
    SetReadInterval(now.ReadInterval);

    now.StayOnTop = ini.ReadBool(Keys::SectionSystemParameters, Keys::KeyStayOnTop, Keys::DefaultStayOnTop);
    ApplyStayOnTop(now.StayOnTop);

    now.MeasureUnit =
        ini.ReadString(Keys::SectionSystemParameters, Keys::KeyMeasureUnit, Keys::DefaultMeasureUnit);
    now.Decimal = ini.Read(Keys::Decimal);

    now.YMin = ini.Read(Keys::YMin);
    now.YMax = ini.Read(Keys::YMax);
    ApplyYRange(now.YMin, now.YMax);

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
    SettingsStore &ini = m_settings;
    CurrentSettings &now = current();
    {
        const QSignalBlocker once(m_ui->ckbViewMarker); // applied below, whether it changed or not
        m_ui->ckbViewMarker->setChecked(
            ini.ReadBool(Keys::SectionRuntime, Keys::KeyViewDataMarker, Keys::DefaultViewDataMarker));
    }
    ckbViewMarkerClick();

    const int saved = m_ui->cbbPort->findText(now.ComPort, Qt::MatchFixedString);
    if (saved >= 0)
        m_ui->cbbPort->setCurrentIndex(saved);

    m_sampleCount = 0;
    now.Baud = ini.Read(Keys::Baud);
    SetCurrentAddress(ini.Read(Keys::DeviceNumber));

    reply().ReplyValue = 0;
    ShowValue();

    connect(&m_journal, &RecordingJournal::writeFailed, this, &TfrmMain::JournalWriteFailed,
            Qt::UniqueConnection);
    // Asked once the window is on screen.
    QTimer::singleShot(0, this, &TfrmMain::OfferJournalRestore);
}

// --- Shared operations -----------------------------------------------------

void TfrmMain::SetCurrentAddress(int address)
{
    if (m_ui->speDN->textIsInteger() && m_ui->speDN->textValue() == address)
        return;
    m_ui->speDN->setClampedValue(address);
}

void TfrmMain::ShowCurrentAddress(DeviceAddress address)
{
    // The field already reads as that address (an empty field reads as 0):
    // its text stays as the operator typed it.
    if (m_ui->speDN->clampedValue() != address)
        SetCurrentAddress(address);
}

void TfrmMain::ShowValueText()
{
    // A new text lays the window out again. In automatic sending a text per
    // reply would do that a thousand times a second, far more often than
    // anyone can read: the display takes the newest text at most ten times a
    // second, a change after a quiet spell at once. A text that must wait
    // is set with the chart's next frame (drawn together), or by the timer
    // when no frame comes.
    if (m_valueTextRefresh.isActive())
        return;
    const qint64 since = m_valueTextSet.isValid() ? m_valueTextSet.elapsed() : ValueTextRefreshMs;
    if (since >= ValueTextRefreshMs)
        FlushValueText();
    else
        m_valueTextRefresh.start(int(ValueTextRefreshMs - since) + ChartWidget::DefaultRepaintIntervalMs);
}

void TfrmMain::FlushValueText()
{
    m_valueTextRefresh.stop();
    const QString text = m_display.Text();
    if (m_ui->sttValue->text() != text) {
        m_ui->sttValue->setText(text);
        // A text longer than any before may need a wider panel.
        if (text.size() > m_longestValueText) {
            m_longestValueText = int(text.size());
            m_ui->pnlValue->setMinimumWidth(
                std::max(m_ui->pnlValue->minimumWidth(), m_ui->sttValue->sizeHint().width()));
        }
    }
    m_valueTextSet.start();
}

void TfrmMain::PlotValue()
{
    ++m_sampleCount;
    // Called for every reply: a chart without memory for one more point
    // loses this sample only (the stored ones stay) and is told once, not
    // again until a sample has been stored in between. The notice waits
    // until the reply handler has ended.
    try {
        // Every live sample keeps its wall-clock time. During an import the
        // samples wait and follow its points in order.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (m_importRunning)
            m_heldSamples.push_back(HeldSample{double(m_sampleCount), DisplayValue(), now});
        else
            m_ui->pltMain->appendTimed(ChartWidget::SampleChannel, double(m_sampleCount), DisplayValue(), now);
        m_journal.append(m_sampleCount, reply().ReplyValue, current().Decimal, now);
        m_plotFailing = false;
        return;
    } catch (const std::bad_alloc &) {
        if (m_plotFailing)
            return;
    }
    try {
        QTimer::singleShot(0, this, [this] {
            Prompts().showError(this, tr("内存不足：新的读数无法再加入曲线，已有的数据保留。"));
        });
        m_plotFailing = true;
    } catch (const std::bad_alloc &) {
        // Not even the notice fits: it is tried again with the next sample.
    }
}

QString TfrmMain::portSelected() const
{
    return m_ui->cbbPort->currentText();
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
    if (const QString &saved = current().ComPort;
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
    m_ui->btnOpen->setText(closed ? CaptionOpen() : CaptionClose());
    m_ui->cbbPort->setEnabled(closed);
    m_ui->btnBeginRead->setEnabled(idle || reading);
    m_ui->btnBeginRead->setText(reading ? CaptionStopRead() : CaptionBeginRead());
    m_ui->btnSetDN->setEnabled(idle);
    m_ui->btnCalibrate->setEnabled(idle);
    m_ui->btnZero->setEnabled(idle);
    m_ui->btnDN->setEnabled(idle || settingAddress);
    m_ui->sttValue->setEnabled(!closed);
    m_ui->btnParam->setEnabled(idle || settingAddress);
    m_ui->mnuEvaluate->setEnabled(idle || settingAddress);
    m_ui->speDN->setEnabled(!reading);
    m_ui->mnuClearData->setEnabled(!reading);

    // While a bus scan holds the line, what would use it is unavailable.
    if (link().IsReserved()) {
        for (QWidget *control : {static_cast<QWidget *>(m_ui->btnBeginRead), static_cast<QWidget *>(m_ui->btnSetDN),
                                 static_cast<QWidget *>(m_ui->btnCalibrate), static_cast<QWidget *>(m_ui->btnZero),
                                 static_cast<QWidget *>(m_ui->btnDN), static_cast<QWidget *>(m_ui->btnParam)})
            control->setEnabled(false);
        m_ui->mnuEvaluate->setEnabled(false);
    }
    if (m_zeroRunning)
        m_ui->btnZero->setEnabled(false);
    ShowDroppedFrames();
    // While an export or import runs, nothing may change the samples under it.
    const bool filesFree = !m_fileWorkRunning;
    for (QWidget *control : {static_cast<QWidget *>(m_ui->btnClear), static_cast<QWidget *>(m_ui->btnFilter),
                             static_cast<QWidget *>(m_ui->tbFilterClass), static_cast<QWidget *>(m_ui->btnLoadData),
                             static_cast<QWidget *>(m_ui->btnExport)})
        control->setEnabled(filesFree);
    m_ui->E1->setEnabled(filesFree);
    if (!filesFree) {
        m_ui->mnuClearData->setEnabled(false);
        if (!reading)
            m_ui->btnBeginRead->setEnabled(false);
    }
}

void TfrmMain::ShowDroppedFrames()
{
    const quint64 dropped = link().droppedFrames();
    m_droppedFrames->setVisible(dropped > 0);
    m_droppedFrames->setText(tr("丢弃的错误帧：%1").arg(dropped));
}

// --- Settings ---------------------------------------------------------------

void TfrmMain::SettingsWriteFailed(const QString &filePath, const QString &reason)
{
    // Told once per run; the program goes on with the values in memory (and
    // the store writes them with the next write that succeeds). The notice
    // waits until the handler that wrote has ended.
    if (m_settingsFailureTold)
        return;
    m_settingsFailureTold = true;
    QTimer::singleShot(0, this, [this, filePath, reason] {
        Prompts().showError(this, TextSettingsWriteFailed().arg(QDir::toNativeSeparators(filePath), reason));
    });
}

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
    current().StayOnTop = onTop;
    m_settings.WriteBool(Keys::SectionSystemParameters, Keys::KeyStayOnTop, onTop);
}

void TfrmMain::PopupMenu1Popup()
{
    m_ui->F1->setChecked(windowFlags() & Qt::WindowStaysOnTopHint);
}

void TfrmMain::N3Click()
{
    btnSystemParamsClick();
}

void TfrmMain::btnSystemParamsClick()
{
    if (m_dialogs.systemParams)
        ShowModal(m_dialogs.systemParams);
}

void TfrmMain::btnZeroClick()
{
    // The button stays disabled while the calibration runs, whatever else
    // changes the window's state meanwhile; afterwards it gets the state the
    // table gives it (reading may have been started, or the port lost).
    RunZeroCalibration(m_session, m_display, this, [this](bool running) {
        m_zeroRunning = running;
        ApplyState(m_state);
    });
}

void TfrmMain::btnCalibrateClick()
{
    if (m_dialogs.calibrate)
        OpenCalibration(*m_dialogs.calibrate);
}

void TfrmMain::sttValueDblClick()
{
    if (m_dialogs.parameters)
        RunAccessGate(*m_dialogs.parameters, m_session);
}

void TfrmMain::mnuProtocolMonitorClick() { ShowToolWindow(m_dialogs.monitor); }

void TfrmMain::mnuBusScanClick() { ShowToolWindow(m_dialogs.busScan); }

void TfrmMain::mnuWatchClick() { ShowToolWindow(m_dialogs.watch); }

void TfrmMain::mnuAboutClick()
{
    ShowAbout(this, BuildInfo::Version(), m_settings.filePath(), m_settings.unsavedSettings());
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->pnlValue && event->type() == QEvent::Resize) {
        m_ui->sttValue->setGeometry(m_ui->pnlValue->rect());
        return false;
    }
    if (watched == m_ui->sttValue && event->type() == QEvent::MouseButtonDblClick &&
        m_ui->sttValue->isEnabled()) {
        sttValueDblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
