#include "settings/MqttPublishing.h"

#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QCoreApplication>

#include <algorithm>

namespace Keys = SettingsKeys;

namespace
{
/// A text as a settings value: without control characters (a line break
/// would end the key in the file), at most MqttTextLength characters.
QString CleanText(const QString &text)
{
    QString clean;
    clean.reserve(std::min<qsizetype>(text.size(), Keys::MqttTextLength));
    for (const QChar c : text) {
        if (clean.size() == Keys::MqttTextLength)
            break;
        if (c.category() != QChar::Other_Control)
            clean.append(c);
    }
    return clean;
}
} // namespace

MqttSettings MqttSettings::Defaults()
{
    MqttSettings s;
    s.enabled = Keys::DefaultMqttEnabled;
    s.broker = Keys::DefaultMqttBroker;
    s.line = Keys::DefaultMqttLine;
    s.rate = Keys::MqttRate.defaultValue;
    s.discovery = Keys::DefaultMqttDiscovery;
    return s;
}

MqttSettings MqttSettings::Read(const SettingsStore &store)
{
    const MqttSettings d = Defaults();
    MqttSettings s;
    s.enabled = store.ReadBool(Keys::SectionMqtt, Keys::KeyMqttEnabled, d.enabled);
    s.broker = store.ReadString(Keys::SectionMqtt, Keys::KeyMqttBroker, d.broker);
    s.line = store.ReadString(Keys::SectionMqtt, Keys::KeyMqttLine, d.line);
    s.user = store.ReadString(Keys::SectionMqtt, Keys::KeyMqttUser, QString());
    s.password = store.ReadString(Keys::SectionMqtt, Keys::KeyMqttPassword, QString());
    s.caFile = store.ReadString(Keys::SectionMqtt, Keys::KeyMqttCaFile, QString());
    s.rate = store.Read(Keys::MqttRate);
    s.discovery = store.ReadBool(Keys::SectionMqtt, Keys::KeyMqttDiscovery, d.discovery);
    return s.Normalised();
}

bool MqttSettings::Write(SettingsStore &store) const
{
    SettingsStore::Batch batch(store);
    bool written = store.WriteBool(Keys::SectionMqtt, Keys::KeyMqttEnabled, enabled);
    written = store.WriteString(Keys::SectionMqtt, Keys::KeyMqttBroker, broker) && written;
    written = store.WriteString(Keys::SectionMqtt, Keys::KeyMqttLine, line) && written;
    written = store.WriteString(Keys::SectionMqtt, Keys::KeyMqttUser, user) && written;
    written = store.WriteString(Keys::SectionMqtt, Keys::KeyMqttPassword, password) && written;
    written = store.WriteString(Keys::SectionMqtt, Keys::KeyMqttCaFile, caFile) && written;
    written = store.WriteInteger(Keys::SectionMqtt, Keys::MqttRate.key, rate) && written;
    written = store.WriteBool(Keys::SectionMqtt, Keys::KeyMqttDiscovery, discovery) && written;
    return batch.commit() && written;
}

MqttSettings MqttSettings::Normalised() const
{
    MqttSettings s = *this;
    s.broker = CleanText(broker).trimmed();
    if (!MqttPublisher::parseBrokerUrl(s.broker))
        s.broker = Keys::DefaultMqttBroker;
    s.line = CleanText(line).trimmed();
    if (s.line.isEmpty())
        s.line = Keys::DefaultMqttLine;
    s.user = CleanText(user);
    s.password = CleanText(password);
    s.caFile = CleanText(caFile).trimmed();
    s.rate = std::clamp(rate, Keys::MqttRate.minimum, Keys::MqttRate.maximum);
    return s;
}

MqttPublisher::Options MqttSettings::Options() const
{
    MqttPublisher::Options o;
    o.brokerUrl = broker;
    o.line = line;
    o.username = user;
    o.password = password;
    o.caFile = caFile;
    o.maxRatePerTopic = rate;
    o.homeAssistantDiscovery = discovery;
    return o;
}

MqttPublishing::MqttPublishing(QObject *parent) : QObject(parent) {}

MqttPublishing::~MqttPublishing()
{
    if (m_publisher)
        m_publisher->stop();
}

void MqttPublishing::Apply(const MqttSettings &settings)
{
    if (m_publisher && m_started && settings.enabled && settings == m_applied)
        return;
    if (m_publisher)
        m_publisher->stop();
    m_publisher.reset();
    m_applied = settings;
    if (settings.enabled) {
        MqttPublisher::Options options = settings.Options();
        options.reconnectMinMs = m_reconnectMinMs;
        options.reconnectMaxMs = m_reconnectMaxMs;
        m_publisher = std::make_unique<MqttPublisher>(options);
        connect(m_publisher.get(), &MqttPublisher::connectedChanged, this, &MqttPublishing::stateChanged);
        connect(m_publisher.get(), &MqttPublisher::statusTextChanged, this, &MqttPublishing::stateChanged);
        // A publisher that cannot start (a CA file it cannot read) stays, not
        // running, so that its status text tells why nothing is published.
        m_started = m_publisher->start();
    }
    emit stateChanged();
}

void MqttPublishing::Stop()
{
    MqttSettings off = m_applied;
    off.enabled = false;
    Apply(off);
}

QString MqttPublishing::StatusText() const
{
    return m_publisher ? m_publisher->statusText()
                       : QCoreApplication::translate("TfrmMqttSettings", "未启用");
}

void MqttPublishing::PublishValue(int address, qint64 rawValue, int decimals, const QString &unit,
                                  const QDateTime &ts)
{
    if (m_publisher)
        m_publisher->publishValue(address, rawValue, decimals, unit, ts);
}

void MqttPublishing::PublishChannel(const QString &name, double value, const QString &unit, const QDateTime &ts)
{
    if (m_publisher)
        m_publisher->publishChannel(name, value, unit, ts);
}

void MqttPublishing::PublishAlarm(const QString &name, const QString &text, bool active, const QDateTime &ts)
{
    if (m_publisher)
        m_publisher->publishAlarm(name, text, active, ts);
}

void MqttPublishing::SetReconnectDelays(int minMs, int maxMs)
{
    m_reconnectMinMs = minMs;
    m_reconnectMaxMs = maxMs;
}
