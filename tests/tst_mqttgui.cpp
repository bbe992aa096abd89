// Publishing from the main window: the MQTT dialog driven through its
// controls, the real main window reading the simulator, and a real broker
// with a subscriber that sees what arrives.

#include "MainFixture.h"
#include "MosquittoBroker.h"
#include "app/AppWindows.h"
#include "io/SettingsKeys.h"
#include "settings/MqttPublishing.h"
#include "settings/MqttSettingsUnit.h"
#include "ui_MainUnit.h"
#include "ui_MqttSettingsUnit.h"
#include "watch/WatchUnit.h"

#include <QAction>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QStatusBar>
#include <QTest>

namespace
{
namespace Keys = SettingsKeys;
constexpr int WaitMs = 5000;

/// Opens the dialog through the main window's menu item; `script` drives it while it is shown.
void RunMqttDialog(TfrmMain &main, const std::function<void(Ui::TfrmMqttSettings &)> &script)
{
    SetModalHook([&](QDialog *d) {
        d->show();
        script(*static_cast<TfrmMqttSettings *>(d)->ui());
        if (d->isVisible())
            d->reject();
        return d->result();
    });
    main.findChild<QAction *>(QStringLiteral("mnuMqtt"))->trigger();
    SetModalHook({});
}

void Type(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

QLabel *MqttState(TfrmMain &main)
{
    return main.statusBar()->findChild<QLabel *>(QStringLiteral("sttMqtt"));
}

/// A JSON state payload, or an empty object.
QJsonObject Json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}
} // namespace

class TestMqttGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(MosquittoBroker::program()).isExecutable(), "mosquitto is missing");
    }

    void dialogStoresAndPublishesAndReadingOutlivesTheBroker()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorText()));
        MqttSubscriber subscriber;
        QVERIFY(subscriber.start(broker.port(), "#"));
        MainFixture f;
        f.writeIni("[System Parameters]\r\nDecimal=2\r\nMeasure Unit=N\r\n");
        QVERIFY(f.connect({QStringLiteral("--load"), QStringLiteral("24683")}));
        TfrmMain &m = f.main();
        TfrmMqttSettings dialog(m.mqtt(), f.settings(), &m);
        m.setDialogs({.mqttSettings = &dialog});
        QVERIFY(!MqttState(m)->isVisibleTo(&m)); // publishing is off by default
        const QString caFile = f.settingsDir() + QStringLiteral("/plant-ca.pem");
        f.prompts.openName = caFile;
        const auto fill = [&](Ui::TfrmMqttSettings &ui, const QString &broker) {
            ui.ckbEnabled->click();
            Type(ui.edBroker, broker);
            Type(ui.edLine, QStringLiteral("bench7"));
            Type(ui.edUser, QStringLiteral("op"));
            Type(ui.edPassword, QStringLiteral("s3cret"));
            ui.btnBrowseCaFile->click();
            Type(ui.speRate->editor(), QStringLiteral("50"));
            ui.ckbDiscovery->click();
        };

        // An address that is no broker's is refused, the dialog stays; Cancel keeps all as it was.
        RunMqttDialog(m, [&](Ui::TfrmMqttSettings &ui) {
            fill(ui, QStringLiteral("http://plant"));
            ui.btnOK->click();
            QCOMPARE(f.prompts.errors.size(), 1);
            QVERIFY(ui.edBroker->isVisible());
            ui.btnCancel->click();
        });
        QVERIFY(!f.settings().SectionExists(Keys::SectionMqtt));
        QVERIFY(!m.mqtt().IsEnabled());

        RunMqttDialog(m, [&](Ui::TfrmMqttSettings &ui) {
            fill(ui, broker.url());
            QCOMPARE(ui.edCaFile->text(), caFile);
            ui.btnOK->click();
        });
        const SettingsStore stored(f.iniPath());
        const auto text = [&](QLatin1String key) { return stored.ReadString(Keys::SectionMqtt, key, "-"); };
        QCOMPARE(QStringList({text(Keys::KeyMqttEnabled), text(Keys::KeyMqttBroker), text(Keys::KeyMqttLine),
                              text(Keys::KeyMqttUser), text(Keys::KeyMqttPassword), text(Keys::KeyMqttCaFile),
                              text(Keys::MqttRate.key), text(Keys::KeyMqttDiscovery)}),
                 QStringList({"1", broker.url(), "bench7", "op", "s3cret", caFile, "50", "1"}));
        QVERIFY(QTest::qWaitFor([&] { return m.mqtt().IsConnected(); }, WaitMs));
        QVERIFY(MqttState(m)->isVisibleTo(&m));
        QCOMPARE(MqttState(m)->text(), QStringLiteral("MQTT：已连接"));

        // Live reading: each value goes out as read, with the module's raw value,
        // the window's decimals and unit, and the time it was read.
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        m.btnBeginReadClick();
        const QByteArray topic = "kelvarin/bench7/1/state";
        QVERIFY(QTest::qWaitFor([&] { return subscriber.payloads(topic).size() >= 3; }, WaitMs));
        const qint64 raw = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toLongLong();
        QVERIFY(raw > 0);
        const QByteArray payload = subscriber.payloads(topic).constFirst();
        const QByteArray value =
            QByteArray::number(raw / 100) + '.' + QByteArray::number(raw % 100).rightJustified(2, '0');
        QVERIFY2(payload.startsWith("{\"value\": " + value + ", \"raw\": " + QByteArray::number(raw) +
                                    ", \"unit\": \"N\", \"ts\": \""),
                 payload.constData());
        const QDateTime ts = QDateTime::fromString(Json(payload).value("ts").toString(), Qt::ISODateWithMs);
        QVERIFY(ts >= before && ts <= QDateTime::currentDateTime());
        QVERIFY(!subscriber.payloads("homeassistant/sensor/kelvarin_bench7_1/config").isEmpty());

        // While the dialog is open its status line follows the counters.
        RunMqttDialog(m, [&](Ui::TfrmMqttSettings &ui) {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    const quint64 now = m.mqtt().publisher()->publishedCount();
                    return now > 3 && ui.sttStatus->text().contains(QStringLiteral("已发布 %1").arg(now));
                },
                WaitMs));
            QVERIFY(ui.sttStatus->text().contains(QStringLiteral("已连接")));
        });

        // The broker goes away: reading goes on, the status bar says so.
        broker.stop();
        QVERIFY(
            QTest::qWaitFor([&] { return MqttState(m)->text() == QStringLiteral("MQTT：未连接"); }, WaitMs));
        const qint64 samples = m.SampleCount();
        QVERIFY(QTest::qWaitFor([&] { return m.SampleCount() >= samples + 5; }, WaitMs));
        QCOMPARE(m.state(), TfrmMain::State::Reading);
    }

    void publishesFromStartToEnd()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorText()));
        MqttSubscriber subscriber;
        QVERIFY(subscriber.start(broker.port(), "kelvarin/#"));
        auto f = std::make_unique<MainFixture>();
        f->writeIni("[MQTT]\r\nEnabled=1\r\nBroker=" + broker.url().toUtf8() + "\r\nLine=hall2\r\n");
        f->create();
        QVERIFY(QTest::qWaitFor([&] { return f->main().mqtt().IsConnected(); }, WaitMs));
        const QByteArray availability = "kelvarin/hall2/availability";
        QVERIFY(QTest::qWaitFor(
            [&] { return subscriber.payloads(availability) == QList<QByteArray>{"online"}; }, WaitMs));
        f.reset(); // the program ends
        // (The broker may add its last will, "offline" again, after the clean stop.)
        QVERIFY(QTest::qWaitFor([&] { return subscriber.payloads(availability).constLast() == "offline"; },
                                WaitMs));
    }

    void watchPublishesValuesChannelsAndAlarms()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorText()));
        MqttSubscriber subscriber;
        QVERIFY(subscriber.start(broker.port(), "kelvarin/#"));
        MainFixture f;
        // Module 2's high limit lies below its value: it is in alarm from its first reading.
        f.writeIni("[MQTT]\r\nEnabled=1\r\nBroker=" + broker.url().toUtf8() +
                   "\r\nLine=scale\r\n[Watch]\r\nModule1=1;a;1;kg;1\r\nModule2=2;b;1;kg;1\r\n"
                   "Channel1=sum;1,2;total;kg\r\nLimit.b=;10\r\n");
        QVERIFY(f.connect({QStringLiteral("--modules"), QStringLiteral("2")}));
        QVERIFY(f.sim().ok(QStringLiteral("module 1")) && f.sim().ok(QStringLiteral("load 400")));
        QVERIFY(f.sim().ok(QStringLiteral("module 2")) && f.sim().ok(QStringLiteral("load 900")));
        // The values in kg (one decimal) as the modules send them.
        const double b = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt() / 10.0;
        QVERIFY(f.sim().ok(QStringLiteral("module 1")));
        const double a = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt() / 10.0;
        QVERIFY(QTest::qWaitFor([&] { return f.main().mqtt().IsConnected(); }, WaitMs));
        TfrmWatch watch(f.session(), f.settings());
        PublishWatch(watch, f.main().mqtt());
        watch.btnStartClick();
        QVERIFY(QTest::qWaitFor([&] { return !subscriber.payloads("kelvarin/scale/channel/total/state").isEmpty(); },
                                WaitMs));
        QVERIFY(QTest::qWaitFor([&] { return !subscriber.payloads("kelvarin/scale/2/state").isEmpty(); }, WaitMs));
        QCOMPARE(Json(subscriber.payloads("kelvarin/scale/2/state").constFirst())["value"].toDouble(), b);
        QCOMPARE(Json(subscriber.payloads("kelvarin/scale/channel/total/state").constFirst())["value"].toDouble(),
                 a + b);
        QVERIFY(QTest::qWaitFor([&] { return !subscriber.payloads("kelvarin/scale/alarm/b").isEmpty(); }, WaitMs));
        const QJsonObject alarm = Json(subscriber.payloads("kelvarin/scale/alarm/b").constFirst());
        QCOMPARE(alarm["active"].toBool(), true);
        QCOMPARE(alarm["text"].toString(),
                 QStringLiteral("报警：b = %1kg，高于上限 10.0kg").arg(QString::number(b, 'f', 1)));
        QVERIFY(subscriber.payloads("kelvarin/scale/alarm/a").isEmpty());
        watch.btnStopClick();
    }

    void hostileSectionReadsIntoRange_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("expected"); // enabled broker line rate discovery user-length
        const QByteArray longName(5000, 'x');
        QTest::newRow("empty") << QByteArray() << "0 mqtt://localhost line1 20 0 0";
        QTest::newRow("numbers out of range") << QByteArray("Enabled=7\r\nRate=99999\r\nDiscovery=-1\r\n")
                                              << "1 mqtt://localhost line1 1000 1 0";
        QTest::newRow("no numbers") << QByteArray("Enabled=yes\r\nRate=fast\r\nDiscovery=\r\n")
                                    << "0 mqtt://localhost line1 20 0 0";
        QTest::newRow("rate below, control characters")
            << QByteArray("Rate=-5\r\nLine=a\tbc\r\n") << "0 mqtt://localhost abc 1 0 0";
        QTest::newRow("no broker address")
            << QByteArray("Broker=http://plant:80\r\nLine=   \r\n") << "0 mqtt://localhost line1 20 0 0";
        QTest::newRow("long texts") << QByteArray("Broker= mqtts://plant:8884 \r\nUser=" + longName +
                                                  "\r\nLine=" + longName + "\r\n")
                                    << "0 mqtts://plant:8884 " + QString(Keys::MqttTextLength, u'x') +
                                           " 20 0 1024";
    }

    void hostileSectionReadsIntoRange()
    {
        QFETCH(QByteArray, section);
        QFETCH(QString, expected);
        MainFixture f;
        f.writeIni("[MQTT]\r\n" + section);
        TfrmMain &m = f.create();
        const MqttSettings s = MqttSettings::Read(f.settings());
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                     .arg(int(s.enabled))
                     .arg(s.broker, s.line)
                     .arg(s.rate)
                     .arg(int(s.discovery))
                     .arg(s.user.size()),
                 expected);
        // The dialog shows what is in force.
        TfrmMqttSettings dialog(m.mqtt(), f.settings(), &m);
        m.setDialogs({.mqttSettings = &dialog});
        RunMqttDialog(m, [&](Ui::TfrmMqttSettings &ui) { QCOMPARE(ui.speRate->value(), s.rate); });
    }
};

QTEST_MAIN(TestMqttGui)
#include "tst_mqttgui.moc"
