#pragma once
// A real MQTT broker for a test or a benchmark, and a subscriber that records
// what it receives.
//
// MosquittoBroker runs the mosquitto program (KELVARIN_MOSQUITTO or
// /usr/sbin/mosquitto) with its own configuration in a temporary directory:
// one listener on 127.0.0.1, anonymous clients allowed, nothing persisted.
// MqttSubscriber is a second libmosquitto client with its own network thread,
// so it does not depend on the event loop of the code it watches.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <mutex>

struct mosquitto;

class MosquittoBroker
{
public:
    static QString program();

    ~MosquittoBroker() { stop(); }
    /// Starts on `port` (0: a free one) and waits until it accepts connections.
    bool start(int port = 0);
    void stop();
    int port() const { return m_port; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    QString errorText() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

struct ReceivedMessage {
    QByteArray topic;
    QByteArray payload;
    bool retained = false;
    qint64 receivedNs = 0; ///< steady clock
};

class MqttSubscriber
{
public:
    ~MqttSubscriber();
    /// Connects to the broker on 127.0.0.1:`port` and subscribes to `filter`
    /// (QoS 1); true once the broker has confirmed the subscription.
    bool start(int port, const QByteArray &filter);
    QList<ReceivedMessage> messages() const;
    /// The payloads received on `topic`, oldest first.
    QList<QByteArray> payloads(const QByteArray &topic) const;

private:
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onSubscribe(mosquitto *, void *self, int, int, const int *);

    mosquitto *m_mosq = nullptr;
    mutable std::mutex m_mutex;
    QList<ReceivedMessage> m_messages;
    bool m_subscribed = false;
};
