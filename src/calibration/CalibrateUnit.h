#pragma once
// The multi-point calibration: the main window's "多段标定(&M)" button clears
// the module's zero value and opens the dialog "正在标定", which averages the
// module's AD code for each load point the operator sets up and finally writes
// the point table, the point count and a store request to the module. The
// sequences themselves are device/CalibrationRun; the dialog starts them,
// shows their progress and outcome, and cancels them when it is closed.

#include "calibration/ZeroCalibration.h"
#include "device/CalibrationRun.h"
#include "device/Protocol.h"

#include <QDialog>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class ModuleSession;
class ValueDisplay;
class SettingsStore;

namespace Ui
{
class TfrmCalibrate;
}

// Calibration state for the whole program run; kept between openings of the
// dialog. Point k (1..9) is LinearPoints[k - 1].
extern std::array<LinearPoint, CalibrationPointCount> LinearPoints;
/// The point the dialog works on, 1..9.
extern int CurrentPoint;
/// Number of points the end sequence writes (the last point calibrated).
extern int CalibratedCount;
/// What the next idle tick asks for: the AD code (true) or the measured value.
extern bool ReadAdNext;

/// Point record k, k = 1..9.
inline LinearPoint &LinearPointAt(int k)
{
    return LinearPoints[std::size_t(k - 1)];
}

class TfrmCalibrate;

/// Handler body of the main window's btnCalibrate: writes ZerO = 0 to the
/// module at the session's current address and returns at once; when the
/// write is acknowledged, `dialog` is shown modally. Never throws; does
/// nothing while the dialog is shown or a run of it lasts.
void OpenCalibration(TfrmCalibrate &dialog);

class TfrmCalibrate : public QDialog
{
    Q_OBJECT
public:
    static constexpr int TmpReadIntervalMs = 100;
    static constexpr int SettleBeforeAveragingMs = CalibrationRun::SettleBeforeAveragingMs;
    static constexpr int EndStartPauseMs = CalibrationRun::TableStartPauseMs;
    static constexpr int EndWritePauseMs = CalibrationRun::TableWritePauseMs;
    static constexpr int EndStorePauseMs = CalibrationRun::StorePauseMs;
    static constexpr int PVMin = 0;
    static constexpr int PVMax = 1000000;

    /// The dialog reaches the module through `session` and keeps the points'
    /// values in `settings`; both must outlive it.
    TfrmCalibrate(ModuleSession &session, SettingsStore &settings, ValueDisplay &display, QWidget *parent = nullptr);
    ~TfrmCalibrate() override;

    ModuleSession &session() const { return m_session; }

    QTimer &timerTmpRead() { return m_timerTmpRead; }
    /// True while sttCurrentPoint shows the not-yet-calibrated (grey) colour.
    bool CurrentPointGreyed() const;
    /// The zero write before showing, a point's averaging or the end sequence is running.
    bool RunInProgress() const { return m_run.isRunning(); }
    /// An idle tick's request waits for the line or its reply.
    bool TickPending() const { return m_tickPending; }

    /// Starts the opening: the ZerO = 0 write, then the modal dialog.
    void Open();

public slots:
    void FormShow();
    void FormClose();
    void TimerTmpReadTimer();
    void btnCalibrateClick();
    void btnNextPointClick();
    void btnEndClick();

public:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    /// What the run in progress (or the last one) does for the dialog.
    enum class Work { Opening, Averaging, Ending };

    void SetCurrentPointGreyed(bool grey);
    void StartTmpRead();
    /// Stops the idle ticks and withdraws the request of one still waiting.
    void StopTicks();
    void TickEnded(const LineOutcome &outcome);
    void RunFinished(CalibrationRun::Ending ending);
    void Opened(CalibrationRun::Ending ending);
    void PointEnded(CalibrationRun::Ending ending);
    void PointAveraged();
    void TableEnded(CalibrationRun::Ending ending);
    /// Shows a failed request's reason over `parent`, unless it is told elsewhere.
    void ShowFailure(QWidget *parent);
    /// Puts back the states btnNextPoint and btnEnd had before the averaging.
    void RestoreButtons();
    /// Tells the operator, once the dialog is hidden, what its closing cut short.
    void ShowClosingMessage();

    ModuleSession &m_session;
    ValueDisplay &m_display;
    SettingsStore &m_settings;
    std::unique_ptr<Ui::TfrmCalibrate> m_ui;
    QTimer m_timerTmpRead;
    CalibrationRun m_run;
    Work m_work = Work::Opening;
    quint64 m_tickId = 0;
    bool m_tickPending = false;
    std::optional<BusyCursor> m_busy;
    bool m_nextWasEnabled = false;
    bool m_endWasEnabled = false;
    QString m_closingMessage;
    /// Set when the dialog closes, cleared when it is shown.
    bool m_closed = true;
};
