#pragma once
// The multi-point calibration: the main window's "多段标定(&M)" button clears
// the module's zero value and opens the dialog "正在标定", which averages the
// module's AD code for each load point the operator sets up and finally writes
// the point table, the point count and a store request to the module.

#include "device/Protocol.h"

#include <QDialog>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>

class ModuleSession;
class SettingsStore;

namespace Ui
{
class TfrmCalibrate;
}

/// One calibration point: averaged AD code and the output value that belongs to
/// it.
struct LinearPoint {
    std::int32_t AV = 0;
    std::int32_t PV = 0;
};

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
/// module at the session's current address and, when that is answered, shows
/// `dialog` modally. Never throws.
void OpenCalibration(TfrmCalibrate &dialog);

class TfrmCalibrate : public QDialog
{
    Q_OBJECT
public:
    static constexpr int TmpReadIntervalMs = 100;
    static constexpr int SettleBeforeAveragingMs = 200;
    static constexpr int EndStartPauseMs = 100;
    static constexpr int EndWritePauseMs = 20;
    static constexpr int EndStorePauseMs = 100;
    static constexpr int PVMin = 0;
    static constexpr int PVMax = 1000000;

    /// The dialog reaches the module through `session` and keeps the points'
    /// values in `settings`; both must outlive it.
    TfrmCalibrate(ModuleSession &session, SettingsStore &settings, QWidget *parent = nullptr);
    ~TfrmCalibrate() override;

    ModuleSession &session() const { return m_session; }

    QTimer &timerTmpRead() { return m_timerTmpRead; }
    /// True while sttCurrentPoint shows the not-yet-calibrated (grey) colour.
    bool CurrentPointGreyed() const;

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
    void SetCurrentPointGreyed(bool grey);
    void StartTmpRead();
    bool AveragePoint(std::int64_t &average);
    bool WritePointTable();

    ModuleSession &m_session;
    SettingsStore &m_settings;
    std::unique_ptr<Ui::TfrmCalibrate> m_ui;
    QTimer m_timerTmpRead;
    /// Set when the dialog closes, cleared when it is shown: a handler whose
    /// wait the closing interrupted stops instead of going on unseen.
    bool m_closed = true;
};
