#include "io/MqttPublisher.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QUrl>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <poll.h>

namespace
{
constexpr QLatin1String SchemePlain{"mqtt"};
constexpr QLatin1String SchemeTls{"mqtts"};
constexpr const char *SystemCaPath = "/etc/ssl/certs";
constexpr const char *Online = "online";
constexpr const char *Offline = "offline";
constexpr int MaxDecimals = 18;
constexpr int MinKeepaliveSeconds = 5;
constexpr int MsPerSecond = 1000;
constexpr int SecondsPerMinute = 60;
constexpr int SecondsPerHour = 3600;
// libmosquitto may hold the queue's window plus the two availability messages.
constexpr int LibrarySendMaximum = MqttPublisher::MaxInFlight + 2;

/// mosquitto_lib_init() once per process, mosquitto_lib_cleanup() at its end.
void EnsureLibrary()
{
    struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    };
    static Library library;
}

/// One level of a topic: the characters MQTT gives a meaning replaced.
QByteArray TopicLevel(const QString &name)
{
    QByteArray level = name.toUtf8();
    for (char &c : level) {
        if (c == '/' || c == '+' || c == '#' || c == '\0')
            c = '_';
    }
    return level.isEmpty() ? QByteArray("_") : level;
}

/// Letters, digits, '_' and '-' only, as discovery wants in ids.
QByteArray IdPart(const QString &name)
{
    QByteArray id = name.toUtf8();
    for (char &c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-';
        if (!plain)
            c = '_';
    }
    return id;
}

/// A JSON string literal, quotes included.
QByteArray JsonString(const QString &text)
{
    QByteArray out("\"");
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

/// The shortest text that reads back as the same double; null for NaN and infinities.
QByteArray JsonNumber(double value)
{
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QByteArray(text, int(end - text));
}

QString LibraryError(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO && savedErrno != 0)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}
} // namespace

std::optional<MqttPublisher::BrokerAddress> MqttPublisher::parseBrokerUrl(const QString &url)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != SchemePlain && scheme != SchemeTls) || parsed.host().isEmpty())
        return std::nullopt;
    if (!(parsed.path().isEmpty() || parsed.path() == QLatin1String("/")) || parsed.hasQuery() ||
        parsed.hasFragment())
        return std::nullopt;
    BrokerAddress address;
    address.tls = scheme == SchemeTls;
    address.host = parsed.host();
    address.port = parsed.port(address.tls ? DefaultTlsPort : DefaultPort);
    if (address.port <= 0)
        return std::nullopt;
    address.username = parsed.userName();
    address.password = parsed.password();
    return address;
}

QByteArray MqttPublisher::formatFixed(qint64 rawValue, int decimals)
{
    decimals = std::clamp(decimals, 0, MaxDecimals);
    // The magnitude as unsigned, so the most negative value has one too.
    const quint64 magnitude = rawValue < 0 ? quint64(0) - quint64(rawValue) : quint64(rawValue);
    QByteArray digits = QByteArray::number(magnitude);
    if (decimals > 0) {
        if (digits.size() <= decimals)
            digits.prepend(QByteArray(decimals + 1 - digits.size(), '0'));
        digits.insert(digits.size() - decimals, '.');
    }
    return rawValue < 0 ? '-' + digits : digits;
}

QByteArray MqttPublisher::formatTimestamp(const QDateTime &ts)
{
    const QDateTime local = (ts.isValid() ? ts : QDateTime::currentDateTime()).toLocalTime();
    int year = 0, month = 0, day = 0;
    local.date().getDate(&year, &month, &day);
    const QTime time = local.time();
    const int offset = local.offsetFromUtc();
    const int absolute = std::abs(offset);
    char text[48];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year, month, day,
                      time.hour(), time.minute(), time.second(), time.msec(), offset < 0 ? '-' : '+',
                      absolute / SecondsPerHour, absolute % SecondsPerHour / SecondsPerMinute);
    return QByteArray(text, std::clamp(length, 0, int(sizeof text) - 1));
}

MqttPublisher::MqttPublisher(const Options &options, QObject *parent) : QObject(parent), m_options(options)
{
    m_clock.start();
    m_statusText = tr("未连接：%1").arg(tr("未启动"));
    m_miscTimer.setInterval(MiscIntervalMs);
    connect(&m_miscTimer, &QTimer::timeout, this, [this] {
        mosquitto_loop_misc(m_mosq);
        afterLibraryCall();
    });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &MqttPublisher::connectToBroker);
    m_throttleTimer.setSingleShot(true);
    m_throttleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_throttleTimer, &QTimer::timeout, this, &MqttPublisher::releaseDueSlots);
    m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_connecting)
            completeConnection(); // a failed connect also reads as readable: take its error
        else
            mosquitto_loop_read(m_mosq, 1);
        afterLibraryCall();
    });
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_connecting)
            completeConnection();
        else
            mosquitto_loop_write(m_mosq, 1);
        afterLibraryCall();
    });
}

MqttPublisher::~MqttPublisher()
{
    stop();
}

QByteArray MqttPublisher::topicBase() const
{
    return TopicLevel(m_options.topicPrefix) + '/' + TopicLevel(m_options.line);
}

QString MqttPublisher::stateTopic(int address) const
{
    return QString::fromUtf8(topicBase() + '/' + QByteArray::number(address) + "/state");
}

QString MqttPublisher::availabilityTopic() const
{
    return QString::fromUtf8(topicBase() + "/availability");
}

bool MqttPublisher::start()
{
    if (m_mosq)
        return true;
    const auto address = parseBrokerUrl(m_options.brokerUrl);
    if (!address) {
        setStatus(false, tr("代理地址无效：%1").arg(m_options.brokerUrl));
        return false;
    }
    m_address = *address;
    if (!m_options.username.isEmpty())
        m_address.username = m_options.username;
    if (!m_options.password.isEmpty())
        m_address.password = m_options.password;
    if (m_address.tls && !m_options.caFile.isEmpty() && !QFileInfo(m_options.caFile).isReadable()) {
        setStatus(false, tr("无法读取证书文件：%1").arg(m_options.caFile));
        return false;
    }

    EnsureLibrary();
    const QString clientId = m_options.clientId.isEmpty()
                                 ? QStringLiteral("kelvarin-%1-%2")
                                       .arg(QString::fromUtf8(IdPart(m_options.line)))
                                       .arg(QCoreApplication::applicationPid())
                                 : m_options.clientId;
    m_mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!m_mosq) {
        setStatus(false, LibraryError(MOSQ_ERR_ERRNO, errno));
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_SEND_MAXIMUM, LibrarySendMaximum);
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::onPublish);
    const QByteArray will = availabilityTopic().toUtf8();
    int rc =
        mosquitto_will_set(m_mosq, will.constData(), int(std::strlen(Offline)), Offline, m_options.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_address.username.isEmpty()) {
        rc = mosquitto_username_pw_set(
            m_mosq, m_address.username.toUtf8().constData(),
            m_address.password.isEmpty() ? nullptr : m_address.password.toUtf8().constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && m_address.tls) {
        const QByteArray caFile = QFile::encodeName(m_options.caFile);
        rc = mosquitto_tls_set(m_mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
                               caFile.isEmpty() ? SystemCaPath : nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        setStatus(false, LibraryError(rc, errno));
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
        return false;
    }

    m_running = true;
    m_backoffMs = m_options.reconnectMinMs;
    m_miscTimer.start();
    setStatus(false, tr("正在连接 %1").arg(m_address.host));
    connectToBroker();
    return true;
}

void MqttPublisher::connectToBroker()
{
    if (!m_running)
        return;
    errno = 0;
    const int rc = mosquitto_connect_async(m_mosq, m_address.host.toUtf8().constData(), m_address.port,
                                           std::max(m_options.keepaliveSeconds, MinKeepaliveSeconds));
    if (rc != MOSQ_ERR_SUCCESS) {
        setStatus(false, LibraryError(rc, errno));
        scheduleReconnect();
        return;
    }
    m_connecting = true;
    setNotifierSocket(mosquitto_socket(m_mosq));
    updateWriteNotifier();
}

void MqttPublisher::completeConnection()
{
    // The library finishes the TCP connection (or reports its failure with
    // the socket's error) when asked to write, once the socket says it is done.
    pollfd done{mosquitto_socket(m_mosq), POLLOUT, 0};
    if (::poll(&done, 1, 0) <= 0)
        return;
    m_connecting = false;
    errno = 0;
    mosquitto_loop_write(m_mosq, 1);
}

void MqttPublisher::scheduleReconnect()
{
    setNotifierSocket(-1);
    m_reconnectTimer.start(m_backoffMs);
    m_backoffMs = std::min(m_backoffMs * 2, m_options.reconnectMaxMs);
}

void MqttPublisher::stop()
{
    if (!m_mosq)
        return;
    m_running = false;
    m_reconnectTimer.stop();
    m_miscTimer.stop();
    if (m_connected) {
        publishAvailability(Offline);
        mosquitto_disconnect(m_mosq);
        // The broker must see "offline" before the connection ends, else it
        // publishes nothing (a clean disconnect cancels the will).
        QElapsedTimer waited;
        waited.start();
        const int fd = mosquitto_socket(m_mosq);
        while (fd >= 0 && mosquitto_want_write(m_mosq) && waited.elapsed() < StopFlushMs) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, int(StopFlushMs - waited.elapsed())) <= 0)
                break;
            if (mosquitto_loop_write(m_mosq, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
    }
    setNotifierSocket(-1);
    mosquitto_destroy(m_mosq); // closes the socket
    m_mosq = nullptr;
    m_connecting = false;
    m_connackSeen.reset();
    m_disconnectSeen.reset();
    m_inFlight.clear();
    setStatus(false, tr("已停止"));
}

bool MqttPublisher::hasPending() const
{
    const auto waiting = [](const auto &table) {
        return std::any_of(table.begin(), table.end(),
                           [](const ThrottleSlot &slot) { return slot.waiting.has_value(); });
    };
    return !m_queue.empty() || !m_inFlight.isEmpty() || waiting(m_valueSlots) || waiting(m_channelSlots);
}

void MqttPublisher::publishValue(int address, qint64 rawValue, int decimals, const QString &unit,
                                 const QDateTime &ts)
{
    announce(address, unit);
    Reading reading{{}, address, rawValue, decimals, 0, unit, ts};
    if (admit(m_valueSlots[address], reading))
        enqueue(toMessage(reading));
}

void MqttPublisher::publishChannel(const QString &name, double value, const QString &unit,
                                   const QDateTime &ts)
{
    Reading reading{name, 0, 0, 0, value, unit, ts};
    if (admit(m_channelSlots[name], reading))
        enqueue(toMessage(reading));
}

MqttPublisher::Message MqttPublisher::toMessage(const Reading &r) const
{
    const QByteArray tail =
        ", \"unit\": " + JsonString(r.unit) + ", \"ts\": \"" + formatTimestamp(r.ts) + "\"}";
    if (!r.channel.isEmpty()) {
        return {topicBase() + "/channel/" + TopicLevel(r.channel) + "/state",
                "{\"value\": " + JsonNumber(r.value) + tail};
    }
    return {stateTopic(r.address).toUtf8(), "{\"value\": " + formatFixed(r.raw, r.decimals) +
                                                ", \"raw\": " + QByteArray::number(r.raw) + tail};
}

void MqttPublisher::publishAlarm(const QString &name, const QString &text, bool active, const QDateTime &ts)
{
    QByteArray payload = QByteArray("{\"active\": ") + (active ? "true" : "false") +
                         ", \"text\": " + JsonString(text) + ", \"ts\": \"" + formatTimestamp(ts) + "\"}";
    enqueue({topicBase() + "/alarm/" + TopicLevel(name), std::move(payload)});
}

void MqttPublisher::announce(int address, const QString &unit)
{
    if (!m_options.homeAssistantDiscovery)
        return;
    const auto known = m_announcedUnits.constFind(address);
    if (known != m_announcedUnits.constEnd() && *known == unit)
        return;
    m_announcedUnits.insert(address, unit);
    const QByteArray id =
        IdPart(m_options.topicPrefix) + '_' + IdPart(m_options.line) + '_' + QByteArray::number(address);
    const QString name = QStringLiteral("%1 %2 %3").arg(m_options.topicPrefix, m_options.line).arg(address);
    QByteArray payload =
        "{\"name\": " + JsonString(name) + ", \"state_topic\": " + JsonString(stateTopic(address)) +
        ", \"value_template\": \"{{ value_json.value }}\"" +
        ", \"unit_of_measurement\": " + JsonString(unit) +
        ", \"availability_topic\": " + JsonString(availabilityTopic()) + ", \"unique_id\": \"" + id + "\"}";
    enqueue({"homeassistant/sensor/" + id + "/config", std::move(payload)});
}

bool MqttPublisher::admit(ThrottleSlot &slot, Reading &reading)
{
    if (m_options.maxRatePerTopic <= 0)
        return true;
    const qint64 interval = MsPerSecond / m_options.maxRatePerTopic;
    const qint64 now = m_clock.elapsed();
    if (!slot.waiting && (!slot.sentOnce || now - slot.lastSentMs >= interval)) {
        slot.sentOnce = true;
        slot.lastSentMs = now;
        return true;
    }
    if (slot.waiting) {
        ++m_throttled; // the timer is already set for it
    } else {
        const qint64 due = std::max<qint64>(0, slot.lastSentMs + interval - now);
        if (!m_throttleTimer.isActive() || m_throttleTimer.remainingTime() > due)
            m_throttleTimer.start(int(due));
    }
    slot.waiting = std::move(reading);
    return false;
}

void MqttPublisher::releaseDueSlots()
{
    const qint64 interval = MsPerSecond / std::max(1, m_options.maxRatePerTopic);
    const qint64 now = m_clock.elapsed();
    qint64 next = -1;
    const auto release = [&](auto &table) {
        for (ThrottleSlot &slot : table) {
            if (!slot.waiting)
                continue;
            if (now - slot.lastSentMs >= interval) {
                slot.lastSentMs = now;
                const Reading reading = std::move(*slot.waiting);
                slot.waiting.reset();
                enqueue(toMessage(reading));
            } else {
                const qint64 due = slot.lastSentMs + interval - now;
                next = next < 0 ? due : std::min(next, due);
            }
        }
    };
    release(m_valueSlots);
    release(m_channelSlots);
    if (next >= 0)
        m_throttleTimer.start(int(next));
}

void MqttPublisher::enqueue(Message message)
{
    m_queue.push_back(std::move(message));
    while (int(m_queue.size()) > std::max(1, m_options.backlogLimit)) {
        m_queue.pop_front();
        ++m_dropped;
    }
    flushQueue();
}

void MqttPublisher::flushQueue()
{
    if (!m_connected)
        return;
    while (!m_queue.empty() && m_inFlight.size() < MaxInFlight) {
        const Message &message = m_queue.front();
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, message.topic.constData(), int(message.payload.size()),
                                         message.payload.constData(), m_options.qos, m_options.retained);
        if (rc != MOSQ_ERR_SUCCESS)
            break; // kept; the disconnect that follows says why
        if (m_options.qos == 0)
            ++m_published; // nothing will acknowledge it
        else
            m_inFlight.insert(mid);
        m_queue.pop_front();
    }
    updateWriteNotifier();
}

void MqttPublisher::publishAvailability(const char *state)
{
    mosquitto_publish(m_mosq, nullptr, availabilityTopic().toUtf8().constData(), int(std::strlen(state)),
                      state, m_options.qos, true);
    updateWriteNotifier();
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    static_cast<MqttPublisher *>(self)->m_connackSeen = rc;
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    publisher->m_disconnectSeen = rc == MOSQ_ERR_ERRNO ? -errno : rc;
}

void MqttPublisher::onPublish(mosquitto *, void *self, int mid)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    if (publisher->m_inFlight.remove(mid))
        ++publisher->m_published;
}

void MqttPublisher::afterLibraryCall()
{
    // Callbacks only note what happened: acting inside them would call back
    // into the library, and a slot of ours might stop or restart it.
    QString refusal;
    if (const auto connack = std::exchange(m_connackSeen, std::nullopt)) {
        if (*connack == 0) {
            m_connecting = false;
            m_backoffMs = m_options.reconnectMinMs;
            m_announcedUnits.clear();
            publishAvailability(Online);
            setStatus(true, {});
            flushQueue();
        } else {
            refusal = QString::fromUtf8(mosquitto_connack_string(*connack));
        }
    }
    if (const auto disconnect = std::exchange(m_disconnectSeen, std::nullopt)) {
        m_connecting = false;
        if (m_running) {
            const QString reason = !refusal.isEmpty() ? refusal
                                   : *disconnect < 0  ? LibraryError(MOSQ_ERR_ERRNO, -*disconnect)
                                                      : LibraryError(*disconnect, 0);
            setStatus(false, reason);
            scheduleReconnect();
        }
        return;
    }
    flushQueue(); // acknowledgements open the window
}

void MqttPublisher::setNotifierSocket(int fd)
{
    if (fd != m_notifierFd) {
        m_readNotifier->setSocket(fd); // disables it
        m_writeNotifier->setSocket(fd);
        m_notifierFd = fd;
    }
    m_readNotifier->setEnabled(fd >= 0);
    if (fd < 0)
        m_writeNotifier->setEnabled(false);
}

void MqttPublisher::updateWriteNotifier()
{
    if (m_notifierFd < 0)
        return;
    m_writeNotifier->setEnabled(m_connecting || mosquitto_want_write(m_mosq));
}

void MqttPublisher::setStatus(bool connected, const QString &reason)
{
    const QString text = connected ? tr("已连接") : tr("未连接：%1").arg(reason);
    const bool changed = connected != m_connected;
    m_connected = connected;
    const bool textChanged = text != m_statusText;
    m_statusText = text;
    if (changed)
        emit connectedChanged(connected);
    if (textChanged)
        emit statusTextChanged(text);
}
