#include "EventWait.h"
#include "LineWait.h"
#include "MainFixture.h"
#include "widgets/ValueDisplay.h"
#include "app/MainUnit.h"
#include "calibration/CalibrateUnit.h"
#include "device/DeviceLink.h"
#include "device/ModuleSession.h"
#include "device/Pause.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "widgets/ModalRunner.h"
#include "widgets/SpinEdit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

namespace
{
constexpr DeviceAddress ModuleAddress = 1;

/// Handles events until `condition` holds (false after `timeoutMs`).
template <typename Condition> bool WaitFor(Condition condition, int timeoutMs = 5000)
{
    return WaitForEvents(condition, timeoutMs);
}

QByteArray bytes(const QueryFrame &f)
{
    return DeviceLink::toBytes(f);
}
QByteArray bytes(const DataFrame &f)
{
    return DeviceLink::toBytes(f);
}

/// The main window and the calibration dialog on a temporary settings
/// directory, opened on a simulated module. Pauses are recorded, and a test
/// can act inside them (change the load between two AD samples).
struct Rig {
    MainFixture fx;
    TxSim &sim = fx.sim();
    ScriptedPrompter &prompts = fx.prompts;
    QList<int> &pauses = fx.pauses;
    TfrmMain *main = nullptr;
    std::unique_ptr<TfrmCalibrate> dialog;
    std::deque<std::function<void()>> duringPauses; ///< one action per pause, in order

    Rig()
    {
        LinearPoints = {};
        CurrentPoint = 0;
        CalibratedCount = 0;
        ReadAdNext = true;
        SetPauseHook([this](int ms) {
            pauses << ms;
            if (!duringPauses.empty()) {
                auto action = std::move(duringPauses.front());
                duringPauses.pop_front();
                if (action)
                    action();
            }
        });
    }
    void setSetting(const QString &section, const QString &key, const QString &value)
    {
        SettingsStore(fx.iniPath()).WriteString(section, key, value);
    }
    QString storedSetting(const QString &section, const QString &key)
    {
        return SettingsStore(fx.iniPath()).ReadString(section, key, QString());
    }
    bool open(int averageCount = 2)
    {
        setSetting(SettingsKeys::SectionFilter, SettingsKeys::KeyAverageCount, QString::number(averageCount));
        const bool connected = fx.connect();
        main = &fx.main();
        dialog = std::make_unique<TfrmCalibrate>(fx.session(), fx.settings(), main->display(), main);
        return connected && main->state() == TfrmMain::State::PortIdle;
    }
    /// Opens the dialog the way the main window's button does; `script` runs
    /// while it is shown.
    void runDialog(const std::function<void()> &script) { RunCalibrationDialog(*dialog, script); }
    void load(qint32 adCode) { QVERIFY(sim.ok(QStringLiteral("load %1").arg(adCode))); }
    /// Calibrates the current point from AD samples `codes` with output value
    /// `pv`.
    void calibrate(QList<qint32> codes, int pv)
    {
        spePV()->setClampedValue(pv);
        load(codes.front());
        pauses.clear();
        duringPauses.clear();
        duringPauses.push_back({}); // the settling pause before the first sample
        for (qsizetype i = 1; i < codes.size(); ++i)
            duringPauses.push_back([this, c = codes[i]] { load(c); });
        dialog->btnCalibrateClick();
        QVERIFY(settled());
    }
    /// Lets the dialog's run (averaging, end sequence) go to its end.
    bool settled()
    {
        return WaitFor([this] { return !dialog->RunInProgress(); });
    }
    /// One idle tick, to the end of its request.
    bool tick()
    {
        dialog->TimerTmpReadTimer();
        return WaitFor([this] { return !dialog->TickPending(); });
    }
    /// Requests the module received, without the idle ticks' AD and value reads.
    QList<QByteArray> writesSoFar()
    {
        const QByteArray marker = bytes(BuildQueryFrame(ModuleAddress, CmdDN));
        const qsizetype before = sim.receivedFrames().size();
        SendFrameNow(main->link(), marker);
        if (!sim.waitForReceivedFrames(int(before) + 1))
            return {};
        QList<QByteArray> frames;
        for (const QByteArray &f : sim.receivedFrames())
            if (f[2] != char(CmdReadAdCode) && f[2] != char(CmdReadValue))
                frames << f;
        frames.removeLast();
        return frames;
    }

    DeviceLink &link() { return main->link(); }
    template <typename T> T *child(const char *name) const
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    SpinEdit *spePV() const { return child<SpinEdit>("spePV"); }
    QLabel *sttAV() const { return child<QLabel>("sttAV"); }
    QLabel *sttCurrentPoint() const { return child<QLabel>("sttCurrentPoint"); }
    QProgressBar *pbrRead() const { return child<QProgressBar>("pbrRead"); }
    QAbstractButton *btnCalibrate() const { return child<QAbstractButton>("btnCalibrate"); }
    QAbstractButton *btnNextPoint() const { return child<QAbstractButton>("btnNextPoint"); }
    QAbstractButton *btnEnd() const { return child<QAbstractButton>("btnEnd"); }
};
} // namespace

class TestCalibrate : public QObject
{
    Q_OBJECT
private slots:
    void openingClearsZeroFirst()
    {
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.sim.ok(QStringLiteral("param 3 777")));
        rig.sim.clearLog();
        bool shown = false;
        rig.runDialog([&] {
            shown = true;
            QCOMPARE(rig.main->ValueText(), QStringLiteral("设置成功！"));
            QCOMPARE(rig.dialog->windowTitle(), QStringLiteral("正在标定"));
        });
        QVERIFY(shown);
        QCOMPARE(rig.writesSoFar().first(), bytes(BuildDataFrame(ModuleAddress, CmdZerO, 0)));
        QCOMPARE(rig.sim.command(QStringLiteral("get 3")), QStringLiteral("OK 0"));
        QVERIFY(!rig.dialog->timerTmpRead().isActive());

        // A module that does not answer the ZerO write: no dialog.
        QVERIFY(rig.sim.ok(QStringLiteral("fault mute 3 data")));
        shown = false;
        rig.runDialog([&] { shown = true; });
        QVERIFY(!shown);
        QCOMPARE(rig.main->ValueText(), QStringLiteral("写入失败！"));

        // A reply with another command byte (a live-reading reply) is no
        // acknowledgement of the ZerO write either.
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        QVERIFY(rig.sim.ok(QStringLiteral("fault cmd 1")));
        rig.runDialog([&] { shown = true; });
        QVERIFY(!shown);
        QCOMPARE(rig.main->ValueText(), QStringLiteral("写入失败！"));
    }

    void showingOffersTheStoredOutputValues()
    {
        Rig rig;
        rig.setSetting(SettingsKeys::LinearPointSection(3), SettingsKeys::KeyPV, QStringLiteral("333"));
        QVERIFY(rig.open());
        rig.runDialog([&] {
            for (int k = 1; k <= 9; ++k)
                QCOMPARE(LinearPointAt(k).PV, k == 3 ? 333 : (k - 1) * 125000);
            QCOMPARE(LinearPointAt(9).PV, 1000000);
            QCOMPARE(CurrentPoint, 1);
            QCOMPARE(rig.spePV()->clampedValue(), 0);
            QCOMPARE(rig.sttCurrentPoint()->text(), QStringLiteral("1"));
            QVERIFY(rig.dialog->CurrentPointGreyed());
            QCOMPARE(rig.btnCalibrate()->text(), QStringLiteral("标定此点(&C)"));
            QVERIFY(rig.btnCalibrate()->isEnabled());
            QVERIFY(!rig.btnNextPoint()->isEnabled());
            QVERIFY(!rig.btnEnd()->isEnabled());
            QVERIFY(rig.dialog->timerTmpRead().isActive());

            rig.calibrate({10, 10}, 0);
            QVERIFY(rig.btnNextPoint()->isEnabled());
            QVERIFY(!rig.btnEnd()->isEnabled());
            rig.dialog->btnNextPointClick();
            QCOMPARE(rig.spePV()->clampedValue(), 125000);
            rig.calibrate({20, 20}, 125000);
            QVERIFY(rig.btnNextPoint()->isEnabled());
            QVERIFY(rig.btnEnd()->isEnabled());
            rig.dialog->btnNextPointClick();
            QCOMPARE(rig.spePV()->clampedValue(), 333);
            QCOMPARE(rig.sttCurrentPoint()->text(), QStringLiteral("3"));
            QVERIFY(!rig.btnNextPoint()->isEnabled());
            QVERIFY(rig.btnEnd()->isEnabled()); // stays enabled for the opening
        });
    }

    void averagingTruncatesTowardZero_data()
    {
        QTest::addColumn<int>("averageCount");
        QTest::addColumn<QList<qint32>>("codes");
        QTest::addColumn<qint32>("average");
        QTest::newRow("four") << 4 << QList<qint32>{10, 11, 11, 12} << 11;
        QTest::newRow("negative") << 2 << QList<qint32>{-5, -6} << -5;
        // Fewer than one sample cannot be averaged: one is taken.
        QTest::newRow("count 0") << 0 << QList<qint32>{-9} << -9;
    }
    void averagingTruncatesTowardZero()
    {
        QFETCH(int, averageCount);
        QFETCH(QList<qint32>, codes);
        QFETCH(qint32, average);
        Rig rig;
        QVERIFY(rig.open(averageCount));
        rig.runDialog([&] {
            rig.calibrate(codes, 4321);
            QCOMPARE(rig.sttAV()->text(), QString::number(average));
            QCOMPARE(LinearPointAt(1).AV, average);
            QCOMPARE(LinearPointAt(1).PV, 4321);
            QCOMPARE(CalibratedCount, 1);
            QCOMPARE(rig.pbrRead()->maximum(), qMax(averageCount, 1) - 1);
            QCOMPARE(rig.pbrRead()->value(), rig.pbrRead()->maximum());
            QCOMPARE(rig.btnCalibrate()->text(), QStringLiteral("重新标定此点(&C)"));
            QVERIFY(!rig.dialog->CurrentPointGreyed());
            QVERIFY(rig.dialog->timerTmpRead().isActive());
            QVERIFY(!QApplication::overrideCursor());
            // 200 ms to settle, then "Wait Interval" between samples.
            QList<int> expected{TfrmCalibrate::SettleBeforeAveragingMs};
            for (qsizetype i = 1; i < codes.size(); ++i)
                expected << SettingsKeys::DefaultWaitInterval;
            QCOMPARE(rig.pauses, expected);
        });
        const QString section = SettingsKeys::LinearPointSection(1);
        QCOMPARE(rig.storedSetting(section, SettingsKeys::KeyPV), QStringLiteral("4321"));
        QCOMPARE(rig.storedSetting(section, SettingsKeys::KeyAV), QString::number(average));
        QCOMPARE(rig.storedSetting(SettingsKeys::SectionFilter, SettingsKeys::KeyAverageCount),
                 QString::number(averageCount));
    }

    void repliesToOtherRequestsAreNotCounted()
    {
        Rig rig;
        rig.setSetting(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyWaitInterval,
                       QStringLiteral("-7"));
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.load(100);
            // Measured values sent unasked while a sample is awaited are not samples.
            rig.duringPauses = {{}, [&] {
                                    QVERIFY(rig.sim.ok(QStringLiteral("fault late 30")));
                                    QVERIFY(rig.sim.ok(QStringLiteral("burst 5")));
                                    rig.load(102);
                                }};
            rig.dialog->btnCalibrateClick();
            QVERIFY(rig.settled());
            QCOMPARE(LinearPointAt(1).AV, 101);
            // A negative "Wait Interval" is no pause.
            QCOMPARE(rig.pauses, (QList<int>{TfrmCalibrate::SettleBeforeAveragingMs, 0}));
        });
    }

    void buttonsAreLockedWhileAveraging()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.calibrate({1, 1}, 0);
            rig.dialog->btnNextPointClick();
            rig.calibrate({2, 2}, 125000);
            QVERIFY(rig.btnNextPoint()->isEnabled());
            QVERIFY(rig.btnEnd()->isEnabled());

            // Re-calibrating point 2: both locked meanwhile, enabled afterwards.
            bool checked = false;
            rig.load(3);
            rig.duringPauses = {{}, [&] {
                                    QVERIFY(!rig.btnNextPoint()->isEnabled());
                                    QVERIFY(!rig.btnEnd()->isEnabled());
                                    QVERIFY(!rig.btnCalibrate()->isEnabled());
                                    QVERIFY(QApplication::overrideCursor());
                                    QVERIFY(!rig.dialog->timerTmpRead().isActive());
                                    checked = true;
                                }};
            rig.dialog->btnCalibrateClick();
            QVERIFY(rig.settled());
            QVERIFY(checked);
            QCOMPARE(LinearPointAt(2).AV, 3);
            QVERIFY(rig.btnNextPoint()->isEnabled());
            QVERIFY(rig.btnEnd()->isEnabled());

            // A sample that is not answered: the earlier states come back.
            rig.dialog->btnNextPointClick();
            QVERIFY(rig.sim.ok(QStringLiteral("fault silent on")));
            rig.dialog->btnCalibrateClick();
            QVERIFY(rig.settled());
            QCOMPARE(rig.sttAV()->text(), QStringLiteral("读取超时！"));
            QVERIFY(!rig.btnNextPoint()->isEnabled());
            QVERIFY(rig.btnEnd()->isEnabled());
            QVERIFY(rig.btnCalibrate()->isEnabled());
            QCOMPARE(rig.btnCalibrate()->text(), QStringLiteral("标定此点(&C)"));
            QVERIFY(rig.dialog->CurrentPointGreyed());
            QCOMPARE(CalibratedCount, 2);
            QVERIFY(rig.dialog->timerTmpRead().isActive());
            QVERIFY(!QApplication::overrideCursor());
            QVERIFY(rig.sim.ok(QStringLiteral("fault silent off")));
        });
    }

    void endSequenceWritesTheTable()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.calibrate({0, 1}, 0); // AV 0
            rig.dialog->btnNextPointClick();
            rig.calibrate({500000, 500001}, 250000); // AV 500000
            rig.dialog->btnNextPointClick();
            rig.calibrate({-1000000, -1000001}, 1000000); // AV -1000000
            rig.dialog->btnNextPointClick();
            QCOMPARE(CurrentPoint, 4);
            rig.sim.clearLog();
            rig.pauses.clear();
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
            QVERIFY(!rig.dialog->isVisible());
            QVERIFY(!rig.dialog->timerTmpRead().isActive());
        });
        const QList<QByteArray> expected{
            bytes(BuildDataFrame(ModuleAddress, CmdAVP(1), 0)),
            bytes(BuildDataFrame(ModuleAddress, CmdPVP(1), 0)),
            bytes(BuildDataFrame(ModuleAddress, CmdAVP(2), 500000)),
            bytes(BuildDataFrame(ModuleAddress, CmdPVP(2), 250000)),
            bytes(BuildDataFrame(ModuleAddress, CmdAVP(3), -1000000)),
            bytes(BuildDataFrame(ModuleAddress, CmdPVP(3), 1000000)),
            bytes(BuildDataFrame(ModuleAddress, CmdPointCount, 3)),
            bytes(BuildQueryFrame(ModuleAddress, CmdStore)),
        };
        QCOMPARE(rig.writesSoFar(), expected);
        QCOMPARE(rig.pauses, (QList<int>{100, 20, 20, 20, 20, 20, 20, 100}));
        QCOMPARE(rig.main->ValueText(), QStringLiteral("标定成功！"));
        QVERIFY(!QApplication::overrideCursor());
        // The module now measures by the new table.
        rig.load(250000);
        QCOMPARE(rig.sim.command(QStringLiteral("get 1")), QStringLiteral("OK 125000"));
        rig.load(-500000);
        QCOMPARE(rig.sim.command(QStringLiteral("get 1")), QStringLiteral("OK 750000"));
    }

    void unansweredPointWriteStopsTheSequence_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("PVP2 not answered") << "fault mute 15 data" << 4;
        // Replies carrying command byte 1, as live-reading replies do, are no
        // acknowledgement: the first write already fails.
        QTest::newRow("answered with another command byte") << "fault cmd 1" << 1;
    }
    void unansweredPointWriteStopsTheSequence()
    {
        QFETCH(QString, fault);
        QFETCH(int, framesSent);
        Rig rig;
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.calibrate({5, 5}, 0);
            rig.dialog->btnNextPointClick();
            rig.calibrate({6, 6}, 125000);
            rig.dialog->timerTmpRead().stop(); // no idle ticks to mix with the fault
            QVERIFY(rig.sim.ok(fault));
            rig.sim.clearLog();
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
            QCOMPARE(rig.sttAV()->text(), QStringLiteral("写入失败！"));
            QVERIFY(!rig.dialog->isVisible());
            QVERIFY(!rig.dialog->timerTmpRead().isActive());
            QVERIFY(!QApplication::overrideCursor());
        });
        const QList<QByteArray> expected{
            bytes(BuildDataFrame(ModuleAddress, CmdAVP(1), 5)),
            bytes(BuildDataFrame(ModuleAddress, CmdPVP(1), 0)),
            bytes(BuildDataFrame(ModuleAddress, CmdAVP(2), 6)),
            bytes(BuildDataFrame(ModuleAddress, CmdPVP(2), 125000)),
        };
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        QCOMPARE(rig.writesSoFar(), expected.first(framesSent));
    }

    void countAndStoreNeedTheirOwnAcknowledgement()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        QString afterCount;
        rig.runDialog([&] {
            rig.calibrate({5, 5}, 0);
            rig.dialog->btnNextPointClick();
            rig.calibrate({6, 6}, 125000);
            rig.dialog->timerTmpRead().stop();
            // From the PointCount write on, every reply carries command byte 1.
            rig.duringPauses = {{},
                                {},
                                {},
                                {},
                                [&] { QVERIFY(rig.sim.ok(QStringLiteral("fault cmd 1"))); },
                                [&] { afterCount = rig.main->ValueText(); }};
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
            QVERIFY(!rig.dialog->isVisible());
        });
        QCOMPARE(afterCount, QStringLiteral("写入失败！"));
        QCOMPARE(rig.main->ValueText(), QStringLiteral("标定失败！"));
        QVERIFY(rig.prompts.errors.isEmpty());
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        const QList<QByteArray> frames = rig.writesSoFar();
        QCOMPARE(frames.size(), 1 + 4 + 2); // ZerO, the table, count and store
        QCOMPARE(frames.last(), bytes(BuildQueryFrame(ModuleAddress, CmdStore)));
    }

    void closingDuringTheEndSequenceTellsTheOperator_data()
    {
        QTest::addColumn<int>("awaitedIndex"); // the request of the end sequence being awaited, from 1
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("waiting for PVP1") << 2 << "标定未完成：标定表未保存到模块。" << 2;
        QTest::newRow("waiting for PointCount") << 5 << "标定未完成：标定表未保存到模块。" << 5;
        QTest::newRow("waiting for the store") << 6 << "标定未完成：模块未确认保存标定表。" << 6;
    }
    void closingDuringTheEndSequenceTellsTheOperator()
    {
        QFETCH(int, awaitedIndex);
        QFETCH(QString, told);
        QFETCH(int, framesSent);
        Rig rig;
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.calibrate({5, 5}, 0);
            rig.dialog->btnNextPointClick();
            rig.calibrate({6, 6}, 125000);
            rig.dialog->timerTmpRead().stop();
            // The module does not answer that request; the operator closes
            // the dialog as soon as the module has received it.
            const QList<QByteArray> requests{bytes(BuildDataFrame(ModuleAddress, CmdAVP(1), 5)),
                                             bytes(BuildDataFrame(ModuleAddress, CmdPVP(1), 0)),
                                             bytes(BuildDataFrame(ModuleAddress, CmdAVP(2), 6)),
                                             bytes(BuildDataFrame(ModuleAddress, CmdPVP(2), 125000)),
                                             bytes(BuildDataFrame(ModuleAddress, CmdPointCount, 2)),
                                             bytes(BuildQueryFrame(ModuleAddress, CmdStore))};
            const QByteArray awaited = requests.at(awaitedIndex - 1);
            QVERIFY(
                rig.sim.ok(QStringLiteral("fault mute %1 %2")
                               .arg(int(awaited[2]))
                               .arg(awaitedIndex == 6 ? QStringLiteral("query") : QStringLiteral("data"))));
            const QString received = QStringLiteral("RX ") + Hex(awaited);
            QObject::connect(&rig.sim, &TxSim::lineReceived, rig.dialog.get(), [&](const QString &line) {
                if (line.startsWith(received))
                    rig.dialog->close();
            });
            rig.sim.clearLog();
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
            QVERIFY(!rig.dialog->isVisible());
            QVERIFY(!QApplication::overrideCursor());
        });
        QCOMPARE(rig.prompts.errors, QStringList{told});
        QVERIFY(rig.main->ValueText() != QStringLiteral("标定成功！"));
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        // Nothing is sent after the request the closing cut short.
        QCOMPARE(rig.writesSoFar().size(), framesSent);
    }

    void idleTicksAlternateAndSecondOpeningStartsAfresh()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        rig.load(4242);
        rig.runDialog([&] {
            rig.dialog->timerTmpRead().stop();
            QVERIFY(ReadAdNext);
            QVERIFY(rig.tick());
            QCOMPARE(rig.sttAV()->text(), QStringLiteral("4242"));
            QVERIFY(!ReadAdNext);
            QVERIFY(rig.tick()); // measured value, as a plain integer
            QCOMPARE(rig.main->ValueText(), QStringLiteral("4242"));
            QVERIFY(ReadAdNext);
            QVERIFY(rig.tick());
            QVERIFY(!ReadAdNext);

            // Unanswered: the same request again next time.
            QVERIFY(rig.sim.ok(QStringLiteral("fault silent on")));
            QVERIFY(rig.tick());
            QCOMPARE(rig.main->ValueText(), QStringLiteral("读取超时！"));
            QVERIFY(!ReadAdNext);
            QVERIFY(rig.sim.ok(QStringLiteral("fault silent off")));

            rig.calibrate({7, 7}, 11);
            rig.dialog->btnNextPointClick();
            rig.calibrate({8, 8}, 22);
            rig.dialog->btnNextPointClick();
        });
        QVERIFY(!rig.dialog->timerTmpRead().isActive());
        QCOMPARE(rig.writesSoFar().size(),
                 1); // only the ZerO write: closing sends nothing

        rig.runDialog([&] {
            QCOMPARE(CurrentPoint, 1);
            QCOMPARE(rig.sttCurrentPoint()->text(), QStringLiteral("1"));
            QVERIFY(rig.sttAV()->text().isEmpty());
            QCOMPARE(rig.spePV()->clampedValue(), 11);
            QCOMPARE(LinearPointAt(2).PV, 22);
            QCOMPARE(rig.btnCalibrate()->text(), QStringLiteral("标定此点(&C)"));
            QVERIFY(!rig.btnNextPoint()->isEnabled());
            QVERIFY(!rig.btnEnd()->isEnabled());
            QVERIFY(!ReadAdNext); // left as the first opening left it
            QCOMPARE(CalibratedCount, 2);
        });
    }

    void closingWhileAveragingGivesThePointUp()
    {
        Rig rig;
        QVERIFY(rig.open(3));
        rig.runDialog([&] {
            rig.load(50);
            rig.duringPauses = {{}, [&] { rig.dialog->close(); }};
            rig.dialog->btnCalibrateClick();
            QVERIFY(rig.settled());
            QCOMPARE(CalibratedCount, 0);
            QCOMPARE(LinearPointAt(1).AV, 0);
            QVERIFY(!rig.dialog->timerTmpRead().isActive());
            QVERIFY(!QApplication::overrideCursor());
        });
        QVERIFY(rig.storedSetting(SettingsKeys::LinearPointSection(1), SettingsKeys::KeyAV).isEmpty());
    }

    void faultyRepliesAreNeverTaken_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("answered");
        // A reply-like frame with a wrong check byte and the value 9999 before every reply.
        QTest::newRow("noise before every reply") << "fault noise on" << true;
        // Every reply itself has a wrong check byte: nothing is answered.
        QTest::newRow("every reply corrupted") << "fault badcheck on" << false;
    }
    void faultyRepliesAreNeverTaken()
    {
        QFETCH(QString, fault);
        QFETCH(bool, answered);
        Rig rig;
        QVERIFY(rig.open(2));
        const QString noise = QStringLiteral("9999");
        QStringList shown;
        QObject::connect(&rig.main->display(), &ValueDisplay::textChanged, rig.main,
                         [&](const QString &text) { shown << text; });
        rig.runDialog([&] {
            rig.dialog->timerTmpRead().stop();
            rig.load(321);
            QVERIFY(rig.sim.ok(fault));
            QVERIFY(rig.tick());
            QVERIFY(rig.tick());
            QCOMPARE(rig.sttAV()->text(), answered ? QStringLiteral("321") : QStringLiteral("读取超时！"));
            rig.calibrate({10, 12}, 0);
            if (!answered) {
                QCOMPARE(rig.sttAV()->text(), QStringLiteral("读取超时！"));
                QCOMPARE(CalibratedCount, 0);
                return;
            }
            QCOMPARE(rig.sttAV()->text(), QStringLiteral("11"));
            rig.dialog->btnNextPointClick();
            rig.calibrate({500000, 500002}, 250000);
            rig.dialog->timerTmpRead().stop();
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
        });
        QVERIFY(!shown.contains(noise));
        QVERIFY(rig.link().droppedFrames() > 0);
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        if (!answered) {
            QVERIFY(rig.storedSetting(SettingsKeys::LinearPointSection(1), SettingsKeys::KeyAV).isEmpty());
            QCOMPARE(rig.writesSoFar().size(),
                     1); // the ZerO write; its acknowledgement came before the fault
            return;
        }
        QCOMPARE(rig.main->ValueText(), QStringLiteral("标定成功！"));
        for (const auto &[code, value] : {std::pair{5, 11}, {14, 0}, {6, 500001}, {15, 250000}, {4, 2}})
            QCOMPARE(rig.sim.command(QStringLiteral("get %1").arg(code)), QStringLiteral("OK %1").arg(value));
    }

    void underLiveReadingOfALateModuleEveryStepIsAnswered()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        QVERIFY(rig.sim.ok(QStringLiteral("fault late 40")));
        QStringList shown;
        QObject::connect(&rig.main->display(), &ValueDisplay::textChanged, rig.main,
                         [&](const QString &text) { shown << text; });
        // Live reading (every 100 ms) goes on under the modal dialog, its idle
        // ticks, both averagings and the end sequence.
        rig.main->btnBeginReadClick();
        rig.runDialog([&] {
            rig.calibrate({100, 100}, 0);
            rig.dialog->btnNextPointClick();
            rig.calibrate({600000, 600000}, 300000);
            QCOMPARE(CalibratedCount, 2);
            rig.dialog->btnEndClick();
            QVERIFY(rig.settled());
            QVERIFY(!rig.dialog->isVisible());
        });
        QCOMPARE(rig.main->state(), TfrmMain::State::Reading);
        rig.main->btnBeginReadClick();
        for (const char *text : {"设置成功！", "写入成功！", "标定成功！"})
            QVERIFY2(shown.contains(QString::fromUtf8(text)), text);
        for (const char *text : {"读取超时！", "写入失败！", "标定失败！"})
            QVERIFY2(!shown.contains(QString::fromUtf8(text)), text);
        QVERIFY(!rig.sim.waitForLine(QStringLiteral("STORED")).isEmpty());
        for (const auto &[code, value] :
             {std::pair{3, 0}, {5, 100}, {14, 0}, {6, 600000}, {15, 300000}, {4, 2}})
            QCOMPARE(rig.sim.command(QStringLiteral("get %1").arg(code)), QStringLiteral("OK %1").arg(value));
        QVERIFY(rig.prompts.errors.isEmpty());
    }

    void realModalShowingStartsAndStopsTheTicks()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        bool ticking = false;
        // Acts once the dialog runs its own modal loop (the ZerO write before
        // it also handles events).
        QTimer watcher;
        watcher.setInterval(10);
        QObject::connect(&watcher, &QTimer::timeout, rig.dialog.get(), [&] {
            if (!rig.dialog->isVisible())
                return;
            watcher.stop();
            ticking = rig.dialog->timerTmpRead().isActive() && CurrentPoint == 1;
            rig.dialog->reject(); // Escape
        });
        watcher.start();
        OpenCalibration(*rig.dialog);
        QTRY_VERIFY(ticking);
        QVERIFY(!rig.dialog->isVisible());
        QVERIFY(!rig.dialog->timerTmpRead().isActive());
    }

    void idleTicksStopAtAFailedWrite()
    {
        Rig rig;
        QVERIFY(rig.open(2));
        rig.runDialog([&] {
            rig.dialog->timerTmpRead().start();
            rig.sim.kill();
            QVERIFY(rig.tick());
            QTRY_VERIFY(!rig.dialog->timerTmpRead().isActive());
            // The loss is reported once, by the main window.
            QTRY_COMPARE(rig.prompts.errors.size(), 1);
            QVERIFY(rig.prompts.errors.first().startsWith(QStringLiteral("串口连接已断开")));
            // Once the port is closed, ticks do nothing at all.
            QTRY_VERIFY(!rig.main->IsPortOpen());
            QVERIFY(rig.tick());
            QCOMPARE(rig.prompts.errors.size(), 1);
        });
    }
};

QTEST_MAIN(TestCalibrate)
#include "tst_calibrate.moc"
