#include "EventWait.h"
#include "LineWait.h"
#include "MainFixture.h"
#include "widgets/ValueDisplay.h"
#include "app/MainUnit.h"
#include "calibration/ZeroCalibration.h"
#include "device/DeviceLink.h"
#include "device/ModuleSession.h"
#include "device/Pause.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

#include <functional>

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

/// The main window on a temporary settings directory, opened on a simulated
/// module; pauses are recorded, prompts answered from a script.
struct Rig {
    MainFixture fx;
    TxSim &sim = fx.sim();
    ScriptedPrompter &prompts = fx.prompts;
    QList<int> &pauses = fx.pauses;
    TfrmMain *main = nullptr;

    void setSetting(const QString &section, const QString &key, const QString &value)
    {
        SettingsStore(fx.iniPath()).WriteString(section, key, value);
    }
    QString storedSetting(const QString &section, const QString &key)
    {
        return SettingsStore(fx.iniPath()).ReadString(section, key, QString());
    }
    bool open()
    {
        const bool connected = fx.connect();
        main = &fx.main();
        return connected && main->state() == TfrmMain::State::PortIdle;
    }
    QAbstractButton *btnZero() const { return main->findChild<QAbstractButton *>(QStringLiteral("btnZero")); }
    /// Presses btnZero and lets the run go to its end (the busy cursor lasts as long).
    bool zero()
    {
        main->btnZeroClick();
        return WaitFor([] { return !QApplication::overrideCursor(); });
    }

    /// Frames the module received up to now: a marker query is sent and
    /// awaited, so every earlier frame is in the log (the marker is left out).
    QList<QByteArray> framesSoFar()
    {
        const QByteArray marker = bytes(BuildQueryFrame(ModuleAddress, CmdDN));
        const qsizetype before = sim.receivedFrames().size();
        SendFrameNow(main->link(), marker);
        if (!sim.waitForReceivedFrames(int(before) + 1))
            return {};
        QList<QByteArray> frames = sim.receivedFrames();
        frames.removeLast();
        return frames;
    }
};
} // namespace

class TestZeroCalibration : public QObject
{
    Q_OBJECT
private slots:
    void writesTheWrappedSum_data()
    {
        QTest::addColumn<qint32>("zero");
        QTest::addColumn<qint32>("pvp2");
        QTest::addColumn<qint32>("load");
        QTest::addColumn<qint32>("written");
        QTest::addColumn<QString>("fault");
        // The simulator measures table(load) - ZerO; its default table is the
        // identity up to PVP2 at AD code 1000000.
        QTest::newRow("1000 + 250") << 1000 << 1000000 << 1250 << 1250 << QString();
        QTest::newRow("1000 - 300") << 1000 << 1000000 << 700 << 700 << QString();
        // table(1073741824) = 2^31, so the module measures 1.
        QTest::newRow("wraps") << 2147483647 << 2000000 << 1073741824 << std::numeric_limits<qint32>::min()
                               << QString();
        // A reply-like frame with a wrong check byte and the value 9999 comes
        // before every reply: neither read may take it.
        QTest::newRow("noise before every reply") << 1000 << 1000000 << 1250 << 1250 << "fault noise on";
    }
    void writesTheWrappedSum()
    {
        QFETCH(qint32, zero);
        QFETCH(qint32, pvp2);
        QFETCH(qint32, load);
        QFETCH(qint32, written);
        QFETCH(QString, fault);
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.sim.ok(QStringLiteral("param 3 %1").arg(zero)));
        QVERIFY(rig.sim.ok(QStringLiteral("param 15 %1").arg(pvp2)));
        QVERIFY(rig.sim.ok(QStringLiteral("load %1").arg(load)));
        if (!fault.isEmpty())
            QVERIFY(rig.sim.ok(fault));
        rig.sim.clearLog();

        QVERIFY(rig.zero());

        // Each of the three replies came after its noise frame, which was dropped.
        QCOMPARE(rig.main->link().droppedFrames(), quint64(fault.isEmpty() ? 0 : 3));
        QCOMPARE(rig.prompts.questions,
                 QStringList{QStringLiteral("即将标定传感器零点，请去掉传感器上的所有附加载荷")});
        QCOMPARE(rig.main->ValueText(), QStringLiteral("设置成功！"));
        const QList<QByteArray> expected{bytes(BuildQueryFrame(ModuleAddress, CmdZerO)),
                                         bytes(BuildQueryFrame(ModuleAddress, CmdReadValue)),
                                         bytes(BuildDataFrame(ModuleAddress, CmdZerO, written))};
        QCOMPARE(rig.framesSoFar(), expected);
        QCOMPARE(rig.sim.command(QStringLiteral("get 3")).split(' ').last(), QString::number(written));
        // One "Wait Interval" pause, between the two reads.
        QCOMPARE(rig.pauses, QList<int>{SettingsKeys::DefaultWaitInterval});
        QVERIFY(rig.btnZero()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(rig.prompts.errors.isEmpty());
    }

    void underLiveReadingOfALateModuleEveryStepIsAnswered()
    {
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.sim.ok(QStringLiteral("param 3 1000")));
        QVERIFY(rig.sim.ok(QStringLiteral("load 1250")));
        QVERIFY(rig.sim.ok(QStringLiteral("fault late 40")));
        QStringList shown;
        QObject::connect(&rig.main->display(), &ValueDisplay::textChanged, rig.main,
                         [&](const QString &text) { shown << text; });
        rig.sim.clearLog();
        const auto polls = [&rig] {
            int count = 0;
            for (const QByteArray &frame : rig.sim.receivedFrames())
                count += frame[2] == char(CmdReadValue);
            return count;
        };
        // Live reading (every 100 ms) runs before, under and after the calibration.
        rig.main->btnBeginReadClick();
        QVERIFY(rig.sim.waitUntil([&] { return polls() >= 1; }, 5000));
        rig.main->btnZeroClick();
        QVERIFY(WaitFor([] { return !QApplication::overrideCursor(); }));
        QVERIFY(rig.sim.waitUntil([&] { return polls() >= 3; }, 5000)); // its own value read counts once

        QCOMPARE(rig.main->state(), TfrmMain::State::Reading);
        QVERIFY(shown.contains(QStringLiteral("设置成功！")));
        for (const char *failure : {"读取超时！", "写入失败！"})
            QVERIFY2(!shown.contains(QString::fromUtf8(failure)), failure);
        rig.main->btnBeginReadClick();
        QCOMPARE(rig.sim.command(QStringLiteral("get 3")), QStringLiteral("OK 1250"));
        QList<QByteArray> calibration;
        for (const QByteArray &frame : rig.sim.receivedFrames()) {
            if (frame[2] != char(CmdReadValue))
                calibration << frame;
        }
        QCOMPARE(calibration, (QList<QByteArray>{bytes(BuildQueryFrame(ModuleAddress, CmdZerO)),
                                                 bytes(BuildDataFrame(ModuleAddress, CmdZerO, 1250))}));
        QVERIFY(rig.prompts.errors.isEmpty());
    }

    void cancelSendsNothing()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.main->SetValueText(QStringLiteral("before"));
        rig.prompts.answerYes = false;
        rig.sim.clearLog();

        QVERIFY(rig.zero());

        QCOMPARE(rig.prompts.questions.size(), 1);
        QVERIFY(rig.framesSoFar().isEmpty());
        QCOMPARE(rig.main->ValueText(), QStringLiteral("before"));
        QVERIFY(rig.btnZero()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void failedStepsLeaveTheModuleAlone_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("afterFirstRead"); // set in the pause between the reads
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("silent module") << "fault silent on" << false << "读取超时！" << 1;
        QTest::newRow("every reply corrupted") << "fault badcheck on" << false << "读取超时！" << 1;
        // A reply carrying another command byte is no zero value: nothing is
        // written.
        QTest::newRow("other command byte") << "fault cmd 7" << false << "读取超时！" << 1;
        QTest::newRow("write not answered") << "fault mute 3 data" << false << "写入失败！" << 3;
        // Every reply from the value read on carries command byte 1, as a
        // live-reading reply would: the write's reply is no acknowledgement.
        QTest::newRow("write answered by a value reply") << "fault cmd 1" << true << "写入失败！" << 3;
    }
    void failedStepsLeaveTheModuleAlone()
    {
        QFETCH(QString, fault);
        QFETCH(bool, afterFirstRead);
        QFETCH(QString, shown);
        QFETCH(int, framesSent);
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.sim.ok(QStringLiteral("param 3 1000")));
        if (afterFirstRead)
            SetPauseHook([&](int) { QVERIFY(rig.sim.ok(fault)); });
        else
            QVERIFY(rig.sim.ok(fault));
        rig.sim.clearLog();

        QVERIFY(rig.zero());

        QCOMPARE(rig.main->ValueText(), shown);
        const QList<QByteArray> frames = rig.framesSoFar();
        QCOMPARE(frames.size(), framesSent);
        QCOMPARE(frames.first(), bytes(BuildQueryFrame(ModuleAddress, CmdZerO)));
        QVERIFY(rig.sim.ok(QStringLiteral("fault clear")));
        if (framesSent < 3)
            QCOMPARE(rig.sim.command(QStringLiteral("get 3")).split(' ').last(), QStringLiteral("1000"));
        QVERIFY(rig.btnZero()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void negativeWaitIntervalPausesNotAtAll()
    {
        Rig rig;
        rig.setSetting(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyWaitInterval,
                       QStringLiteral("-50"));
        QVERIFY(rig.open());
        QVERIFY(rig.zero());
        QCOMPARE(rig.main->ValueText(), QStringLiteral("设置成功！"));
        QCOMPARE(rig.pauses, QList<int>{0});
        // The setting itself is left as the operator wrote it.
        QCOMPARE(rig.storedSetting(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyWaitInterval),
                 QStringLiteral("-50"));
    }

    void lostPortIsReportedAndEverythingRestored()
    {
        Rig rig;
        QVERIFY(rig.open());
        // The module's line goes away between the two reads.
        bool busyMeanwhile = false;
        SetPauseHook([&](int) {
            busyMeanwhile = QApplication::overrideCursor() && !rig.btnZero()->isEnabled();
            rig.sim.kill();
        });

        QVERIFY(rig.zero());

        QVERIFY(busyMeanwhile);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(rig.btnZero()->isEnabled(), rig.main->state() == TfrmMain::State::PortIdle);
        QVERIFY(rig.main->ValueText() != QStringLiteral("标定中..."));
        // Once the window has noticed the loss the button stays disabled.
        QTRY_COMPARE(rig.main->state(), TfrmMain::State::PortClosed);
        QVERIFY(!rig.btnZero()->isEnabled());
        // The loss is reported once, by the main window, not again by the
        // write it cut short.
        QTRY_COMPARE(rig.prompts.errors.size(), 1);
        QVERIFY(rig.prompts.errors.first().startsWith(QStringLiteral("串口连接已断开")));
    }
};

QTEST_MAIN(TestZeroCalibration)
#include "tst_zerocalibration.moc"
