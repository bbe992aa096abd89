// Cost of the MQTT publisher at the automatic-sending rate of 1,280 values/s
// (one module at 115200 baud), against a local mosquitto broker.
//
// 1. The feed alone: a 10 ms timer that makes the values with their time and
//    throws them away (what the program does anyway), process CPU as a share
//    of one core.
// 2. The same feed into publishValue() with the shipped options (at most 20
//    messages a second per address): process CPU, messages the broker took.
// 3. The same without the rate limit: 1,280 messages a second.
// 4. Latency: a value every 10 ms, no rate limit, a second client
//    (libmosquitto on its own thread) subscribed: time from publishValue() to
//    the subscriber's callback, median and worst.
//
// Usage: bench_mqtt [seconds per spell]   (default 20)

#include "BenchClock.h"
#include "MosquittoBroker.h"
#include "io/MqttPublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
constexpr int RateHz = 1280;
constexpr int FeedTickMs = 10;
constexpr int DefaultSeconds = 20;
constexpr int LatencyValues = 1000;
constexpr int LatencyTickMs = 10;
constexpr int DrainMs = 500;
constexpr int ConnectMs = 3000;
constexpr double TargetShare = 0.01;
constexpr int Address = 1;
constexpr int Decimals = 1;
constexpr qint64 LoadBase = 24680;
constexpr qint64 LoadSpread = 40;

qint64 SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// Calls `sink` RateHz times a second, in 10 ms batches, for `seconds`;
/// returns the process CPU share of one core.
double Feed(int seconds, const std::function<void(qint64 raw)> &sink)
{
    QElapsedTimer clock;
    qint64 sent = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 due = clock.elapsed() * RateHz / 1000;
        for (; sent < due; ++sent)
            sink(LoadBase + sent % LoadSpread);
    });
    const double cpu0 = ProcessCpuSeconds();
    clock.start();
    tick.start(FeedTickMs);
    RunFor(seconds * 1000);
    tick.stop();
    return (ProcessCpuSeconds() - cpu0) / (double(clock.elapsed()) / 1000);
}

bool WaitConnected(MqttPublisher &publisher)
{
    QElapsedTimer waited;
    waited.start();
    while (!publisher.isConnected() && waited.elapsed() < ConnectMs)
        RunFor(10);
    return publisher.isConnected();
}

int Spell(const MosquittoBroker &broker, const char *title, int rateLimit, int seconds, double feedShare)
{
    MqttPublisher::Options options;
    options.brokerUrl = broker.url();
    options.maxRatePerTopic = rateLimit;
    MqttPublisher publisher(options);
    if (!publisher.start() || !WaitConnected(publisher)) {
        std::printf("%s: not connected: %s\n", title, qPrintable(publisher.statusText()));
        return 1;
    }
    const QString unit = QStringLiteral("kg");
    const double share = Feed(seconds, [&](qint64 raw) {
        publisher.publishValue(Address, raw, Decimals, unit, QDateTime::currentDateTime());
    });
    RunFor(DrainMs);
    std::printf("%s: %.2f %% of one core (%.2f %% above the feed alone; goal under %.0f %%), "
                "%.0f messages/s taken by the broker, %llu throttled, %llu dropped\n",
                title, share * 100, (share - feedShare) * 100, TargetShare * 100,
                double(publisher.publishedCount()) / seconds, publisher.throttledCount(),
                publisher.droppedCount());
    return 0;
}

int Latency(const MosquittoBroker &broker)
{
    MqttSubscriber subscriber;
    if (!subscriber.start(broker.port(), "kelvarin/line1/2/state")) {
        std::printf("latency: the subscriber did not connect\n");
        return 1;
    }
    MqttPublisher::Options options;
    options.brokerUrl = broker.url();
    options.maxRatePerTopic = 0;
    MqttPublisher publisher(options);
    if (!publisher.start() || !WaitConnected(publisher))
        return 1;
    std::vector<qint64> sentNs(LatencyValues);
    int next = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (next == LatencyValues)
            return;
        sentNs[next] = SteadyNs();
        publisher.publishValue(2, next, 0, QStringLiteral("kg"), QDateTime::currentDateTime());
        ++next;
    });
    tick.start(LatencyTickMs);
    RunFor(LatencyValues * LatencyTickMs + DrainMs);
    std::vector<double> microseconds;
    for (const ReceivedMessage &message : subscriber.messages()) {
        const int raw =
            QJsonDocument::fromJson(message.payload).object().value(QLatin1String("raw")).toInt(-1);
        if (raw >= 0 && raw < next)
            microseconds.push_back(double(message.receivedNs - sentNs[raw]) / 1000);
    }
    if (microseconds.empty()) {
        std::printf("latency: nothing received\n");
        return 1;
    }
    std::printf(
        "latency publishValue -> subscriber: median %.0f us, worst %.0f us (%zu of %d values received)\n",
        Median(microseconds), Max(microseconds), microseconds.size(), next);
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : DefaultSeconds;
    MosquittoBroker broker;
    if (!broker.start()) {
        std::printf("%s\n", qPrintable(broker.errorText()));
        return 1;
    }
    qint64 checksum = 0;
    const double feedShare = Feed(seconds, [&](qint64 raw) {
        checksum += raw + QDateTime::currentDateTime().time().msec(); // a value and its time
    });
    std::printf("%d values/s for %d s; feed alone: %.2f %% of one core (checksum %lld)\n", RateHz, seconds,
                feedShare * 100, checksum);
    int failures = Spell(broker, "shipped options (20/s per address)", 20, seconds, feedShare);
    failures += Spell(broker, "no rate limit (1,280 messages/s)", 0, seconds, feedShare);
    failures += Latency(broker);
    return failures == 0 ? 0 : 1;
}
