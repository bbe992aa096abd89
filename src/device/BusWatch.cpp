#include "device/BusWatch.h"

#include "device/DeviceLink.h"

#include <QDateTime>

#include <cmath>
#include <memory>

namespace
{
/// Beyond the time-outs a poll may wait for: the request on the line before it.
constexpr int StallMarginMs = 1000;
} // namespace

BusWatch::BusWatch(DeviceLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    m_nextRound.setSingleShot(true);
    m_nextRound.setTimerType(Qt::PreciseTimer);
    connect(&m_nextRound, &QTimer::timeout, this, &BusWatch::startRound);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, &BusWatch::pollStalled);
}

BusWatch::~BusWatch()
{
    stop();
}

double BusWatch::DisplayValue(std::int32_t raw, int decimals)
{
    return decimals > 0 ? double(raw) / std::pow(10.0, decimals) : double(raw);
}

void BusWatch::setModules(const QList<WatchModule> &modules)
{
    const bool wasRunning = m_running;
    stop();
    m_modules = modules;
    m_status.assign(std::size_t(modules.size()), WatchModuleStatus{});
    m_statistics.assign(std::size_t(modules.size()), WatchStatistics{});
    for (WatchStatistics &statistics : m_statistics)
        statistics.setWindowMs(m_statisticsWindowMs);
    m_round = 0;
    if (wasRunning)
        start();
}

void BusWatch::setStatisticsWindowMs(qint64 ms)
{
    m_statisticsWindowMs = ms;
    for (WatchStatistics &statistics : m_statistics)
        statistics.setWindowMs(ms);
}

bool BusWatch::start()
{
    if (m_running)
        return true;
    if (m_modules.isEmpty() || !m_link.isOpen() || m_link.IsReserved())
        return false;
    m_running = true;
    m_clock.start();
    m_roundStartNs = 0;
    startRound();
    return true;
}

void BusWatch::stop()
{
    m_running = false;
    m_nextRound.stop();
    m_stall.stop();
    for (const Asked &asked : m_asked)
        m_link.Cancel(asked.id);
    m_asked.clear();
}

void BusWatch::startRound()
{
    if (!m_running)
        return;
    m_next = 0;
    pollNext();
}

bool BusWatch::dueThisRound(int index) const
{
    const WatchModuleStatus &status = m_status[std::size_t(index)];
    return status.state != WatchState::Lost || (m_round - status.lostSinceRound) % quint64(m_lostRetry) == 0;
}

void BusWatch::pollNext()
{
    while (m_running && m_asked.size() < PollsAhead) {
        while (m_next < m_modules.size() && !dueThisRound(m_next))
            ++m_next;
        if (m_next >= m_modules.size())
            break;
        const int index = m_next++;
        const LineRequest request = LineRequest::For(BuildQueryFrame(m_modules[index].address, CmdReadValue))
                                        .asPoll()
                                        .withTimeout(m_timeoutMs);
        // The outcome always comes later (from the event loop), so the id is known by then.
        auto id = std::make_shared<quint64>(0);
        *id = m_link.Request(request, this, [this, id](const LineOutcome &outcome) { polled(*id, outcome); });
        m_asked.push_back(Asked{*id, index});
        if (m_asked.size() == 1)
            m_stall.start(m_link.replyTimeoutMs() + m_timeoutMs + StallMarginMs);
    }
    if (m_running && m_asked.empty())
        finishRound();
}

void BusWatch::pollStalled()
{
    if (!m_running || m_asked.empty())
        return;
    m_link.Cancel(m_asked.front().id);
    m_asked.pop_front();
    pollNext();
}

void BusWatch::polled(quint64 id, const LineOutcome &outcome)
{
    // Polls end in the order they were asked: the link keeps its polls in order.
    if (!m_running || m_asked.empty() || m_asked.front().id != id)
        return;
    const int index = m_asked.front().index;
    m_asked.pop_front();
    if (m_asked.empty())
        m_stall.stop();
    else
        m_stall.start(m_link.replyTimeoutMs() + m_timeoutMs + StallMarginMs);
    WatchModuleStatus &status = m_status[std::size_t(index)];
    switch (outcome.status) {
    case LineOutcome::Status::Answered: {
        const WatchModule &module = m_modules[index];
        status.hasValue = true;
        status.raw = outcome.reply.value;
        status.value = DisplayValue(status.raw, module.decimals);
        status.timeMs = QDateTime::currentMSecsSinceEpoch();
        ++status.answers;
        status.missedInRow = 0;
        m_statistics[std::size_t(index)].add(status.timeMs, status.value);
        setState(index, WatchState::Ok);
        emit valueRead(index, status.raw, status.value, status.timeMs);
        break;
    }
    case LineOutcome::Status::TimedOut:
        ++status.timeouts;
        ++status.missedInRow;
        if (status.state == WatchState::Lost)
            break; // asked on its retry round, still silent
        if (status.missedInRow >= m_lostAfter) {
            status.lostSinceRound = m_round;
            setState(index, WatchState::Lost);
        } else {
            setState(index, WatchState::Late);
        }
        break;
    case LineOutcome::Status::Cancelled:
        // The port was reopened under the poll: not the module's miss.
        if (m_link.isOpen())
            break;
        [[fallthrough]];
    case LineOutcome::Status::Failed:
    case LineOutcome::Status::Refused:
        stop();
        emit failed(outcome.error, outcome.errorReported);
        return;
    }
    pollNext();
}

void BusWatch::setState(int index, WatchState state)
{
    WatchModuleStatus &status = m_status[std::size_t(index)];
    if (status.state == state)
        return;
    status.state = state;
    emit stateChanged(index, state);
}

void BusWatch::finishRound()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (WatchStatistics &statistics : m_statistics)
        statistics.advanceTo(now);
    ++m_round;
    emit roundCompleted(m_round, now);
    if (!m_running || m_nextRound.isActive())
        return;
    // Rounds start on a fixed beat from the first one, so the time a timer
    // fires late is not added to every round; a round that overran its
    // interval is followed at once and the beat starts anew from there.
    const qint64 nowNs = m_clock.nsecsElapsed();
    m_roundStartNs = std::max(m_roundStartNs + qint64(m_intervalMs) * 1000000, nowNs);
    // Through the event loop even at interval 0: a round that asks nobody
    // (every module lost and not due) must not call the next one directly.
    m_nextRound.start(int((m_roundStartNs - nowNs + 999999) / 1000000));
}
