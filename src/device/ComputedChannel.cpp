#include "device/ComputedChannel.h"

#include <numeric>

ComputedChannel::ComputedChannel(Kind kind, QList<int> members, QString name, QString unit)
    : m_kind(kind), m_members(std::move(members)), m_name(std::move(name)), m_unit(std::move(unit))
{
}

std::optional<double> ComputedChannel::Compute(Kind kind, const std::vector<double> &values)
{
    switch (kind) {
    case Kind::Sum:
        if (values.empty())
            return std::nullopt;
        return std::accumulate(values.begin(), values.end(), 0.0);
    case Kind::Mean:
        if (values.empty())
            return std::nullopt;
        return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    case Kind::Difference:
        if (values.size() < 2)
            return std::nullopt;
        return values[0] - values[1];
    }
    return std::nullopt;
}

std::optional<double> ComputedChannel::update(const std::vector<WatchModuleStatus> &modules, qint64 timeMs)
{
    std::vector<double> values;
    for (const int member : m_members) {
        const bool fresh = member >= 0 && std::size_t(member) < modules.size() &&
                           modules[std::size_t(member)].state == WatchState::Ok &&
                           modules[std::size_t(member)].hasValue;
        if (!fresh) {
            m_stale = true;
            return std::nullopt;
        }
        values.push_back(modules[std::size_t(member)].value);
    }
    const std::optional<double> value = Compute(m_kind, values);
    m_stale = !value;
    if (!value)
        return std::nullopt;
    m_value = *value;
    m_hasValue = true;
    m_timeMs = timeMs;
    m_statistics.add(timeMs, m_value);
    return value;
}
