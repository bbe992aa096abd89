#pragma once
// Limits of watched channels (modules and computed channels, by name) and the
// alarms they raise. A value below the low limit or above the high one puts
// the channel in alarm, and the alarm holds until the operator acknowledges
// it: a value back inside does not clear an alarm nobody saw. Every alarm
// (each move from inside the limits, or from the other side, to outside
// one) goes into the list with its time, the channel, the value and the limit
// it broke; the list can be saved as UTF-8 CSV.

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

struct ChannelLimits {
    std::optional<double> low;
    std::optional<double> high;

    bool operator==(const ChannelLimits &) const = default;
};

struct AlarmRecord {
    enum class Limit { Low, High };
    qint64 timeMs = 0; ///< wall-clock, ms since the epoch
    QString channel;
    double value = 0;
    Limit limit = Limit::High;
    double limitValue = 0;
};

class LimitAlarm
{
public:
    enum class State {
        Normal,       ///< inside its limits, nothing to acknowledge
        Active,       ///< outside, not acknowledged
        Acknowledged, ///< outside, acknowledged
        Held,         ///< back inside, not acknowledged
    };

    /// Limits of a channel; both empty: none. A low limit above the high one
    /// swaps them. The channel's alarm state stays as it is.
    void setLimits(const QString &channel, ChannelLimits limits);
    ChannelLimits limits(const QString &channel) const { return m_channels.value(channel).limits; }

    /// A new value of the channel: true when it raised an alarm.
    bool check(const QString &channel, double value, qint64 timeMs);

    State state(const QString &channel) const;
    /// Outside its limits, or held: what the operator must see.
    bool inAlarm(const QString &channel) const { return state(channel) != State::Normal; }
    void acknowledge(const QString &channel);
    void acknowledgeAll();

    const std::vector<AlarmRecord> &records() const { return m_records; }
    void clearRecords() { m_records.clear(); }

    /// The list as CSV text: a header line, then one line per alarm with the
    /// local time ("yyyy-MM-dd HH:mm:ss.zzz", as spreadsheets read dates),
    /// epoch milliseconds, channel, value, limit (low/high) and limit value.
    QByteArray CsvText() const;
    /// Writes CsvText() to `path` as a whole (the old file stays on failure);
    /// false with the reason in `error`.
    bool SaveCsv(const QString &path, QString &error) const;

private:
    struct Channel {
        ChannelLimits limits;
        /// The side of the last value: none inside the limits.
        std::optional<AlarmRecord::Limit> outside;
        bool unacknowledged = false;
    };
    QHash<QString, Channel> m_channels;
    std::vector<AlarmRecord> m_records;
};
