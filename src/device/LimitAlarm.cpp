#include "device/LimitAlarm.h"

#include "io/FileReplacement.h"

#include <QDateTime>

#include <cmath>
#include <utility>

namespace
{
constexpr int ValueDigits = 15;

/// A CSV cell: quoted when it holds a separator, a quote or a line break.
QByteArray CsvCell(const QString &text)
{
    QByteArray cell = text.toUtf8();
    if (!cell.contains(',') && !cell.contains('"') && !cell.contains('\n') && !cell.contains('\r'))
        return cell;
    cell.replace("\"", "\"\"");
    return '"' + cell + '"';
}

QByteArray Number(double value)
{
    return QByteArray::number(value, 'g', ValueDigits);
}
} // namespace

void LimitAlarm::setLimits(const QString &channel, ChannelLimits limits)
{
    if (limits.low && limits.high && *limits.low > *limits.high)
        std::swap(limits.low, limits.high);
    m_channels[channel].limits = limits;
}

bool LimitAlarm::check(const QString &channel, double value, qint64 timeMs)
{
    const auto found = m_channels.find(channel);
    if (found == m_channels.end() || std::isnan(value))
        return false;
    Channel &c = *found;
    std::optional<AlarmRecord::Limit> side;
    double limitValue = 0;
    if (c.limits.low && value < *c.limits.low) {
        side = AlarmRecord::Limit::Low;
        limitValue = *c.limits.low;
    } else if (c.limits.high && value > *c.limits.high) {
        side = AlarmRecord::Limit::High;
        limitValue = *c.limits.high;
    }
    const bool raised = side && side != c.outside;
    c.outside = side;
    if (raised) {
        c.unacknowledged = true;
        m_records.push_back(AlarmRecord{timeMs, channel, value, *side, limitValue});
    }
    return raised;
}

LimitAlarm::State LimitAlarm::state(const QString &channel) const
{
    const auto found = m_channels.constFind(channel);
    if (found == m_channels.cend())
        return State::Normal;
    if (found->outside)
        return found->unacknowledged ? State::Active : State::Acknowledged;
    return found->unacknowledged ? State::Held : State::Normal;
}

void LimitAlarm::acknowledge(const QString &channel)
{
    const auto found = m_channels.find(channel);
    if (found != m_channels.end())
        found->unacknowledged = false;
}

void LimitAlarm::acknowledgeAll()
{
    for (Channel &c : m_channels)
        c.unacknowledged = false;
}

QByteArray LimitAlarm::CsvText() const
{
    // A byte order mark: spreadsheet programs then read the names as UTF-8.
    QByteArray text = "\xEF\xBB\xBF"
                      "time,epoch_ms,channel,value,limit,limit_value\r\n";
    for (const AlarmRecord &r : m_records) {
        text += QDateTime::fromMSecsSinceEpoch(r.timeMs)
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                    .toUtf8();
        text += ',' + QByteArray::number(r.timeMs) + ',' + CsvCell(r.channel) + ',' + Number(r.value) + ',';
        text += (r.limit == AlarmRecord::Limit::Low ? "low," : "high,") + Number(r.limitValue) + "\r\n";
    }
    return text;
}

bool LimitAlarm::SaveCsv(const QString &path, QString &error) const
{
    FileReplacement file(path);
    const QByteArray text = CsvText();
    if (!file.open()) {
        error = file.errorString();
        return false;
    }
    if (file.device().write(text) != text.size()) {
        error = file.device().errorString();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
