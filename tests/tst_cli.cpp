// The command-line tool as a script runs it: the real executable against the
// module simulator, checked by its output, its exit status and the frames
// that reached the modules.

#include "MosquittoBroker.h"
#include "TxSim.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>

namespace
{
constexpr int RunTimeoutMs = 15000;

struct Result {
    int code = -1;
    QStringList lines; ///< standard output, one entry a line
    QString error;     ///< standard error
};

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(text);
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private:
    TxSim m_sim;

    /// Starts the tool; `environment` entries are added to a plain English one.
    void Start(QProcess &process, const QStringList &arguments, const QStringList &environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        for (const QString &entry : environment)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral(KELVARIN_CLI_PATH), arguments);
        QVERIFY(process.waitForStarted());
    }
    Result Finish(QProcess &process)
    {
        // Pump events meanwhile: the simulator's log is read on them.
        m_sim.waitUntil([&] { return process.state() == QProcess::NotRunning; }, RunTimeoutMs);
        Result result;
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        result.error = QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    Result Run(QStringList arguments, const QStringList &environment = {})
    {
        QProcess process;
        Start(process, arguments.replaceInStrings(QStringLiteral("PORT"), m_sim.portName()), environment);
        return Finish(process);
    }
    /// Waits a little for frames still on their way to the simulator's log.
    QList<QByteArray> Received()
    {
        m_sim.command(QStringLiteral("modules"));
        return m_sim.receivedFrames();
    }
    int SimValue(int code) { return m_sim.command(QStringLiteral("get %1").arg(code)).mid(3).toInt(); }

private slots:
    void init()
    {
        QVERIFY(m_sim.start({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("--address"),
                             QStringLiteral("7"), QStringLiteral("--load"), QStringLiteral("2468")}));
        QVERIFY(m_sim.ok(QStringLiteral("module 1")));
    }
    void cleanup() { m_sim.stop(); }

    void scanFindsTheModules()
    {
        const Result r = Run({"scan", "--port", "PORT", "--to", "10", "--timeout", "50", "--format", "csv"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines.size(), 3); // header, modules 1 and 7
        QCOMPARE(r.lines[1].section(QLatin1Char(','), 2, 3), QStringLiteral("1,%1").arg(SimValue(1)));
        QCOMPARE(r.lines[2].section(QLatin1Char(','), 2, 2), QStringLiteral("7"));
        QVERIFY(m_sim.ok(QStringLiteral("fault silent on")));
        QCOMPARE(Run({"scan", "--port", "PORT", "--to", "3", "--timeout", "20"}).code, 4);
    }

    void readEachFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("lines");
        QTest::newRow("text") << "text" << 3;
        QTest::newRow("csv") << "csv" << 4;
        QTest::newRow("json") << "json" << 3;
    }
    void readEachFormat()
    {
        QFETCH(QString, format);
        QFETCH(int, lines);
        const Result r = Run({"read", "--port", "PORT", "--address", "1", "--count", "3", "--format", format,
                              "--decimals", "2", "--unit", "N"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines.size(), lines);
        // 2468 with two decimals; every request the read-value query of address 1.
        const QString last = r.lines.last();
        if (format == QLatin1String("json")) {
            const QJsonObject o = QJsonDocument::fromJson(last.toUtf8()).object();
            QCOMPARE(o.value(QLatin1String("raw")).toInt(), 2468);
            QCOMPARE(o.value(QLatin1String("value")).toDouble(), 24.68);
            QCOMPARE(o.value(QLatin1String("unit")).toString(), QStringLiteral("N"));
        } else if (format == QLatin1String("csv")) {
            QCOMPARE(r.lines[0], QStringLiteral("time,epoch_ms,address,raw,value,unit"));
            QCOMPARE(last.section(QLatin1Char(','), 2), QStringLiteral("1,2468,24.68,N"));
        } else {
            QCOMPARE(last.section(QStringLiteral("  "), 1), QStringLiteral("1  2468  24.68 N"));
        }
        QCOMPARE(Received(), QList<QByteArray>(3, Hex("3F01013F23")));
    }

    void param_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("frame"); // empty: nothing may be sent
        QTest::newRow("get ZerO") << QStringList{"get", "--code", "ZerO", "--access-code", "59"} << 0
                                  << "1000" << QByteArray::fromHex("3F01033D23");
        QTest::newRow("set -1, factory code")
            << QStringList{"set", "--code", "3", "--value", "-1", "--access-code", "284163"} << 0 << ""
            << Hex("3D0103FFFFFFFF3F23");
        QTest::newRow("set hex") << QStringList{"set",  "--code",        "PVP1", "--value",
                                                "0x1F", "--access-code", "59"}
                                 << 0 << "" << Hex("3D010E0000001F2D23");
        QTest::newRow("no code, no terminal") << QStringList{"get", "--code", "3"} << 6 << "" << QByteArray();
        QTest::newRow("leading zero")
            << QStringList{"get", "--code", "3", "--access-code", "059"} << 6 << "" << QByteArray();
        QTest::newRow("special level")
            << QStringList{"set", "--code", "3", "--value", "1", "--access-code", "705"} << 6 << ""
            << QByteArray();
    }
    void param()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, output);
        QFETCH(QByteArray, frame);
        QVERIFY(m_sim.ok(QStringLiteral("param 3 1000")));
        const Result r =
            Run(QStringList{"param"} + arguments + QStringList{"--port", "PORT", "--address", "1"});
        QCOMPARE(r.code, code);
        QCOMPARE(r.lines.join(QLatin1Char('\n')), output);
        QCOMPARE(Received(), frame.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{frame});
        if (arguments[0] == QLatin1String("set") && code == 0)
            QCOMPARE(SimValue(frame[2]), arguments[4] == QLatin1String("-1") ? -1 : 31);
    }

    void badArgumentsSendNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::newRow("address 300") << QStringList{"read", "--port", "PORT", "--address", "300"} << 2;
        QTest::newRow("no port") << QStringList{"read", "--address", "1"} << 2;
        QTest::newRow("missing port")
            << QStringList{"read", "--port", "/dev/no-such-port", "--address", "1"} << 2;
        QTest::newRow("count abc") << QStringList{"read", "--port", "PORT", "-a", "1", "--count", "abc"} << 2;
        QTest::newRow("format xml") << QStringList{"read", "--port", "PORT", "-a", "1", "--format", "xml"}
                                    << 2;
        QTest::newRow("count and duration")
            << QStringList{"read", "--port", "PORT", "-a", "1", "--count", "1", "--duration", "1"} << 2;
        QTest::newRow("bad broker") << QStringList{"read", "--port", "PORT", "-a", "1", "--mqtt", "http://x"}
                                    << 2;
        QTest::newRow("value abc") << QStringList{"param",   "set", "--port",        "PORT",
                                                  "-a",      "1",   "--code",        "3",
                                                  "--value", "abc", "--access-code", "59"}
                                   << 2;
        QTest::newRow("code 23") << QStringList{"param", "get", "--port", "PORT", "-a", "1", "--code", "23"}
                                 << 2;
        QTest::newRow("one point") << QStringList{"calibrate", "--port",   "PORT", "-a",
                                                  "1",         "--points", "5:10"}
                                   << 2;
        QTest::newRow("scan 5..4") << QStringList{"scan", "--port", "PORT", "--from", "5", "--to", "4"} << 2;
        QTest::newRow("unknown") << QStringList{"weigh", "--port", "PORT"} << 2;
    }
    void badArgumentsSendNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        const Result r = Run(arguments);
        QCOMPARE(r.code, code);
        QVERIFY(r.lines.isEmpty());
        QVERIFY2(r.error.startsWith(QLatin1String("kelvarin-cli: ")), qPrintable(r.error));
        QVERIFY(Received().isEmpty());
        // The same refusal in Chinese under a Chinese locale.
        const Result zh = Run(arguments, {QStringLiteral("LC_ALL=zh_CN.UTF-8")});
        QCOMPARE(zh.code, code);
        QVERIFY2(zh.error != r.error &&
                     zh.error.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))),
                 qPrintable(zh.error));
    }

    void portThatCannotBeOpened()
    {
        QTemporaryFile notAPort;
        QVERIFY(notAPort.open());
        const Result r = Run({"read", "--port", notAPort.fileName(), "--address", "1", "--count", "1"});
        QCOMPARE(r.code, 3);
        QVERIFY(r.error.contains(notAPort.fileName()));
    }

    void silentModule_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("frames");
        QTest::newRow("read") << QStringList{"read", "--count", "1"} << 4 << 1;
        QTest::newRow("set") << QStringList{"param",   "set", "--code",        "3",
                                            "--value", "5",   "--access-code", "59"}
                             << 5 << 1;
        QTest::newRow("zero: no write") << QStringList{"zero"} << 4 << 1;
    }
    void silentModule()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(int, frames);
        QVERIFY(m_sim.ok(QStringLiteral("fault silent on")));
        const Result r = Run(arguments + QStringList{"--port", "PORT", "--address", "1", "--timeout", "150"});
        QCOMPARE(r.code, code);
        QCOMPARE(Received().size(), frames);
    }

    void interruptedReadEndsCleanly()
    {
        QProcess process;
        Start(process, {"read", "--port", m_sim.portName(), "-a", "1", "--duration", "60", "--interval", "20",
                        "--format", "csv"});
        QVERIFY(m_sim.waitForReceivedFrames(5));
        ::kill(pid_t(process.processId()), SIGINT);
        const Result r = Finish(process);
        QCOMPARE(r.code, 0);
        QVERIFY(r.lines.size() >= 5);
        for (const QString &line : r.lines.mid(1)) // whole rows only
            QVERIFY2(line.endsWith(QLatin1String(",1,2468,246.8,kg")), qPrintable(line));
    }

    void watchWritesARowARound()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("watch.csv"));
        const auto rows = [&csv] {
            QFile file(csv);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))
                                                  : QStringList();
        };
        const QString value1 = QString::number(SimValue(1) / 10.0, 'f', 1);
        QVERIFY(m_sim.ok(QStringLiteral("module 7")) && m_sim.ok(QStringLiteral("load 1000")));
        const QString value7 = QString::number(SimValue(1) / 10.0, 'f', 1);
        const QString total = QString::number((SimValue(1) + [&] {
            m_sim.ok(QStringLiteral("module 1"));
            return SimValue(1);
        }()) / 10.0, 'f', 1);
        // Two modules and their sum, one whole row a round.
        Result r = Run({"watch", "--port", "PORT", "--address", "1,7", "--sum", "--csv", csv, "--rounds", "3"});
        QCOMPARE(r.code, 0);
        QStringList lines = rows();
        QCOMPARE(lines.size(), 5); // header, three rows, nothing after the last line break
        QCOMPARE(lines[0], QStringLiteral("time,epoch_ms,1 (kg),7 (kg),sum (kg)"));
        for (const QString &line : lines.mid(1, 3)) {
            const QStringList cells = line.split(QLatin1Char(','));
            QCOMPARE(cells.mid(2), (QStringList{value1, value7, total}));
            const QDateTime time = QDateTime::fromString(cells[0], QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            QCOMPARE(time.toMSecsSinceEpoch(), cells[1].toLongLong());
        }
        // A module that is not there: its cells and the sum stay empty.
        r = Run({"watch", "--port", "PORT", "-a", "1,9", "--sum", "--csv", csv, "--rounds", "2", "--timeout", "50"});
        QCOMPARE(r.code, 0);
        lines = rows();
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[1].endsWith(QStringLiteral(",%1,,").arg(value1)), qPrintable(lines[1]));
        // Until stopped: Ctrl+C leaves whole rows.
        QProcess process;
        Start(process, {"watch", "--port", m_sim.portName(), "-a", "1,7", "--csv", csv, "--interval", "20"});
        QVERIFY(m_sim.waitUntil([&] { return rows().size() > 4; }, RunTimeoutMs));
        ::kill(pid_t(process.processId()), SIGINT);
        QCOMPARE(Finish(process).code, 0);
        lines = rows();
        QCOMPARE(lines.constLast(), QString());
        for (const QString &line : lines.mid(1, lines.size() - 2))
            QCOMPARE(line.count(QLatin1Char(',')), 3);
    }

    void zeroAddsTheMeasuredValue()
    {
        // Zero value 1000, 250 measured unloaded: 1250 is written.
        QVERIFY(m_sim.ok(QStringLiteral("param 3 1000")));
        QVERIFY(m_sim.ok(QStringLiteral("load 1250")));
        QCOMPARE(SimValue(1), 250);
        const Result r = Run({"zero", "--port", "PORT", "--address", "1", "--wait", "10"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines, QStringList{"1250"});
        QCOMPARE(Received(),
                 (QList<QByteArray>{Hex("3F01033D23"), Hex("3F01013F23"), Hex("3D0103000004E2D923")}));
    }

    void calibrateWritesTheTable()
    {
        const Result r =
            Run({"calibrate", "--port", "PORT", "-a", "1", "--points", "100:0,5000:1000,9000:2000"});
        QCOMPARE(r.code, 0);
        // ZerO 0, then AVPn and PVPn in turn, PointCount 3, the store.
        QCOMPARE(Received(), (QList<QByteArray>{Hex("3D0103000000003F23"), Hex("3D0105000000645D23"),
                                                Hex("3D010E000000003223"), Hex("3D010600001388A123"),
                                                Hex("3D010F000003E8D823"), Hex("3D0107000023283023"),
                                                Hex("3D0110000007D0FB23"), Hex("3D0104000000033B23"),
                                                Hex("3F01182623")}));
    }

    void calibrationStopsAtAnUnansweredWrite()
    {
        QVERIFY(m_sim.ok(QStringLiteral("fault mute 15 data")));
        const Result r =
            Run({"calibrate", "--port", "PORT", "-a", "1", "--timeout", "150", "--points", "1:2,3:4,5:6"});
        QCOMPARE(r.code, 5);
        QCOMPARE(Received().size(), 5); // ZerO, AVP1, PVP1, AVP2, PVP2: no PointCount, no store
    }

    void monitorOnlyListens()
    {
        QProcess process;
        Start(process, {"monitor", "--port", m_sim.portName(), "--duration", "1"});
        QTest::qWait(300);
        QVERIFY(m_sim.ok(QStringLiteral("burst 2")));
        const Result r = Finish(process);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines.size(), 2);
        QVERIFY2(r.lines[0].contains(QLatin1String("\tRX\t1\tCmdReadValue(1)\t")), qPrintable(r.lines[0]));
        QVERIFY(Received().isEmpty());
    }

    void readPublishesToTheBroker()
    {
        MosquittoBroker broker;
        if (!broker.start())
            QSKIP(qPrintable(broker.errorText()));
        MqttSubscriber subscriber;
        QVERIFY(subscriber.start(broker.port(), "kelvarin/#"));
        const Result r = Run({"read", "--port", "PORT", "-a", "7", "--count", "3", "--mqtt", broker.url()});
        QCOMPARE(r.code, 0);
        QTRY_COMPARE(subscriber.payloads("kelvarin/line1/7/state").size(), 3);
        const QJsonObject o =
            QJsonDocument::fromJson(subscriber.payloads("kelvarin/line1/7/state").last()).object();
        QCOMPARE(o.value(QLatin1String("value")).toDouble(), 246.8);
        QCOMPARE(o.value(QLatin1String("raw")).toInt(), 2468);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
