#pragma once
// A run over a range of parameter codes of one module: each code is read
// (a query) or written (a data frame) in ascending order, one request at a
// time through the line's queue, each ended by its own reply or its
// time-out. Nothing waits: the next code is asked when the last one's
// outcome has come (and its pause, if any, has passed).
//
// The same class runs the read of all general parameters (goes on past a
// code that is not answered, pauses between codes, can be stopped), and the
// reads and writes of the special parameters (end at the first code that is
// not answered). It knows no window: the caller shows the progress and the
// values from its signals.

#include "device/LineRequest.h"
#include "device/Protocol.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class DeviceLink;

class ParameterRun : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Read, Write };

    /// How a run ended.
    enum class Ending {
        Completed,  ///< every code was asked
        Unanswered, ///< a code was not answered and the run stops at such a code
        Stopped,    ///< stop() was called
        PortFailed, ///< the port was closed or lost, a write failed or the line is held
    };
    Q_ENUM(Ending)

    /// What a write sends for a code, taken when its frame is sent.
    using ValueSource = std::function<std::int32_t(CommandCode code)>;

    struct Plan {
        Mode mode = Mode::Read;
        CommandCode first = FirstGeneralParam;
        CommandCode last = LastGeneralParam;
        /// Stop at the first code without its reply (otherwise go on with the next).
        bool stopWhenUnanswered = false;
        /// Pause after each code's outcome before the next request (and before the end).
        int pauseMs = 0;
        ValueSource value; ///< for writes
    };

    explicit ParameterRun(DeviceLink &link, QObject *parent = nullptr);

    /// Starts a run to `address`; false when one is running already.
    bool start(DeviceAddress address, Plan plan);
    /// Ends the run once the code in progress has its outcome (and its pause):
    /// finished(Stopped) follows.
    void stop() { m_stopRequested = m_running; }
    bool isRunning() const { return m_running; }

signals:
    /// `code` is about to be sent (a write takes its value right after).
    void asking(CommandCode code);
    /// The outcome of `code`: its reply came (`value` is the value read, or
    /// the value written) or not (timed out, cancelled, or the device went
    /// away while its reply was awaited).
    void codeDone(CommandCode code, bool answered, std::int32_t value);
    /// The run is over. `error`: why the port failed, in the operator's words;
    /// empty when there is nothing to tell (or it is told elsewhere, as the
    /// loss of the device).
    void finished(ParameterRun::Ending ending, const QString &error);

private:
    void AskNext();
    void Outcome(CommandCode code, std::int32_t sent, const LineOutcome &outcome);
    /// The next code after `code` has ended, after the plan's pause.
    void Continue();
    void Finish(Ending ending, const QString &error = {});

    DeviceLink &m_link;
    Plan m_plan;
    DeviceAddress m_address = 0;
    int m_next = 0;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_portWasOpen = false;
};
