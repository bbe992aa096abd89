#include "device/WatchConfig.h"

#include "io/SettingsStore.h"

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace
{
using namespace SettingsKeys;

constexpr QChar FieldSeparator{u';'};
constexpr QChar MemberSeparator{u','};
constexpr int ModuleFields = 5;
constexpr int ChannelFields = 4;
constexpr int LimitFields = 2;
constexpr int FloatDigits = 15;

QString ModuleKey(int n)
{
    return KeyWatchModulePrefix + QString::number(n);
}
QString ChannelKey(int n)
{
    return KeyWatchChannelPrefix + QString::number(n);
}
QString LimitKey(const QString &name)
{
    return KeyWatchLimitPrefix + name;
}

/// A whole number in min..max brought to its nearest end; nothing for text that is no number.
std::optional<int> Number(const QString &text, int min, int max)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return int(std::clamp<qlonglong>(value, min, max));
}

/// A limit: a finite number within the chart's range; nothing for an empty side or text that is no number.
std::optional<double> Limit(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return std::clamp(value, -YLimit, YLimit);
}

QString LimitText(const std::optional<double> &limit)
{
    return limit ? QString::number(*limit, 'g', FloatDigits) : QString();
}

std::optional<ComputedChannel::Kind> KindOf(const QString &text)
{
    const QString kind = text.trimmed().toLower();
    if (kind == WatchKindSum)
        return ComputedChannel::Kind::Sum;
    if (kind == WatchKindMean)
        return ComputedChannel::Kind::Mean;
    if (kind == WatchKindDifference)
        return ComputedChannel::Kind::Difference;
    return std::nullopt;
}

QString KindText(ComputedChannel::Kind kind)
{
    switch (kind) {
    case ComputedChannel::Kind::Mean:
        return WatchKindMean;
    case ComputedChannel::Kind::Difference:
        return WatchKindDifference;
    case ComputedChannel::Kind::Sum:
        break;
    }
    return WatchKindSum;
}

/// Reads Module<n>: the module, or nothing when it has no usable address.
std::optional<WatchModule> ReadModule(const QString &text)
{
    const QStringList fields = text.split(FieldSeparator);
    const std::optional<int> address = Number(fields.value(0), 1, 255);
    if (!address)
        return std::nullopt;
    WatchModule module;
    module.address = DeviceAddress(*address);
    module.name = WatchConfig::CleanName(fields.value(1));
    if (module.name.isEmpty())
        module.name = QString::number(*address);
    module.decimals =
        Number(fields.value(2), Decimal.minimum, Decimal.maximum).value_or(Decimal.defaultValue);
    module.unit = WatchConfig::CleanName(fields.value(3));
    module.charted = Number(fields.value(4), -1, 1).value_or(1) != 0;
    return module;
}
} // namespace

QString WatchConfig::CleanName(const QString &name)
{
    QString clean;
    for (const QChar c : name) {
        if (c == FieldSeparator || c == u'=' || c == u'[' || c == u']' ||
            c.category() == QChar::Other_Control)
            continue;
        clean += c;
    }
    return clean.trimmed().left(WatchNameLength).trimmed();
}

WatchConfig WatchConfig::Read(const SettingsStore &store)
{
    WatchConfig config;
    config.intervalMs = store.Read(WatchInterval);
    config.timeoutMs = store.Read(WatchTimeout);
    config.lostAfter = store.Read(WatchLostAfter);
    config.lostRetry = store.Read(WatchLostRetry);
    config.statisticsSeconds = store.Read(WatchStatisticsSeconds);
    config.beep = store.Read(WatchBeep) != 0;
    if (!store.SectionExists(SectionWatch))
        return config;

    // Channels name modules by their key's number; entries left out shift the list.
    QHash<int, int> indexOfNumber;
    for (int n = 1; n <= WatchModulesMax; ++n) {
        const std::optional<WatchModule> module =
            ReadModule(store.ReadString(SectionWatch, ModuleKey(n), {}));
        const bool repeated =
            module && std::any_of(config.modules.cbegin(), config.modules.cend(),
                                  [&](const WatchModule &m) { return m.address == module->address; });
        if (!module || repeated)
            continue;
        indexOfNumber.insert(n, int(config.modules.size()));
        config.modules << *module;
    }
    for (int n = 1; n <= WatchChannelsMax; ++n) {
        const QStringList fields = store.ReadString(SectionWatch, ChannelKey(n), {}).split(FieldSeparator);
        const std::optional<ComputedChannel::Kind> kind = KindOf(fields.value(0));
        WatchChannelConfig channel;
        channel.name = CleanName(fields.value(2));
        channel.unit = CleanName(fields.value(3));
        for (const QString &member : fields.value(1).split(MemberSeparator)) {
            const std::optional<int> number = Number(member, 1, WatchModulesMax);
            if (number && indexOfNumber.contains(*number))
                channel.members << indexOfNumber.value(*number);
        }
        const qsizetype needed = kind == ComputedChannel::Kind::Difference ? 2 : 1;
        if (!kind || channel.name.isEmpty() || channel.members.size() < needed)
            continue;
        channel.kind = *kind;
        if (channel.kind == ComputedChannel::Kind::Difference)
            channel.members.resize(2);
        config.channels << channel;
    }
    QStringList names;
    for (const WatchModule &module : config.modules)
        names << module.name;
    for (const WatchChannelConfig &channel : config.channels)
        names << channel.name;
    for (const QString &name : names) {
        const QStringList fields = store.ReadString(SectionWatch, LimitKey(name), {}).split(FieldSeparator);
        WatchLimitConfig limit{name, {Limit(fields.value(0)), Limit(fields.value(1))}};
        if (limit.limits.low && limit.limits.high && *limit.limits.low > *limit.limits.high)
            std::swap(limit.limits.low, limit.limits.high);
        if (limit.limits.low || limit.limits.high)
            config.limits << limit;
    }
    return config;
}

bool WatchConfig::Write(SettingsStore &store) const
{
    // What an earlier watch stored and this one does not is blanked.
    const WatchConfig before = Read(store);
    SettingsStore::Batch batch(store);
    store.WriteInteger(SectionWatch, WatchInterval.key, intervalMs);
    store.WriteInteger(SectionWatch, WatchTimeout.key, timeoutMs);
    store.WriteInteger(SectionWatch, WatchLostAfter.key, lostAfter);
    store.WriteInteger(SectionWatch, WatchLostRetry.key, lostRetry);
    store.WriteInteger(SectionWatch, WatchStatisticsSeconds.key, statisticsSeconds);
    store.WriteInteger(SectionWatch, WatchBeep.key, beep ? 1 : 0);
    for (int n = 1; n <= WatchModulesMax; ++n) {
        const bool stored = n <= modules.size();
        if (!stored && store.ReadString(SectionWatch, ModuleKey(n), {}).isEmpty())
            continue;
        QString text;
        if (stored) {
            const WatchModule &m = modules[n - 1];
            text = QStringList{QString::number(m.address), CleanName(m.name), QString::number(m.decimals),
                               CleanName(m.unit), m.charted ? QStringLiteral("1") : QStringLiteral("0")}
                       .join(FieldSeparator);
        }
        store.WriteString(SectionWatch, ModuleKey(n), text);
    }
    for (int n = 1; n <= WatchChannelsMax; ++n) {
        const bool stored = n <= channels.size();
        if (!stored && store.ReadString(SectionWatch, ChannelKey(n), {}).isEmpty())
            continue;
        QString text;
        if (stored) {
            const WatchChannelConfig &c = channels[n - 1];
            QStringList members;
            for (const int index : c.members)
                members << QString::number(index + 1);
            text = QStringList{KindText(c.kind), members.join(MemberSeparator), CleanName(c.name),
                               CleanName(c.unit)}
                       .join(FieldSeparator);
        }
        store.WriteString(SectionWatch, ChannelKey(n), text);
    }
    for (const WatchLimitConfig &old : before.limits)
        store.WriteString(SectionWatch, LimitKey(old.channel), {});
    for (const WatchLimitConfig &limit : limits) {
        const QString text = LimitText(limit.limits.low) + FieldSeparator + LimitText(limit.limits.high);
        store.WriteString(SectionWatch, LimitKey(CleanName(limit.channel)), text);
    }
    return batch.commit();
}

void WatchConfig::ApplyTo(BusWatch &watch) const
{
    watch.setIntervalMs(intervalMs);
    watch.setTimeoutMs(timeoutMs);
    watch.setLostAfter(lostAfter);
    watch.setLostRetry(lostRetry);
    watch.setStatisticsWindowMs(qint64(statisticsSeconds) * 1000);
    watch.setModules(modules);
}
