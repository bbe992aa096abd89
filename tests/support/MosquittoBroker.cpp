#include "MosquittoBroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
constexpr int ReadyTimeoutMs = 5000;
constexpr int PollMs = 10;
constexpr int Keepalive = 60;

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// A port of 127.0.0.1 nobody listens on: the one the system gives for port 0.
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}
} // namespace

QString MosquittoBroker::program()
{
    const QString configured = qEnvironmentVariable("KELVARIN_MOSQUITTO");
    return configured.isEmpty() ? QStringLiteral("/usr/sbin/mosquitto") : configured;
}

bool MosquittoBroker::start(int port)
{
    stop();
    m_port = port > 0 ? port : FreePort();
    const QString config = m_dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write ") + config;
        return false;
    }
    file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                              "log_dest stderr\n")
                   .arg(m_port)
                   .toUtf8());
    file.close();
    m_process.start(program(), {QStringLiteral("-c"), config});
    if (!m_process.waitForStarted()) {
        m_error = program() + QStringLiteral(" does not start (install it: scripts/install-deps.sh): ") +
                  m_process.errorString();
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!Accepts(m_port)) {
        if (m_process.state() != QProcess::Running || waited.elapsed() > ReadyTimeoutMs) {
            m_error = QStringLiteral("mosquitto did not listen on port %1: ").arg(m_port) +
                      QString::fromLocal8Bit(m_process.readAllStandardError());
            stop();
            return false;
        }
        QThread::msleep(PollMs);
    }
    return true;
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(ReadyTimeoutMs))
        m_process.kill();
    m_process.waitForFinished();
}

MqttSubscriber::~MqttSubscriber()
{
    if (!m_mosq)
        return;
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

bool MqttSubscriber::start(int port, const QByteArray &filter)
{
    if (m_mosq)
        return false;
    mosquitto_lib_init(); // counted by the library, as is the cleanup
    m_mosq = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(m_mosq, &MqttSubscriber::onMessage);
    mosquitto_subscribe_callback_set(m_mosq, &MqttSubscriber::onSubscribe);
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, Keepalive) != MOSQ_ERR_SUCCESS ||
        mosquitto_subscribe(m_mosq, nullptr, filter.constData(), 1) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ReadyTimeoutMs) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_subscribed)
                return true;
        }
        QThread::msleep(PollMs);
    }
    return false;
}

QList<ReceivedMessage> MqttSubscriber::messages() const
{
    const std::lock_guard lock(m_mutex);
    return m_messages;
}

QList<QByteArray> MqttSubscriber::payloads(const QByteArray &topic) const
{
    QList<QByteArray> found;
    for (const ReceivedMessage &message : messages()) {
        if (message.topic == topic)
            found << message.payload;
    }
    return found;
}

void MqttSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *subscriber = static_cast<MqttSubscriber *>(self);
    const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    const std::lock_guard lock(subscriber->m_mutex);
    subscriber->m_messages.append(
        {QByteArray(message->topic),
         QByteArray(static_cast<const char *>(message->payload), message->payloadlen), message->retain, now});
}

void MqttSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *subscriber = static_cast<MqttSubscriber *>(self);
    const std::lock_guard lock(subscriber->m_mutex);
    subscriber->m_subscribed = true;
}
