// The watch of several modules on one line, device level: polling rounds
// against the simulator, late and lost modules, statistics, computed
// channels, limit alarms and the [Watch] section of the settings file.
#include "TxSim.h"
#include "device/BusWatch.h"
#include "device/ComputedChannel.h"
#include "device/LimitAlarm.h"
#include "device/ModuleSession.h"
#include "device/WatchConfig.h"
#include "device/WatchStatistics.h"
#include "io/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

namespace
{
constexpr int RoundsMs = 20000;

QByteArray Query(int address)
{
    return DeviceLink::toBytes(BuildQueryFrame(DeviceAddress(address), CmdReadValue));
}

QList<WatchModule> Modules(const QList<int> &addresses)
{
    QList<WatchModule> modules;
    for (const int a : addresses)
        modules << WatchModule{DeviceAddress(a), QStringLiteral("m%1").arg(a), 1, QStringLiteral("kg"), true};
    return modules;
}

/// The simulator with modules 1..count, module A at load A * 1000 (its
/// measured value, as the default calibration is the identity), and a
/// watch over them on an open session.
struct Line {
    TxSim sim;
    ModuleSession session{300};
    BusWatch watch{session.link()};
    QList<std::pair<int, std::int32_t>> values; ///< (index, raw) in order
    QList<std::pair<int, WatchState>> states;

    bool open(int count, const QStringList &extra = {})
    {
        if (!sim.start(QStringList{QStringLiteral("--modules"), QString::number(count)} + extra))
            return false;
        for (int a = 1; a <= count; ++a)
            if (!sim.ok(QStringLiteral("module %1").arg(a)) ||
                !sim.ok(QStringLiteral("load %1").arg(a * 1000)))
                return false;
        session.OpenPort(sim.portName());
        QObject::connect(&watch, &BusWatch::valueRead, [this](int i, std::int32_t raw) {
            values << std::pair{i, raw};
        });
        QObject::connect(&watch, &BusWatch::stateChanged, [this](int i, WatchState s) {
            states << std::pair{i, s};
        });
        return true;
    }
    /// Starts the watch and stops it at the end of the `rounds`-th round from now.
    bool runRounds(quint64 rounds)
    {
        const quint64 until = watch.rounds() + rounds;
        QObject guard;
        QObject::connect(&watch, &BusWatch::roundCompleted, &guard, [&](quint64 round) {
            if (round >= until)
                watch.stop();
        });
        return watch.start() && QTest::qWaitFor([&] { return !watch.isRunning(); }, RoundsMs);
    }
    QList<WatchState> statesOf(int index) const
    {
        QList<WatchState> list;
        for (const auto &[i, s] : states)
            if (i == index)
                list << s;
        return list;
    }
};

StatisticsSummary Summary(qsizetype count, double min, double max, double mean, double stddev)
{
    return StatisticsSummary{count, min, max, mean, stddev};
}

void CompareSummary(const StatisticsSummary &actual, const StatisticsSummary &expected)
{
    QCOMPARE(actual.count, expected.count);
    QCOMPARE(actual.min, expected.min);
    QCOMPARE(actual.max, expected.max);
    QVERIFY2(std::abs(actual.mean - expected.mean) <= 1e-9 * std::max(1.0, std::abs(expected.mean)),
             qPrintable(QString::number(actual.mean, 'g', 17)));
    QVERIFY2(std::abs(actual.stddev - expected.stddev) <= 1e-9 * std::max(1.0, expected.stddev),
             qPrintable(QString::number(actual.stddev, 'g', 17)));
}

WatchModuleStatus Module(WatchState state, double value)
{
    WatchModuleStatus status;
    status.state = state;
    status.hasValue = state != WatchState::Waiting;
    status.value = value;
    return status;
}
} // namespace

class TestBusWatch : public QObject
{
    Q_OBJECT
private slots:
    void pollsRoundTheListAndGivesEachModuleItsValue()
    {
        Line line;
        QVERIFY(line.open(4));
        // Polled in list order, not address order.
        QList<WatchModule> modules = Modules({3, 1, 4, 2});
        modules[2].decimals = 2;
        line.watch.setModules(modules);
        line.sim.clearLog();
        QVERIFY(line.runRounds(3));

        const QList<QByteArray> round{Query(3), Query(1), Query(4), Query(2)};
        QVERIFY(line.sim.waitForReceivedFrames(12));
        QCOMPARE(line.sim.receivedFrames(), round + round + round);
        QCOMPARE(line.values.size(), 12);
        for (qsizetype k = 0; k < line.values.size(); ++k) {
            const auto [index, raw] = line.values[k];
            QCOMPARE(index, int(k % 4));
            QCOMPARE(raw, modules[index].address * 1000);
        }
        QCOMPARE(line.watch.status(2).value, 40.0); // 4000 at two decimals
        QCOMPARE(line.watch.status(0).value, 300.0);
        QCOMPARE(line.watch.status(1).answers, quint64(3));
        QCOMPARE(line.watch.status(0).timeouts, quint64(0));
        QCOMPARE(line.watch.statistics(3).window().mean, 200.0);
    }

    void silentModuleIsLateThenLostThenBack()
    {
        Line line;
        QVERIFY(line.open(3));
        line.watch.setModules(Modules({1, 2, 3}));
        line.watch.setTimeoutMs(40);
        line.watch.setLostAfter(3);
        line.watch.setLostRetry(4);
        QVERIFY(line.sim.ok("module 2") && line.sim.ok("fault silent on"));
        line.sim.clearLog();
        QVERIFY(line.runRounds(11));

        // Asked in rounds 1..3 (missed: late, late, lost), then every 4th: 7, 11.
        QCOMPARE(line.statesOf(1), (QList<WatchState>{WatchState::Late, WatchState::Lost}));
        QVERIFY(line.sim.waitForReceivedFrames(27));
        const QList<QByteArray> asked = line.sim.receivedFrames();
        QCOMPARE(asked.count(Query(2)), 5);
        QCOMPARE(asked.count(Query(1)), 11);
        QCOMPARE(line.watch.status(1).timeouts, quint64(5));
        QCOMPARE(line.watch.status(1).answers, quint64(0));
        // The others never missed a poll for it.
        QCOMPARE(line.statesOf(0), QList<WatchState>{WatchState::Ok});
        QCOMPARE(line.statesOf(2), QList<WatchState>{WatchState::Ok});
        QCOMPARE(line.watch.status(2).answers, quint64(11));

        // Back: answers at its next retry round, and is polled every round again.
        QVERIFY(line.sim.ok("fault silent off"));
        line.states.clear();
        QVERIFY(line.watch.start());
        QVERIFY(QTest::qWaitFor([&] { return line.watch.status(1).state == WatchState::Ok; }, RoundsMs));
        QCOMPARE(line.statesOf(1), QList<WatchState>{WatchState::Ok});
        line.watch.stop();
        line.sim.clearLog();
        QVERIFY(line.runRounds(3));
        QVERIFY(line.sim.waitForReceivedFrames(9));
        QCOMPARE(line.sim.receivedFrames().count(Query(2)), 3);
        QCOMPARE(line.watch.status(1).raw, 2000);
    }

    void lateAnswersAreNeverGivenToAnotherModule()
    {
        // Module 2 answers within its time-out, module 3 after it (while 4 is
        // asked), module 4 a little late: each value must stay with its module.
        Line line;
        QVERIFY(line.open(4));
        for (const auto &[address, lateMs] : std::map<int, int>{{2, 25}, {3, 90}, {4, 5}})
            QVERIFY(line.sim.ok(QStringLiteral("module %1").arg(address)) &&
                    line.sim.ok(QStringLiteral("fault late %1").arg(lateMs)));
        line.watch.setModules(Modules({1, 2, 3, 4}));
        line.watch.setTimeoutMs(60);
        line.watch.setLostRetry(1); // module 3 asked every round all the same
        QVERIFY(line.runRounds(8));
        QCOMPARE(line.values.size(), 24);
        for (const auto &[index, raw] : line.values)
            QCOMPARE(raw, (index + 1) * 1000);
        QCOMPARE(line.watch.status(2).answers, quint64(0));
        QCOMPARE(line.watch.status(2).timeouts, quint64(8));
        QCOMPARE(line.watch.status(3).answers, quint64(8));
        QCOMPARE(line.watch.status(1).answers, quint64(8));
    }

    void statistics()
    {
        // Samples a second apart: 2 4 4 4 5 5 7 9 (mean 5, sum of squares 32).
        WatchStatistics stats;
        stats.setWindowMs(3000);
        const double values[] = {2, 4, 4, 4, 5, 5, 7, 9};
        for (int i = 0; i < 8; ++i)
            stats.add(i * 1000, values[i]);
        // The last 3 s up to t = 7 s: 5, 7, 9.
        CompareSummary(stats.window(), Summary(3, 5, 9, 7, 2));
        CompareSummary(stats.range(0, 7000), Summary(8, 2, 9, 5, std::sqrt(32.0 / 7)));
        CompareSummary(stats.range(1000, 3000), Summary(3, 4, 4, 4, 0));
        QCOMPARE(stats.range(3500, 3900).count, 0);
        // A wider window is taken from what is held; silence empties it.
        stats.setWindowMs(100000);
        CompareSummary(stats.window(), Summary(8, 2, 9, 5, std::sqrt(32.0 / 7)));
        stats.setWindowMs(2500);
        stats.advanceTo(9000);
        CompareSummary(stats.window(), Summary(1, 9, 9, 9, 0));

        // Bounded: a ring of 4 keeps the newest 4.
        WatchStatistics small(4);
        for (int i = 0; i < 8; ++i)
            small.add(i, values[i]);
        CompareSummary(small.range(0, 100), Summary(4, 5, 9, 6.5, std::sqrt(11.0 / 3)));
        CompareSummary(small.window(), Summary(4, 5, 9, 6.5, std::sqrt(11.0 / 3)));

        // Stable far from zero over a long slide: 1e9 + (0, 1, 2, 0, 1, 2, ...),
        // a window of 3000 samples has mean 1e9 + 1 and variance 2000 / 2999.
        WatchStatistics far;
        far.setWindowMs(3000);
        for (int i = 0; i < 200000; ++i)
            far.add(i, 1e9 + i % 3);
        CompareSummary(far.window(), Summary(3000, 1e9, 1e9 + 2, 1e9 + 1, std::sqrt(2000.0 / 2999)));
    }

    void computedChannels_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QList<int>>("members");
        QTest::addColumn<QList<int>>("states"); // of modules 0..3, WatchState
        QTest::addColumn<double>("expected");   // NaN: stale
        const QList<int> allOk(4, int(WatchState::Ok));
        const auto kind = [](ComputedChannel::Kind k) { return int(k); };
        // Module values 10.5, 20, -3, 7.25.
        QTest::newRow("sum") << kind(ComputedChannel::Kind::Sum) << QList<int>{0, 1, 2, 3} << allOk << 34.75;
        QTest::newRow("mean") << kind(ComputedChannel::Kind::Mean) << QList<int>{0, 1, 2} << allOk
                              << 27.5 / 3;
        QTest::newRow("difference") << kind(ComputedChannel::Kind::Difference) << QList<int>{2, 1} << allOk
                                    << -23.0;
        QTest::newRow("other module late")
            << kind(ComputedChannel::Kind::Sum) << QList<int>{0, 1} << QList<int>{1, 1, 2, 3} << 30.5;
        QTest::newRow("member late") << kind(ComputedChannel::Kind::Sum) << QList<int>{0, 1}
                                     << QList<int>{1, 2, 1, 1} << qQNaN();
        QTest::newRow("member lost") << kind(ComputedChannel::Kind::Mean) << QList<int>{0, 3}
                                     << QList<int>{1, 1, 1, 3} << qQNaN();
        QTest::newRow("member never answered") << kind(ComputedChannel::Kind::Difference) << QList<int>{0, 1}
                                               << QList<int>{0, 1, 1, 1} << qQNaN();
        QTest::newRow("no such module")
            << kind(ComputedChannel::Kind::Sum) << QList<int>{0, 7} << allOk << qQNaN();
    }
    void computedChannels()
    {
        QFETCH(int, kind);
        QFETCH(QList<int>, members);
        QFETCH(QList<int>, states);
        QFETCH(double, expected);
        const double values[] = {10.5, 20, -3, 7.25};
        std::vector<WatchModuleStatus> modules;
        for (int i = 0; i < 4; ++i)
            modules.push_back(Module(WatchState(states[i]), values[i]));
        ComputedChannel channel(ComputedChannel::Kind(kind), members, QStringLiteral("c"));
        // A first round with every member fresh gives it a value to keep.
        std::vector<WatchModuleStatus> fresh = modules;
        for (WatchModuleStatus &m : fresh)
            m = Module(WatchState::Ok, 1);
        const bool valid = members.constLast() < 4;
        QCOMPARE(channel.update(fresh, 1000).has_value(), valid);
        const std::optional<double> value = channel.update(modules, 2000);
        QCOMPARE(channel.isStale(), std::isnan(expected));
        QCOMPARE(value.has_value(), !std::isnan(expected));
        if (value) {
            QCOMPARE(*value, expected);
            QCOMPARE(channel.statistics().range(2000, 2000).mean, expected);
        } else if (valid) {
            const std::vector<double> ones(std::size_t(members.size()), 1.0);
            QCOMPARE(channel.value(), ComputedChannel::Compute(ComputedChannel::Kind(kind), ones).value());
            QCOMPARE(channel.statistics().size(), 1); // nothing from stale values
        }
    }

    void alarmHoldsUntilAcknowledged()
    {
        LimitAlarm alarm;
        alarm.setLimits(QStringLiteral("总重"), {100.0, 10.0}); // given the wrong way round
        alarm.setLimits(QStringLiteral("左前"), {std::nullopt, 50.0});
        QVERIFY(!alarm.check(QStringLiteral("总重"), 50, 1));
        QVERIFY(alarm.check(QStringLiteral("总重"), 120.5, 2));
        QVERIFY(!alarm.check(QStringLiteral("总重"), 130, 3)); // the same alarm goes on
        QVERIFY(!alarm.check(QStringLiteral("总重"), 60, 4));
        QCOMPARE(alarm.state(QStringLiteral("总重")), LimitAlarm::State::Held); // nobody saw it
        QVERIFY(alarm.check(QStringLiteral("总重"), 5, 5));                     // the other side: a new one
        alarm.acknowledge(QStringLiteral("总重"));
        QCOMPARE(alarm.state(QStringLiteral("总重")), LimitAlarm::State::Acknowledged);
        QVERIFY(!alarm.check(QStringLiteral("总重"), 60, 6));
        QCOMPARE(alarm.state(QStringLiteral("总重")), LimitAlarm::State::Normal);
        QVERIFY(!alarm.check(QStringLiteral("左前"), -1e9, 7)); // no low limit
        QVERIFY(alarm.check(QStringLiteral("左前"), 50.25, 8));
        QVERIFY(!alarm.check(QStringLiteral("other"), 1e9, 9)); // no limits at all
        alarm.acknowledgeAll();
        QVERIFY(alarm.check(QStringLiteral("左前"), 10, 10) == false &&
                !alarm.inAlarm(QStringLiteral("左前")));

        QCOMPARE(alarm.records().size(), size_t(3));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("alarms.csv"));
        QString error;
        QVERIFY2(alarm.SaveCsv(path, error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // header, three alarms, nothing after the last line end
        QVERIFY(lines[0].startsWith("\xEF\xBB\xBF"
                                    "time,epoch_ms,channel"));
        QVERIFY(lines[1].endsWith(",2,总重,120.5,high,100\r"));
        QVERIFY(lines[2].endsWith(",5,总重,5,low,10\r"));
        QVERIFY(lines[3].endsWith(",8,左前,50.25,high,50\r"));
        QVERIFY(!alarm.SaveCsv(dir.filePath(QStringLiteral("missing/alarms.csv")), error) &&
                !error.isEmpty());
    }

    void configRoundTripAndHostileSection()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.ini"));
        {
            SettingsStore empty(path);
            QCOMPARE(WatchConfig::Read(empty), WatchConfig{}); // older files: an empty watch
        }
        WatchConfig config;
        config.modules = {{3, QStringLiteral("左前"), 1, QStringLiteral("kg"), true},
                          {4, QStringLiteral("右前"), 2, QStringLiteral("kg"), false},
                          {9, QStringLiteral("后"), 0, QStringLiteral("t"), true}};
        config.channels = {
            {ComputedChannel::Kind::Sum, {0, 1, 2}, QStringLiteral("总重"), QStringLiteral("kg")},
            {ComputedChannel::Kind::Difference, {1, 0}, QStringLiteral("偏载"), {}}};
        // Module limits first, then those of the computed channels.
        config.limits = {{QStringLiteral("左前"), {std::nullopt, 900.0}},
                         {QStringLiteral("总重"), {0.0, 20000.5}}};
        config.intervalMs = 100;
        config.timeoutMs = 150;
        {
            SettingsStore store(path);
            QVERIFY(config.Write(store));
        }
        SettingsStore store(path);
        QCOMPARE(WatchConfig::Read(store), config);
        // A shorter watch leaves nothing of the longer one behind.
        WatchConfig shorter;
        shorter.modules = {config.modules[0]};
        QVERIFY(shorter.Write(store));
        QCOMPARE(WatchConfig::Read(SettingsStore(path)), shorter);

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Watch]\nInterval=-5\nTimeout=999999\nLostAfter=x\nLostRetry=0\n"
                   "Module1=abc;no address\nModule2=300;;99;kg;7\nModule4=5;B[1]=;-3;;0\n"
                   "Module5=255;dup;1;kg;1\nModule6=  7 ;C;2\nModule9=1;;;;\n"
                   "Channel1=sum;2,4,6,1,99;S\nChannel2=diff;2;D\nChannel3=avg;2,4;X\nChannel4=mean;;E\n"
                   "Channel5=DIFF;6,5,4;D2;kg\nChannel6=sum;2\n"
                   "Limit.255=inf;nan\nLimit.B1=12;\nLimit.C=1e300;-1e300\nLimit.S=abc;5\n");
        file.close();
        WatchConfig hostile = WatchConfig::Read(SettingsStore(path));
        QCOMPARE(hostile.intervalMs, 0);
        QCOMPARE(hostile.timeoutMs, 2000);
        QCOMPARE(hostile.lostAfter, 3);
        QCOMPARE(hostile.lostRetry, 1);
        const QList<WatchModule> modules{{255, QStringLiteral("255"), 4, QStringLiteral("kg"), true},
                                         {5, QStringLiteral("B1"), 0, {}, false},
                                         {7, QStringLiteral("C"), 2, {}, true},
                                         {1, QStringLiteral("1"), 1, {}, true}};
        QCOMPARE(hostile.modules, modules);
        const QList<WatchChannelConfig> channels{
            {ComputedChannel::Kind::Sum, {0, 1, 2}, QStringLiteral("S"), {}}, // Module1 and Module99: none
            {ComputedChannel::Kind::Difference, {2, 1}, QStringLiteral("D2"), QStringLiteral("kg")}};
        QCOMPARE(hostile.channels, channels);
        const QList<WatchLimitConfig> limits{{QStringLiteral("B1"), {12.0, std::nullopt}},
                                             {QStringLiteral("C"), {-1e12, 1e12}},
                                             {QStringLiteral("S"), {std::nullopt, 5.0}}};
        QCOMPARE(hostile.limits, limits);
    }
};

QTEST_GUILESS_MAIN(TestBusWatch)
#include "tst_buswatch.moc"
