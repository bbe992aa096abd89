#pragma once
// --mqtt: every value read also goes to an MQTT broker through the
// MqttPublisher. Values are only queued while the line is worked; at the end
// the tool waits a bounded time for the broker to acknowledge them.

#include "cli/SampleFormat.h"
#include "io/MqttPublisher.h"

#include <memory>

class QCommandLineParser;

class MqttSink
{
public:
    /// How long the end waits for the broker to take what is queued.
    static constexpr int DrainMs = 5000;

    static void AddOptions(QCommandLineParser &parser);
    /// Null without --mqtt; CliError(BadArguments) for a URL that is none.
    static std::unique_ptr<MqttSink> FromOptions(const QCommandLineParser &parser);

    /// Starts connecting; CliError(Failure) when the publisher cannot start.
    void start();
    void publish(const Sample &sample, const SampleFormat &format);
    /// A computed channel (the sum of a watch) on its own topic.
    void publishChannel(const QString &name, double value, const QString &unit, const QDateTime &time)
    {
        m_publisher.publishChannel(name, value, unit, time);
    }
    /// Waits for the broker to acknowledge everything, then stops;
    /// CliError(Failure) when values are left undelivered.
    void finish();

private:
    explicit MqttSink(const MqttPublisher::Options &options) : m_publisher(options) {}
    MqttPublisher m_publisher;
};
