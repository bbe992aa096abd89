#pragma once
// The watch window: several modules of the line polled in turn (BusWatch),
// one table row and one chart trace per module and per computed channel,
// statistics over the last N seconds or the chart's visible range, limits
// with alarms held until acknowledged, and time-stamped CSV export and
// import. The window is not modal; the watch is kept in the settings file
// and restored when the program starts.
//
// The chart's X is the round number: every module's value of a round and the
// computed channels of that round share one X, so a CSV row is one round.

#include "device/BusWatch.h"
#include "device/ComputedChannel.h"
#include "device/LimitAlarm.h"
#include "device/WatchConfig.h"
#include "io/RecordingJournal.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class ChartWidget;
class ModuleSession;
class QLabel;
class SettingsStore;

namespace Ui
{
class TfrmWatch;
}

class TfrmWatch : public QMainWindow
{
    Q_OBJECT
public:
    enum Column { ColName, ColAddress, ColValue, ColAge, ColAnswers, ColTimeouts, ColMin, ColMax, ColMean,
                  ColStdDev, ColState, Columns };
    /// How often the table, the colours and the status bar are brought up to date.
    static constexpr int RefreshIntervalMs = 200;
    static constexpr int DefaultStatisticsSeconds = 60;

    TfrmWatch(ModuleSession &session, SettingsStore &settings, QWidget *parent = nullptr);
    ~TfrmWatch() override;

    Ui::TfrmWatch *ui() const { return m_ui.get(); }
    ChartWidget *chart() const;
    BusWatch &watch() { return m_watch; }
    const WatchConfig &config() const { return m_config; }
    LimitAlarm &alarms() { return m_alarms; }
    const std::vector<ComputedChannel> &channels() const { return m_channels; }

    /// Takes a new setup: stored in the settings file, the chart and the
    /// statistics start afresh; a running watch goes on with it.
    void ApplyConfig(const WatchConfig &config);
    /// Adds modules found on the line (those not watched yet), with the
    /// program's decimals and unit, charted; shows the window.
    void AddModules(const QList<DeviceAddress> &addresses);
    /// Brings the table, colours and status bar up to date now (as the timer does).
    void RefreshView();

    /// Every value watched, for the next start after a crash.
    RecordingJournal &journal() { return m_journal; }
    /// Offers the values of a watch that did not end normally back into the chart.
    void OfferJournalRestore();

    /// One chart channel per module, then per computed channel.
    int ChartChannelOf(int column) const { return m_chartChannels.value(column, -1); }
    /// The CSV header of a module or computed channel: "name (unit)", or the name.
    QString ColumnHeader(int column) const;

public slots:
    void btnStartClick();
    void btnStopClick();
    void btnSetupClick();
    void btnAcknowledgeClick();
    void btnAlarmsClick();
    void btnClearClick();
    void btnExportClick();
    void btnImportClick();

signals:
    /// A module's value as read (for publishing).
    void moduleValueRead(int address, qint64 raw, int decimals, const QString &unit, qint64 timeMs);
    /// A computed channel's value at the end of a round.
    void channelComputed(const QString &name, double value, const QString &unit, qint64 timeMs);
    /// A channel went into alarm (`active`, with the status bar's text), or
    /// its alarm ended (acknowledged and back inside its limits).
    void alarmChanged(const QString &name, const QString &text, bool active, qint64 timeMs);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildColumns();
    void FitColumns();
    void ValueRead(int index, std::int32_t raw, double value, qint64 timeMs);
    void RoundCompleted(quint64 round, qint64 timeMs);
    void WatchFailed(const QString &error, bool reported);
    void CheckLimits(int column, double value, qint64 timeMs);
    /// Records a value in the journal: a module's as read (`raw`), a computed one rounded.
    void JournalValue(int column, double x, double value, qint64 timeMs, std::optional<qint32> raw);
    void ShowRunning(bool running);
    void StatisticsWindowChanged();
    void StoreRunSettings();
    /// The first and last wall-clock time of the samples in the chart's visible range.
    bool VisibleTimeRange(qint64 &t0, qint64 &t1) const;
    void FillRow(int row, qint64 now, bool visible, qint64 t0, qint64 t1);
    /// Sets how often the chart is drawn for the pace at which the watch moves it.
    void PaceChart();
    /// Whether the chart holds samples the operator would lose, asked when it does.
    bool MayDiscardData(const QString &what);
    /// Shows `text` in the status bar and in a message box.
    void Tell(const QString &text);
    int ColumnCount() const { return int(m_config.modules.size() + m_channels.size()); }
    QString ColumnName(int column) const;
    QString ColumnUnit(int column) const;
    int ColumnDecimals(int column) const;

    ModuleSession &m_session;
    SettingsStore &m_settings;
    std::unique_ptr<Ui::TfrmWatch> m_ui;
    BusWatch m_watch;
    WatchConfig m_config;
    std::vector<ComputedChannel> m_channels;
    LimitAlarm m_alarms;
    RecordingJournal m_journal;
    QList<int> m_chartChannels;     ///< per column
    std::vector<bool> m_redTraces;  ///< per column: the trace is drawn in the alarm colour
    qint64 m_xBase = 0;             ///< X of round 0 of the running watch
    qint64 m_nextX = 0;             ///< the X the next started watch begins at
    bool m_imported = false;        ///< the chart shows an imported file
    QTimer m_refresh;
    bool m_refreshDue = false;    ///< a refresh is queued (an alarm must show at once)
    QElapsedTimer m_lastRefresh;
    QLabel *m_sttRounds = nullptr;
    QLabel *m_sttAlarm = nullptr;
    qint64 m_roundsAtRate = 0;
    qint64 m_rateSinceMs = 0;
    double m_roundsPerSecond = 0;
    int m_chartRepaintMs = 0;
};
