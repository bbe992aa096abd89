#pragma once
// Publishing the measured values to a plant's MQTT broker: the [MQTT]
// settings of "Data.ini" (read into range, written as one) and the owner of
// the running publisher, which the main window feeds and the MQTT dialog
// configures.

#include "io/MqttPublisher.h"

#include <QObject>
#include <QString>

#include <memory>

class SettingsStore;

/// The [MQTT] section (see io/SettingsKeys.h for the keys and their ranges).
struct MqttSettings {
    bool enabled = false;
    QString broker;
    QString line;
    QString user;
    QString password; ///< stored as plain text
    QString caFile;
    int rate = 0; ///< values per second per module
    bool discovery = false;

    /// The defaults of every key.
    static MqttSettings Defaults();
    /// What the file holds, every value brought into range: a hand-edited
    /// file may hold anything.
    static MqttSettings Read(const SettingsStore &store);
    /// Writes every key in one replacement of the file; false (the reason in
    /// store.lastError()) when the file did not take them.
    bool Write(SettingsStore &store) const;
    /// The same settings with every value in range: texts without control
    /// characters and at most SettingsKeys::MqttTextLength long, an empty
    /// line name or a broker text that is no broker address as the default,
    /// the rate clamped.
    MqttSettings Normalised() const;
    MqttPublisher::Options Options() const;

    bool operator==(const MqttSettings &) const = default;
};

class MqttPublishing : public QObject
{
    Q_OBJECT
public:
    explicit MqttPublishing(QObject *parent = nullptr);
    ~MqttPublishing() override; ///< stops: the broker gets "offline"

    /// Starts publishing with `settings` when they are enabled (a running
    /// publisher with other settings is stopped first and a new one started),
    /// stops publishing when they are not. The same settings again change
    /// nothing (the connection stays) unless the publisher could not start.
    void Apply(const MqttSettings &settings);
    void Stop();

    bool IsEnabled() const { return m_publisher != nullptr; }
    bool IsConnected() const { return m_publisher && m_publisher->isConnected(); }
    /// The publisher's status text, or "未启用" when publishing is off.
    QString StatusText() const;
    /// The running publisher (counters, topics); nullptr when off.
    const MqttPublisher *publisher() const { return m_publisher.get(); }

    /// Queues a module's value when publishing is on; never blocks.
    void PublishValue(int address, qint64 rawValue, int decimals, const QString &unit, const QDateTime &ts);
    /// Queues a computed channel's value (the watch's sums) when publishing is on.
    void PublishChannel(const QString &name, double value, const QString &unit, const QDateTime &ts);
    /// Queues a channel's alarm state when publishing is on.
    void PublishAlarm(const QString &name, const QString &text, bool active, const QDateTime &ts);

    /// Reconnection back-off of the publishers started from now on.
    void SetReconnectDelays(int minMs, int maxMs);

signals:
    /// Publishing was turned on or off, connected or lost, or its status text changed.
    void stateChanged();

private:
    std::unique_ptr<MqttPublisher> m_publisher;
    MqttSettings m_applied;
    bool m_started = false; ///< the publisher could start (it retries a broker by itself)
    int m_reconnectMinMs = MqttPublisher::Options{}.reconnectMinMs;
    int m_reconnectMaxMs = MqttPublisher::Options{}.reconnectMaxMs;
};
