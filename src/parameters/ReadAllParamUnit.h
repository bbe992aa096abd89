#pragma once
// Reads all 21 general parameters in one run and fills the parameter list.
// Each showing starts a run by a message posted to the window itself, so the
// run begins from the modal loop once the window is on screen.

#include "device/ParameterRun.h"
#include "parameters/ParameterWindows.h"

#include <QDialog>
#include <QEvent>

#include <cstdint>
#include <memory>

class ModuleSession;

namespace Ui
{
class TfrmReadAllParam;
}

/// The message that starts a run (WM_USER + 1234).
inline constexpr QEvent::Type WM_READALL_START = QEvent::Type(2258);

class TfrmReadAllParam : public QDialog
{
    Q_OBJECT
public:
    /// Pause between one code's outcome and the next request.
    static constexpr int DefaultPauseMs = 50;

    TfrmReadAllParam(ParameterWindows &windows, ModuleSession &session, QWidget *parent = nullptr);
    ~TfrmReadAllParam() override;

    bool Running() const { return m_running; }
    /// True from the start of a run until it has ended.
    bool InRun() const { return m_inRun; }
    Ui::TfrmReadAllParam *ui() const { return m_ui.get(); }

    /// The application-wide message hook: runs the read-all for this window's
    /// start message and reports it handled; every other message passes.
    bool ApplicationEvents1Message(QObject *receiver, QEvent *event);

public slots:
    /// Posts the start message to the window itself; nothing else.
    void FormShow();
    /// Starts reading codes 2..22 one after the other until done or stopped;
    /// returns at once (none is started while one runs).
    void RunReadAll();
    /// Asks a run to stop; closes the window once the run has ended.
    void btnAbortClick();

    /// A close request during a run is kept until the run has ended.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CodeDone(CommandCode code, bool answered, std::int32_t value);
    void RunFinished(ParameterRun::Ending ending, const QString &error);

    ParameterWindows &m_windows;
    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmReadAllParam> m_ui;
    ParameterRun m_run;
    bool m_running = false;
    bool m_inRun = false;
    bool m_closePending = false;
};
