#pragma once
// The main window: a view of the module session (port, address, live
// reading, value display), the chart of the samples, and the way into the
// other windows.

#include "device/ModuleSession.h"
#include "io/RecordingJournal.h"
#include "io/SettingsStore.h"
#include "widgets/ValueDisplay.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

class ChartWidget;
class QComboBox;
class QLabel;
class QMenu;
class MqttPublishing;
class SmoothingFilter;
class TfrmBusScan;
class TfrmCalibrate;
class TfrmMqttSettings;
class TfrmProtocolMonitor;
class TfrmSystemParams;
class TfrmWatch;
struct ParameterWindows;

namespace Ui
{
class TfrmMain;
}

/// The dialogs the main window opens; created after it (the main window
/// comes first), handed over with setDialogs().
struct MainDialogs {
    TfrmCalibrate *calibrate = nullptr;
    TfrmSystemParams *systemParams = nullptr;
    ParameterWindows *parameters = nullptr;
    TfrmProtocolMonitor *monitor = nullptr;
    TfrmBusScan *busScan = nullptr;
    TfrmMqttSettings *mqttSettings = nullptr;
    TfrmWatch *watch = nullptr;
};

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    enum class State { PortClosed, PortIdle, Reading, SettingAddress };

    TfrmMain(ModuleSession &session, SettingsStore &settings, QWidget *parent = nullptr);
    ~TfrmMain() override;

    void setDialogs(const MainDialogs &dialogs) { m_dialogs = dialogs; }

    // --- The session and what the window shows of it -------------------------
    ModuleSession &session() { return m_session; }
    DeviceLink &link() { return m_session.link(); }
    ReplyState &reply() { return m_session.reply(); }
    SettingsStore &settings() { return m_settings; }
    CurrentSettings &current() { return m_session.current(); }
    ChartWidget *chart() const;
    QSerialPort &comPort() { return m_session.comPort(); }
    QTimer &timerRead() { return m_session.timerRead(); }
    SmoothingFilter &smoothingFilter() { return *m_smoothing; }
    /// Every live sample since the last clear or full export, for the next
    /// start after a crash.
    RecordingJournal &journal() { return m_journal; }
    /// Publishing of every value read to the MQTT broker (the [MQTT] settings).
    MqttPublishing &mqtt() { return *m_mqtt; }

    /// The current address: speDN's text as a whole number (0 when it is not
    /// one), brought into 0..255.
    DeviceAddress CurrentAddress() const { return m_session.CurrentAddress(); }
    /// Sets speDN (brought into 0..255).
    void SetCurrentAddress(int address);
    /// Status text of the value display sttValue.
    void SetValueText(const QString &text) { m_display.SetText(text); }
    QString ValueText() const { return m_display.Text(); }
    /// What sttValue shows; the calibration and settings windows write to it too.
    ValueDisplay &display() { return m_display; }

    /// Formats ReplyValue into sttValue with Decimal and Measure Unit.
    void ShowValue()
    {
        m_displayValue = ModuleSession::DisplayValueOf(reply().ReplyValue, current().Decimal);
        m_display.ShowValue(reply().ReplyValue, current().Decimal, current().MeasureUnit);
    }
    /// Appends DisplayValue to channel 0 at the next SampleCount.
    void PlotValue();
    double DisplayValue() const { return m_displayValue; }
    qint64 SampleCount() const { return m_sampleCount; }

    /// Y axis from two ends: minimum the smaller, span the absolute difference.
    void ApplyYRange(double yMin, double yMax)
    {
        current().YMin = yMin;
        current().YMax = yMax;
        m_display.SetYRange(yMin, yMax);
    }
    void SetReadInterval(int ms) { m_session.SetReadInterval(ms); }
    /// Baud rate used at the next opening (and applied to an open port).
    void SetBaud(int baud) { m_session.SetBaud(baud); }
    bool IsPortOpen() const { return m_session.IsPortOpen(); }
    /// Opens the port selected in the list with the line settings; throws
    /// OperatorError("串口打开失败！" + reason) when it cannot be opened.
    void OpenPort() { m_session.OpenPort(portSelected()); }
    void ClosePort() { m_session.ClosePort(); }
    /// Closes and opens the port again (a new baud rate takes effect). When
    /// the opening fails the window returns to the closed state and the
    /// OperatorError is passed on.
    void ReopenPort() { m_session.ReopenPort(); }
    /// Selects `portName` in the port list, adding it when it is a path that
    /// exists but the system does not list (pseudo-terminals, bridges).
    bool SelectPort(const QString &portName);

    State state() const { return m_state; }
    /// A read or set-address run is waiting for the line or its replies.
    bool AddressRunActive() const { return m_addressRun != AddressRun::None; }
    /// A live-reading poll has been sent and neither a reply nor the
    /// time-out has ended it yet.
    bool PollPending() const { return m_session.PollPending(); }
    Ui::TfrmMain *ui() const { return m_ui.get(); }

public slots:
    // --- Handlers ---------------------------------------------------------
    void FormShow();
    void btnOpenClick();
    void cbbPortChange();
    void btnDNClick();
    void btnSetDNClick();
    void speDNChange();
    void M1Click();
    void F1Click();
    void PopupMenu1Popup();
    void N3Click();
    void btnSystemParamsClick();
    void btnBeginReadClick();
    void TimerReadTimer() { m_session.TimerReadTimer(); }
    void btnClearClick();
    void mnuClearDataClick();
    void btnFilterClick();
    void tbFilterClassChange();
    void ckbViewMarkerClick();
    void btnExportClick();
    void E1Click();
    void btnLoadDataClick();
    void btnReportClick();
    void mnuEvaluateClick();
    void btnZeroClick();
    void btnCalibrateClick();
    void sttValueDblClick();
    void mnuProtocolMonitorClick();
    void mnuBusScanClick();
    void mnuWatchClick();
    void mnuMqttClick();
    void mnuAboutClick();
    /// Refreshes the port list (system ports sorted as text, plus a saved
    /// port path that exists but is not listed), keeping the selection.
    void RefreshPortList();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    QString portSelected() const;
    void ShowCurrentAddress(DeviceAddress address);
    void speDNTextChange();
    void ShowValueText();
    void FlushValueText();
    void ApplyState(State state);
    void ShowDroppedFrames();
    void ApplyStayOnTop(bool onTop);
    void StopReading();
    void PortLost(const QString &reason);
    void PollFailed(const QString &error, bool reported);
    void SettingsWriteFailed(const QString &filePath, const QString &reason);
    void ExportData();
    /// An export or import starts or ends: the controls that change the samples follow.
    void FileWorkBegins();
    void FileWorkEnds();
    /// Appends the live samples held during an import.
    void AppendHeldSamples();
    void OfferJournalRestore();
    void JournalWriteFailed(const QString &reason);
    void WriteDeviceNumber();
    void StoreAddress(DeviceAddress address);
    void SetAddressEnded();
    /// Tells the operator why a request did not go out (not a time-out).
    void LineRefused(const LineOutcome &outcome);
    static QStringList itemsOf(const QComboBox *box);
    // MQTT publishing (MainMqtt.cpp).
    void SetUpMqtt();
    void PublishValue();
    void ShowMqttState();

    ModuleSession &m_session;
    SettingsStore &m_settings;
    ValueDisplay m_display;
    double m_displayValue = 0; ///< the value ShowValue showed last
    MainDialogs m_dialogs;
    std::unique_ptr<Ui::TfrmMain> m_ui;
    std::unique_ptr<SmoothingFilter> m_smoothing;
    QLabel *m_statusPanel0 = nullptr;
    QLabel *m_statusPanel1 = nullptr;
    QLabel *m_droppedFrames = nullptr;
    QLabel *m_mqttState = nullptr;
    std::unique_ptr<MqttPublishing> m_mqtt;
    QMenu *m_popupMenu1 = nullptr;
    QTimer m_addressWriteTimer;
    QElapsedTimer m_addressWritten;
    QTimer m_valueTextRefresh;    ///< a text change waiting for its turn
    QElapsedTimer m_valueTextSet; ///< when the display's text was last set
    int m_longestValueText = 0;   ///< characters of the longest text shown
    State m_state = State::PortClosed;
    enum class AddressRun { None, Reading, Setting };
    AddressRun m_addressRun = AddressRun::None;
    bool m_resumeReading = false; ///< reading goes on after the set-address run
    bool m_zeroRunning = false;   ///< a zero calibration runs
    qint64 m_sampleCount = 0;
    bool m_formShown = false;
    bool m_lostNoticePending = false;
    bool m_settingsFailureTold = false;
    bool m_plotFailing = false;
    bool m_fileWorkRunning = false; ///< an export or import is running
    bool m_importRunning = false;   ///< live samples go to m_heldSamples
    struct HeldSample {
        double x = 0;
        double y = 0;
        qint64 timeMs = 0;
    };
    std::vector<HeldSample> m_heldSamples; ///< live samples held during an import
    RecordingJournal m_journal{RecordingJournal::PathBeside(m_settings.filePath())};
};
