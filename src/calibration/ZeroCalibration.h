#pragma once
// Zero calibration of the module at the current address: the main window's
// "零点标定(&Z)" button reads the module's zero value and its present measured
// value and writes their sum back as the new zero value. Also holds the small
// guards both calibrations use while they run.

#include <functional>

class ModuleSession;
class QWidget;
class ValueDisplay;

/// Handler body of the main window's btnZero (the window keeps the button
/// disabled while it runs). Asks for confirmation, then starts the zero
/// calibration (device/ZeroCalibrationRun) of the module at the session's
/// current address and returns at once; the run goes on from the event loop.
/// Outcome texts go to the value display; a request that cannot go
/// out is shown in the standard error dialog over `parent`. Never throws. The
/// busy cursor is shown while the run lasts, and the busy text cleared, on
/// every ending. `running` (when given) is told true once the operator
/// confirmed and false when the run ends, before any error dialog: the caller
/// locks its button. A second call while a run of the same window lasts does
/// nothing.
void RunZeroCalibration(ModuleSession &session, ValueDisplay &display, QWidget *parent,
                        const std::function<void(bool running)> &running = {});

/// Application-wide busy cursor for the lifetime of the guard; restore() ends
/// it early. Restored on every path out of the scope, exceptions included.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor() { restore(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
    void restore();

private:
    bool m_active = true;
};

/// The "Wait Interval" pause length: a negative setting counts as no pause.
int WaitIntervalMs(const ModuleSession &session);
