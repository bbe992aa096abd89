#pragma once
// Hands measured values to a plant's systems over MQTT (libmosquitto, MQTT
// 3.1.1). The publisher is given values; it knows nothing of modules, ports
// or windows, so the program and a command-line tool use it alike.
//
// Topics (prefix "kelvarin", line "line1" by default):
//   <prefix>/<line>/<address>/state         {"value": 246.8, "raw": 2468, "unit": "kg", "ts": "..."}
//   <prefix>/<line>/channel/<name>/state    {"value": 12.5, "unit": "kg", "ts": "..."}
//   <prefix>/<line>/alarm/<name>            {"active": true, "text": "...", "ts": "..."}
//   <prefix>/<line>/availability            online / offline
//   homeassistant/sensor/<prefix>_<line>_<address>/config   (discovery, when enabled)
// "value" is raw / 10^decimals with exactly `decimals` decimals, computed from
// the integer (no rounding); "ts" is ISO 8601 local time with milliseconds and
// the UTC offset. Every message is sent with the options' QoS and retain flag
// (retained QoS 1 by default), so a late subscriber gets the last value.
// "online" is published on every connection; the broker publishes "offline"
// (the last will) when the connection is lost, stop() publishes it on a clean
// stop. A '/', '+' or '#' in a line or channel name becomes '_'.
//
// Never blocking the caller
// - publish*() only queue. The queue is handed to libmosquitto while connected
//   (at most MaxInFlight messages waiting for the broker's acknowledgement);
//   while disconnected it keeps the newest backlogLimit messages, the oldest
//   beyond that being dropped and counted (droppedCount()).
// - Values of one address (one channel) are sent at most maxRatePerTopic per
//   second: a value arriving before its slot replaces the one waiting for it,
//   and the waiting one is sent when the slot comes. So the newest value
//   always goes out, at most that often (throttledCount() counts the replaced).
//   Alarms and discovery messages are never held back.
// - Everything runs on the thread of the publisher, driven by its event loop:
//   socket notifiers on libmosquitto's socket, a timer for its keepalive, a
//   timer for reconnecting with back-off (reconnectMinMs doubling up to
//   reconnectMaxMs). The connection is made without blocking; only the
//   resolution of a host name (not an address) may take the resolver's time.
// - Signals are emitted outside libmosquitto's callbacks, so a slot may call
//   any function of the publisher (stop() included); delete it from a slot
//   only with deleteLater().
//
// Use: fill Options, construct, start(); publish as values come; stop() (or
// destroy) at the end. connectedChanged()/statusText() feed a status line;
// the counters tell what was lost.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>

class QSocketNotifier;
struct mosquitto;

class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultPort = 1883;
    static constexpr int DefaultTlsPort = 8883;
    static constexpr int MaxInFlight = 100;
    static constexpr int MiscIntervalMs = 1000;

    struct Options {
        /// mqtt://[user[:password]@]host[:port] or mqtts://... (TLS).
        QString brokerUrl = QStringLiteral("mqtt://localhost");
        QString clientId; ///< empty: "kelvarin-<line>-<process id>"
        QString username; ///< overrides the URL's when not empty
        QString password; ///< overrides the URL's when not empty
        QString caFile;   ///< mqtts: CA certificates (PEM); empty: the system's
        QString line = QStringLiteral("line1");
        QString topicPrefix = QStringLiteral("kelvarin");
        int keepaliveSeconds = 30; ///< at least 5
        int qos = 1;
        bool retained = true;
        int maxRatePerTopic = 20; ///< messages per second per address or channel; 0: no limit
        int backlogLimit = 1000;  ///< messages kept while the broker is away
        bool homeAssistantDiscovery = false;
        int reconnectMinMs = 500;
        int reconnectMaxMs = 30000;
    };

    /// The parts of a broker URL; nullopt when it is not one.
    struct BrokerAddress {
        QString host;
        int port = DefaultPort;
        bool tls = false;
        QString username;
        QString password;
    };
    static std::optional<BrokerAddress> parseBrokerUrl(const QString &url);

    explicit MqttPublisher(const Options &options, QObject *parent = nullptr);
    ~MqttPublisher() override; ///< stops cleanly

    /// Starts connecting (and keeps reconnecting). False when the options are
    /// unusable (bad URL, unreadable CA file): statusText() says why.
    bool start();
    /// Publishes "offline", disconnects and stops reconnecting. Waits at most
    /// StopFlushMs for the socket to take the last bytes.
    void stop();

    void publishValue(int address, qint64 rawValue, int decimals, const QString &unit, const QDateTime &ts);
    void publishChannel(const QString &name, double value, const QString &unit, const QDateTime &ts);
    void publishAlarm(const QString &name, const QString &text, bool active, const QDateTime &ts);

    bool isConnected() const { return m_connected; }
    /// "已连接" or "未连接：<reason>", translated.
    QString statusText() const { return m_statusText; }
    quint64 publishedCount() const { return m_published; } ///< acknowledged by the broker
    quint64 droppedCount() const { return m_dropped; }     ///< oldest dropped from a full backlog
    quint64 throttledCount() const { return m_throttled; } ///< replaced by a newer value before their slot
    int backlogSize() const { return int(m_queue.size()); }
    /// Whether anything given is not yet acknowledged by the broker: queued,
    /// in flight, or waiting for its rate slot.
    bool hasPending() const;

    QString stateTopic(int address) const;
    QString availabilityTopic() const;

    /// The texts of a payload (exposed for the tests and the command-line tool).
    static QByteArray formatFixed(qint64 rawValue, int decimals);
    static QByteArray formatTimestamp(const QDateTime &ts);

    static constexpr int StopFlushMs = 500;

signals:
    void connectedChanged(bool connected);
    void statusTextChanged(const QString &text);

private:
    struct Message {
        QByteArray topic;
        QByteArray payload;
    };
    /// A module's value or a channel's, kept as given until it is sent: the
    /// payload is made only for the values that go out.
    struct Reading {
        QString channel; ///< empty: the value of module `address`
        int address = 0;
        qint64 raw = 0;
        int decimals = 0;
        double value = 0;
        QString unit;
        QDateTime ts;
    };
    struct ThrottleSlot {
        qint64 lastSentMs = 0;
        bool sentOnce = false;
        std::optional<Reading> waiting;
    };

    void connectToBroker();
    void completeConnection();
    void scheduleReconnect();
    void enqueue(Message message);
    bool admit(ThrottleSlot &slot, Reading &reading);
    Message toMessage(const Reading &reading) const;
    void releaseDueSlots();
    void flushQueue();
    void publishAvailability(const char *state);
    void announce(int address, const QString &unit);
    void afterLibraryCall();
    void setNotifierSocket(int fd);
    void updateWriteNotifier();
    void setStatus(bool connected, const QString &reason);
    QByteArray topicBase() const;

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);

    Options m_options;
    BrokerAddress m_address;
    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_notifierFd = -1;
    QTimer m_miscTimer;
    QTimer m_reconnectTimer;
    QTimer m_throttleTimer;
    QElapsedTimer m_clock;
    int m_backoffMs = 0;
    bool m_running = false;
    bool m_connecting = false; ///< a TCP connection is being made
    bool m_connected = false;
    QString m_statusText;

    // What the callbacks saw, acted on after the library call returned.
    std::optional<int> m_connackSeen;
    std::optional<int> m_disconnectSeen;

    std::deque<Message> m_queue;
    QSet<int> m_inFlight;
    QHash<int, ThrottleSlot> m_valueSlots;
    QHash<QString, ThrottleSlot> m_channelSlots;
    QHash<int, QString> m_announcedUnits; ///< discovery sent on this connection
    quint64 m_published = 0;
    quint64 m_dropped = 0;
    quint64 m_throttled = 0;
};
