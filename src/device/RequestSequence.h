#pragma once
// What the multi-step runs over the line (the calibrations) share: each step
// is one request through the device link's queue or one scheduled pause, and
// what follows runs from that step's outcome. Nothing waits: a run returns at
// once and tells how it went through its own signals. Stopping a run
// withdraws its request and drops whatever it had scheduled.

#include "device/LineRequest.h"

#include <QObject>
#include <QString>

#include <functional>

class ModuleSession;

/// How one request of a run ended, as the runs judge it.
enum class StepEnding {
    Answered,   ///< its own reply came
    Unanswered, ///< no reply of its own: timed out, or the port closed or the device went away meanwhile
    Failed,     ///< it never went out: the port is closed, the write failed or a bus scan holds the line
};
StepEnding JudgeStep(const LineOutcome &outcome);

class RequestSequence : public QObject
{
    Q_OBJECT
public:
    /// The run sends through `session`, which must outlive it.
    explicit RequestSequence(ModuleSession &session, QObject *parent = nullptr);
    ~RequestSequence() override;

    bool isRunning() const { return m_running; }
    /// Why the last failed step failed, in the operator's words.
    QString failureText() const { return m_failure.error; }
    /// The operator is told of that failure elsewhere (the device went away).
    bool failureReported() const { return m_failure.errorReported; }

protected:
    using StepDone = std::function<void(StepEnding ending, const Reply &reply)>;

    ModuleSession &session() const { return m_session; }
    void Begin();
    /// Ends the run: its request is withdrawn and nothing it scheduled runs.
    void Stop();
    /// Counts the runs begun and stopped: a step that sees it changed after
    /// telling its watchers something knows the run it belongs to is over.
    quint64 generation() const { return m_generation; }
    /// Queues `request`; `then` runs with its outcome, unless the run stopped first.
    void Ask(LineRequest request, StepDone then);
    /// Runs `then` after a pause of `ms` milliseconds, unless the run stopped first.
    void After(int ms, std::function<void()> then);

private:
    ModuleSession &m_session;
    bool m_running = false;
    quint64 m_generation = 0;
    quint64 m_requestId = 0;
    bool m_requestPending = false;
    LineOutcome m_failure;
};
