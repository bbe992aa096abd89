#pragma once
// The main window: owner of the serial port, the device link, the timers,
// the current address, the value display, the chart and the settings.

#include "app/DeviceLink.h"
#include "settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSerialPort>
#include <QTimer>

#include <memory>

class ChartWidget;
class QComboBox;
class QLabel;
class QMenu;
class SmoothingFilter;

namespace Ui {
class TfrmMain;
}

/// Settings held in memory for the whole run (read at start-up).
struct CurrentSettings {
    QString ComPort;
    int AverageCount = 16;
    int ReadInterval = 100;
    int WaitInterval = 200;
    bool StayOnTop = false;
    QString MeasureUnit;
    int Decimal = 1;
    double YMin = 0;
    double YMax = 10000;
    int Baud = 9600;
};

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    enum class State { PortClosed, PortIdle, Reading, SettingAddress };

    /// `settingsDir` is the directory holding "Data.ini" (the executable's).
    explicit TfrmMain(const QString &settingsDir, int replyTimeoutMs = DeviceLink::DefaultReplyTimeoutMs,
                      QWidget *parent = nullptr);
    ~TfrmMain() override;

    // --- What the other windows use ---------------------------------------
    DeviceLink &link() { return m_link; }
    ReplyState &reply() { return m_link.reply(); }
    SettingsStore &settings() { return *m_settings; }
    CurrentSettings &current() { return m_current; }
    ChartWidget *chart() const;
    QSerialPort &comPort() { return m_comPort1; }
    QTimer &timerRead() { return m_timerRead; }
    SmoothingFilter &smoothingFilter() { return *m_smoothing; }

    /// The address in speDN: its text as a whole number (0 when it is not
    /// one), brought into 0..255. Read it anew for every frame.
    DeviceAddress CurrentAddress() const;
    /// Sets speDN (brought into 0..255).
    void SetCurrentAddress(int address);
    /// Text of the value display sttValue.
    void SetValueText(const QString &text);
    QString ValueText() const;

    /// Formats ReplyValue into sttValue with Decimal and Measure Unit.
    void ShowValue();
    /// Appends DisplayValue to channel 0 at the next SampleCount.
    void PlotValue();
    double DisplayValue() const { return m_displayValue; }
    qint64 SampleCount() const { return m_sampleCount; }

    /// Y axis from two ends: minimum the smaller, span the absolute difference.
    void ApplyYRange(double yMin, double yMax);
    void SetReadInterval(int ms);
    /// Baud rate used at the next opening (and applied to an open port).
    void SetBaud(int baud);
    bool IsPortOpen() const { return m_comPort1.isOpen(); }
    /// Opens ComPort1 with the selected name and the line settings; throws
    /// OperatorError("串口打开失败！" + reason) when it cannot be opened.
    void OpenPort();
    void ClosePort();
    /// Closes and opens the port again (a new baud rate takes effect). When
    /// the opening fails the window returns to the closed state and the
    /// OperatorError is passed on.
    void ReopenPort();
    /// Selects `portName` in the port list, adding it when it is a path that
    /// exists but the system does not list (pseudo-terminals, bridges).
    bool SelectPort(const QString &portName);

    State state() const { return m_state; }
    /// A live-reading poll has been sent and neither a reply nor the
    /// time-out has ended it yet.
    bool PollPending() const { return m_pollPending; }
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
    void TimerReadTimer();
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
    /// Refreshes the port list (system ports sorted as text, plus a saved
    /// port path that exists but is not listed), keeping the selection.
    void RefreshPortList();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void ComDataPacket1Packet(const Reply &reply);
    void ApplyState(State state);
    void ApplyStayOnTop(bool onTop);
    void StopReading();
    void PollEnded();
    void PollTimedOut();
    void DeviceLost(const QString &reason);
    void SettingsWriteFailed(const QString &filePath, const QString &reason);
    void ExportData();
    void WriteDeviceNumber();
    static QStringList itemsOf(const QComboBox *box);

    std::unique_ptr<Ui::TfrmMain> m_ui;
    QString m_settingsDir;
    std::unique_ptr<SettingsStore> m_settings;
    CurrentSettings m_current;
    QSerialPort m_comPort1;
    DeviceLink m_link;
    QTimer m_timerRead;
    std::unique_ptr<SmoothingFilter> m_smoothing;
    QLabel *m_statusPanel0 = nullptr;
    QLabel *m_statusPanel1 = nullptr;
    QMenu *m_popupMenu1 = nullptr;
    QTimer m_addressWriteTimer;
    QElapsedTimer m_addressWritten;
    QString m_valueText;       ///< what the value display shows, or is about to
    QTimer m_valueTextRefresh; ///< spaces the display's text changes
    State m_state = State::PortClosed;
    double m_displayValue = 0;
    qint64 m_sampleCount = 0;
    bool m_formShown = false;
    bool m_lostNoticePending = false;
    bool m_pollPending = false;
    bool m_settingsFailureTold = false;
    bool m_plotFailing = false; ///< the last sample found no memory in the chart (told once)
};

/// The program's main window (one per run).
extern TfrmMain *frmMain;
