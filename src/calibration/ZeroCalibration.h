#pragma once
// Zero calibration of the module at the current address: the main window's
// "零点标定(&Z)" button reads the module's zero value and its present measured
// value and writes their sum back as the new zero value. Also holds the small
// guards both calibrations use while they run.

class QWidget;
class TfrmMain;

/// Handler body of the main window's btnZero. Asks for confirmation, then
/// reads ZerO and the measured value and writes their 32-bit sum as ZerO.
/// Outcome texts go to sttValue; a serial failure is shown in the standard
/// error dialog. Never throws. btnZero and the cursor are restored on every
/// ending.
void RunZeroCalibration(TfrmMain &main);

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
int WaitIntervalMs(TfrmMain &main);
