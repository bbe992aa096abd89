#pragma once
// The watch of a bus: several modules on one line polled in turn, round after
// round, each for its measured value (CmdReadValue) with a short time-out of
// its own. The polls go through the line's queue like every request (as
// polls: an operator's request goes before them), one at a time; each reply is
// matched there by its address and command, so a value is only ever given to
// the module that was asked for it.
//
// One module's miss never holds up the others: a poll that times out marks
// its module late and the round goes on. A module that missed LostAfter polls
// in a row is lost, and is then asked only every LostRetry-th round (so a
// dead module costs the line little) until it answers again.
//
// Interval 0 starts the next round as soon as the last one ends; otherwise it
// is the time from the start of one round to the start of the next (a round
// that takes longer is followed at once, without catching up).

#include "device/LineRequest.h"
#include "device/WatchStatistics.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <vector>

class DeviceLink;

/// A module of the watch as the operator set it up.
struct WatchModule {
    DeviceAddress address = 1;
    QString name;     ///< given by the operator, e.g. a position on the scale
    int decimals = 1; ///< the display value is the raw value / 10^decimals
    QString unit;
    bool charted = true;

    bool operator==(const WatchModule &) const = default;
};

enum class WatchState {
    Waiting, ///< not asked yet (or not answered yet since the watch started)
    Ok,      ///< answered its last poll
    Late,    ///< missed its last poll(s)
    Lost,    ///< silent LostAfter polls in a row; asked only every LostRetry-th round
};

/// What the watch knows of one module.
struct WatchModuleStatus {
    WatchState state = WatchState::Waiting;
    bool hasValue = false;
    std::int32_t raw = 0;
    double value = 0;  ///< display value of raw
    qint64 timeMs = 0; ///< wall-clock time of the value, ms since the epoch
    quint64 answers = 0;
    quint64 timeouts = 0;
    int missedInRow = 0;
    quint64 lostSinceRound = 0; ///< the round in which it was found lost
};

class BusWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 200;
    static constexpr int DefaultLostAfter = 3;
    static constexpr int DefaultLostRetry = 10;

    explicit BusWatch(DeviceLink &link, QObject *parent = nullptr);
    ~BusWatch() override;

    /// The modules, in polling order; their counters and statistics start afresh.
    void setModules(const QList<WatchModule> &modules);
    const QList<WatchModule> &modules() const { return m_modules; }

    void setIntervalMs(int ms) { m_intervalMs = std::max(ms, 0); }
    int intervalMs() const { return m_intervalMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = std::max(ms, 1); }
    int timeoutMs() const { return m_timeoutMs; }
    void setLostAfter(int polls) { m_lostAfter = std::max(polls, 1); }
    int lostAfter() const { return m_lostAfter; }
    void setLostRetry(int rounds) { m_lostRetry = std::max(rounds, 1); }
    int lostRetry() const { return m_lostRetry; }
    /// The "last N seconds" of every module's statistics.
    void setStatisticsWindowMs(qint64 ms);

    /// Starts polling; false when there is nothing to poll, the port is
    /// closed or the line is held by someone else (a bus scan).
    bool start();
    /// Stops after withdrawing the poll in progress (its reply, should it
    /// still come, is not counted).
    void stop();
    bool isRunning() const { return m_running; }

    const std::vector<WatchModuleStatus> &statuses() const { return m_status; }
    const WatchModuleStatus &status(int index) const { return m_status[std::size_t(index)]; }
    const WatchStatistics &statistics(int index) const { return m_statistics[std::size_t(index)]; }
    /// Rounds completed since the modules were set.
    quint64 rounds() const { return m_round; }

    /// The display value of a raw value with `decimals` decimals.
    static double DisplayValue(std::int32_t raw, int decimals);

signals:
    void valueRead(int index, std::int32_t raw, double value, qint64 timeMs);
    void stateChanged(int index, WatchState state);
    /// Every module due in the round has been asked; `timeMs` is the wall-clock end.
    void roundCompleted(quint64 round, qint64 timeMs);
    /// Polling ended by itself: the port was closed or lost, a write failed or
    /// the line was taken. `reported`: the operator is told elsewhere.
    void failed(const QString &error, bool reported);

private:
    void startRound();
    /// Asks the next modules due, keeping PollsAhead polls with the link;
    /// ends the round once every due module has been asked and answered.
    void pollNext();
    void polled(quint64 id, const LineOutcome &outcome);
    void pollStalled();
    void finishRound();
    /// Whether module `index` is asked in the current round.
    bool dueThisRound(int index) const;
    void setState(int index, WatchState state);

    DeviceLink &m_link;
    QList<WatchModule> m_modules;
    std::vector<WatchModuleStatus> m_status;
    std::vector<WatchStatistics> m_statistics;
    qint64 m_statisticsWindowMs = WatchStatistics::DefaultWindowMs;
    int m_intervalMs = 0;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_lostAfter = DefaultLostAfter;
    int m_lostRetry = DefaultLostRetry;

    bool m_running = false;
    quint64 m_round = 0; ///< rounds completed
    struct Asked {
        quint64 id = 0;
        int index = 0;
    };
    /// Two polls are handed to the link at a time: the next one waits in its
    /// queue and goes out the moment the reply to the one on the line is in,
    /// without waiting for this object to handle that reply first.
    static constexpr std::size_t PollsAhead = 2;
    std::deque<Asked> m_asked; ///< polls with the link, oldest (on the line) first
    int m_next = 0;            ///< the module to consider next in the round
    QElapsedTimer m_clock;     ///< since the start
    qint64 m_roundStartNs = 0; ///< when the round in progress was due to start
    QTimer m_nextRound;
    /// The link withdraws every poll when live reading stops: a poll whose
    /// outcome never comes is given up after this, and the round goes on.
    QTimer m_stall;
};
