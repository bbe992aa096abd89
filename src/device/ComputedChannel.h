#pragma once
// A channel computed from several watched modules: their sum (the total of a
// scale's load cells), their mean, or the difference of two (first minus
// second). It is computed when a round of the watch completes, from the newest
// value of each member, in display units.
//
// Only fresh values count: when a member is late, lost or has not answered
// yet, the channel is stale for that round. It is not computed (from values
// of different moments, a sum would be wrong without showing it); it keeps
// its last value, marked stale, and its statistics get nothing.

#include "device/BusWatch.h"
#include "device/WatchStatistics.h"

#include <QList>
#include <QString>

#include <optional>
#include <vector>

class ComputedChannel
{
public:
    enum class Kind { Sum, Mean, Difference };

    /// `members`: indices into the watch's module list; a difference takes
    /// the first two (a - b).
    ComputedChannel(Kind kind, QList<int> members, QString name, QString unit = {});

    Kind kind() const { return m_kind; }
    const QList<int> &members() const { return m_members; }
    const QString &name() const { return m_name; }
    const QString &unit() const { return m_unit; }

    /// Computes the channel from the modules' state at the end of a round.
    /// Returns the new value, or nothing when the channel is stale.
    std::optional<double> update(const std::vector<WatchModuleStatus> &modules, qint64 timeMs);

    bool isStale() const { return m_stale; }
    bool hasValue() const { return m_hasValue; }
    double value() const { return m_value; }
    qint64 timeMs() const { return m_timeMs; }
    WatchStatistics &statistics() { return m_statistics; }
    const WatchStatistics &statistics() const { return m_statistics; }

    /// The value of `kind` over `values`; nothing when there are too few
    /// (none, or fewer than two for a difference).
    static std::optional<double> Compute(Kind kind, const std::vector<double> &values);

private:
    Kind m_kind;
    QList<int> m_members;
    QString m_name;
    QString m_unit;
    bool m_stale = true;
    bool m_hasValue = false;
    double m_value = 0;
    qint64 m_timeMs = 0;
    WatchStatistics m_statistics;
};
