#pragma once
// The watch as stored in the settings file, section "[Watch]": the modules
// (address, name, decimals, unit, charted), the computed channels, the limits
// and the polling figures. The key layout and the ranges are described with
// the keys in io/SettingsKeys.h. A file without the section reads as an
// empty watch; a hand-edited one may hold anything, and what is read is
// always usable: numbers brought into range, unusable entries left out.

#include "device/BusWatch.h"
#include "device/ComputedChannel.h"
#include "device/LimitAlarm.h"
#include "io/SettingsKeys.h"

#include <QList>
#include <QString>

class SettingsStore;

struct WatchChannelConfig {
    ComputedChannel::Kind kind = ComputedChannel::Kind::Sum;
    QList<int> members; ///< indices into WatchConfig::modules
    QString name;
    QString unit;

    bool operator==(const WatchChannelConfig &) const = default;
};

struct WatchLimitConfig {
    QString channel; ///< a module's or a computed channel's name
    ChannelLimits limits;

    bool operator==(const WatchLimitConfig &) const = default;
};

struct WatchConfig {
    QList<WatchModule> modules;
    QList<WatchChannelConfig> channels;
    QList<WatchLimitConfig> limits;
    int intervalMs = SettingsKeys::WatchInterval.defaultValue;
    int timeoutMs = SettingsKeys::WatchTimeout.defaultValue;
    int lostAfter = SettingsKeys::WatchLostAfter.defaultValue;
    int lostRetry = SettingsKeys::WatchLostRetry.defaultValue;
    int statisticsSeconds = SettingsKeys::WatchStatisticsSeconds.defaultValue;
    bool beep = SettingsKeys::WatchBeep.defaultValue != 0;

    bool operator==(const WatchConfig &) const = default;

    static WatchConfig Read(const SettingsStore &store);
    /// Writes the whole section in one replacement of the file, blanking
    /// entries of an earlier, longer watch; false when the file was not written.
    bool Write(SettingsStore &store) const;
    /// Applies the polling figures and the modules to a watch.
    void ApplyTo(BusWatch &watch) const;

    /// A name as it can be stored: without ";", "=", "[", "]" and control
    /// characters, trimmed and cut to SettingsKeys::WatchNameLength.
    static QString CleanName(const QString &name);
};
