// Child program of the MQTT suite: a publisher that is killed, not stopped.
//
//   mqtt_child <broker url> <line>
//
// Connects, publishes raw 1234 (2 decimals, "kg") for address 1, prints
// "connected" and runs until it is killed.

#include "io/MqttPublisher.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mqtt_child <broker url> <line>\n");
        return 2;
    }
    MqttPublisher::Options options;
    options.brokerUrl = QString::fromLocal8Bit(argv[1]);
    options.line = QString::fromLocal8Bit(argv[2]);
    MqttPublisher publisher(options);
    QObject::connect(&publisher, &MqttPublisher::connectedChanged, &publisher, [&publisher](bool connected) {
        if (!connected)
            return;
        publisher.publishValue(1, 1234, 2, QStringLiteral("kg"), QDateTime::currentDateTime());
        std::printf("connected\n");
        std::fflush(stdout);
    });
    if (!publisher.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(publisher.statusText()));
        return 3;
    }
    return app.exec();
}
