#include "cli/MqttSink.h"

#include "cli/CliCommon.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace
{
constexpr int DrainPollMs = 20;
}

void MqttSink::AddOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("mqtt"),
                      KelvarinCli::tr("Also publish every value to this MQTT broker: "
                                      "mqtt://[user[:password]@]host[:port] or mqtts://..."),
                      KelvarinCli::tr("url")});
    parser.addOption(
        {QStringLiteral("mqtt-line"),
         KelvarinCli::tr("Line name in the MQTT topics (default line1): kelvarin/<line>/<address>/state."),
         KelvarinCli::tr("name"), QStringLiteral("line1")});
}

std::unique_ptr<MqttSink> MqttSink::FromOptions(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("mqtt")))
        return nullptr;
    MqttPublisher::Options options;
    options.brokerUrl = parser.value(QStringLiteral("mqtt"));
    options.line = parser.value(QStringLiteral("mqtt-line"));
    if (!MqttPublisher::parseBrokerUrl(options.brokerUrl))
        ThrowBadArgument(
            KelvarinCli::tr("--mqtt: \"%1\" is no broker URL (mqtt://host[:port] or mqtts://...).")
                .arg(options.brokerUrl));
    if (options.line.isEmpty())
        ThrowBadArgument(KelvarinCli::tr("--mqtt-line: the line name is empty."));
    return std::unique_ptr<MqttSink>(new MqttSink(options));
}

void MqttSink::start()
{
    if (!m_publisher.start())
        throw CliError(ExitCode::Failure, KelvarinCli::tr("MQTT: %1").arg(m_publisher.statusText()));
}

void MqttSink::publish(const Sample &sample, const SampleFormat &format)
{
    if (sample.raw)
        m_publisher.publishValue(sample.address, *sample.raw, format.decimals(), format.unit(), sample.time);
}

void MqttSink::finish()
{
    // Also after a stop by the user: what was read is handed over.
    const QDeadlineTimer deadline(DrainMs);
    QEventLoop loop;
    while ((m_publisher.hasPending() || !m_publisher.isConnected()) && !deadline.hasExpired()) {
        QTimer::singleShot(DrainPollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const bool delivered = !m_publisher.hasPending() && m_publisher.isConnected();
    const QString status = m_publisher.statusText();
    m_publisher.stop();
    if (!delivered)
        throw CliError(ExitCode::Failure,
                       KelvarinCli::tr("MQTT: not every value reached the broker (%1).").arg(status));
}
