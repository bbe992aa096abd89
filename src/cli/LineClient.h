#pragma once
// The line as a script uses it: one module session on one port, requests
// that are waited for one at a time, pauses, and a stop by the user (Ctrl+C,
// SIGINT or SIGTERM) that ends any wait at once.

#include "cli/CliCommon.h"
#include "device/LineRequest.h"
#include "device/ModuleSession.h"

#include <QEventLoop>
#include <QObject>

/// Turns SIGINT and SIGTERM into a stop request once watch() was called;
/// without it the signals end the program as usual.
class StopWatcher : public QObject
{
    Q_OBJECT
public:
    static StopWatcher &instance();
    void watch();
    bool stopRequested() const { return m_stopped; }

signals:
    void stopped();

private:
    StopWatcher() = default;
    bool m_stopped = false;
    bool m_watching = false;
};

class LineClient : public QObject
{
    Q_OBJECT
public:
    explicit LineClient(const CliOptions::Line &line, QObject *parent = nullptr);

    /// Opens the port; CliError(PortUnavailable) when it cannot.
    void open();
    ModuleSession &session() { return m_session; }

    /// Sends the request and waits for its end, or for a stop by the user
    /// (then Cancelled, the request withdrawn).
    LineOutcome ask(LineRequest request);
    /// ask() that must be answered: a time-out throws CliError(`timeoutCode`)
    /// naming `what`, a port failure CliError(PortUnavailable).
    LineOutcome require(LineRequest request, ExitCode timeoutCode, const QString &what);
    /// Waits `ms` milliseconds handling events; false when stopped meanwhile.
    bool sleep(int ms);
    /// Handles events until `quit` is emitted or the user stops; false when stopped.
    template <typename Sender, typename Signal> bool waitFor(Sender *sender, Signal signal)
    {
        QEventLoop loop;
        connect(sender, signal, &loop, &QEventLoop::quit);
        return runLoop(loop);
    }

    static bool stopRequested() { return StopWatcher::instance().stopRequested(); }

private:
    bool runLoop(QEventLoop &loop);

    CliOptions::Line m_line;
    ModuleSession m_session;
};
