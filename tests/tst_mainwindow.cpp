#include "LineWait.h"
#include "FakeDevice.h"
#include "MainFixture.h"
#include "chart/ChartWidget.h"
#include "device/BusScanner.h"
#include "ui_MainUnit.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QWheelEvent>

namespace {
const QString ReadOk = QStringLiteral("读取成功！");
const QString ReadTimeout = QStringLiteral("读取超时！");
const QString WriteTimeout = QStringLiteral("写入超时！");

struct Enabled {
    bool btnOpen, cbbPort, btnBeginRead, btnSetDN, btnCalibrate, btnZero, btnDN, sttValue, btnParam, mnuEvaluate,
        speDN, mnuClearData;
};

Enabled enabledOf(TfrmMain &m)
{
    Ui::TfrmMain *u = m.ui();
    return {u->btnOpen->isEnabled(),      u->cbbPort->isEnabled(),     u->btnBeginRead->isEnabled(),
            u->btnSetDN->isEnabled(),     u->btnCalibrate->isEnabled(), u->btnZero->isEnabled(),
            u->btnDN->isEnabled(),        u->sttValue->isEnabled(),     u->btnParam->isEnabled(),
            u->mnuEvaluate->isEnabled(),  u->speDN->isEnabled(),        u->mnuClearData->isEnabled()};
}

QString describe(const Enabled &e)
{
    return QStringLiteral("%1%2%3%4%5%6%7%8%9%10%11%12")
        .arg(e.btnOpen)
        .arg(e.cbbPort)
        .arg(e.btnBeginRead)
        .arg(e.btnSetDN)
        .arg(e.btnCalibrate)
        .arg(e.btnZero)
        .arg(e.btnDN)
        .arg(e.sttValue)
        .arg(e.btnParam)
        .arg(e.mnuEvaluate)
        .arg(e.speDN)
        .arg(e.mnuClearData);
}

// Column order of describe(): btnOpen cbbPort btnBeginRead btnSetDN btnCalibrate btnZero
// btnDN sttValue btnParam mnuEvaluate speDN mnuClearData.
const QString PortClosedRow = QStringLiteral("110000000011");
const QString PortIdleRow = QStringLiteral("101111111111");
const QString ReadingRow = QStringLiteral("001000010000");
const QString SettingAddressRow = QStringLiteral("000000111111");
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void firstStartWithoutSettings()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        QCOMPARE(m.ValueText(), QStringLiteral("0.0kg"));
        QVERIFY(!m.ui()->sttValue->isEnabled());
        QCOMPARE(m.CurrentAddress(), DeviceAddress(1));
        QCOMPARE(m.ui()->speDN->text(), QStringLiteral("1"));
        QCOMPARE(m.timerRead().interval(), 100);
        QVERIFY(!m.timerRead().isActive());
        QCOMPARE(m.chart()->yAxisMinimum(), 0.0);
        QCOMPARE(m.chart()->yAxisSpan(), 10000.0);
        QCOMPARE(m.windowTitle(), QStringLiteral("智能变送器数据采集软件 V140208"));
        QVERIFY(m.ui()->StatusBar1->findChildren<QLabel *>().size() >= 2);
        const QByteArray ini = f.iniText();
        QVERIFY(ini.contains("[System]"));
        QVERIFY(ini.contains("Application Name=Kelvarin"));
        QVERIFY(ini.contains("HomePage="));
        QVERIFY(ini.contains("[Runtime]"));
        QVERIFY(ini.contains("ViewDataMarker=0"));
        bool statusShowsName = false;
        for (QLabel *l : m.ui()->StatusBar1->findChildren<QLabel *>())
            statusShowsName |= l->text() == QStringLiteral("Kelvarin");
        QVERIFY(statusShowsName);
        QCOMPARE(describe(enabledOf(m)), PortClosedRow);
        QCOMPARE(m.ui()->btnOpen->text(), QStringLiteral("打开串口(&O)"));
    }

    void startUpAppliesStoredSettings()
    {
        MainFixture f;
        f.writeIni("[System]\r\nApplication Name=Bench 7\r\n"
                   "[System Parameters]\r\nYMin=500\r\nYMax=100\r\nRead Interval=0x64\r\nStayOnTop=2\r\n"
                   "Decimal=2\r\nMeasure Unit=N\r\n"
                   "[Default]\r\nDevice Number=300\r\n[Runtime]\r\nViewDataMarker=1\r\n");
        TfrmMain &m = f.create();
        QCOMPARE(m.chart()->yAxisMinimum(), 100.0);
        QCOMPARE(m.chart()->yAxisSpan(), 400.0);
        QCOMPARE(m.timerRead().interval(), 100);
        QVERIFY(m.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(255)); // brought into range
        QVERIFY(m.ui()->ckbViewMarker->isChecked());
        QVERIFY(m.chart()->markersVisible(0));
        QVERIFY(m.chart()->markersVisible(2));
        QCOMPARE(m.ValueText(), QStringLiteral("0.00N"));
        QVERIFY(f.iniText().contains("Application Name=Bench 7")); // never rewritten
        m.PopupMenu1Popup();
        QVERIFY(m.ui()->F1->isChecked());
    }

    void valueDisplayKeepsUpWithoutRelayingOutPerReply()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        QLabel *label = m.ui()->sttValue;
        // A flood of texts: the display takes the newest ones at its pace
        // (about one per screen refresh) and always ends on the last.
        int changes = 0;
        QElapsedTimer flood;
        flood.start();
        QString shown = label->text();
        for (int i = 0; flood.elapsed() < 200; ++i) {
            m.SetValueText(QString::number(i));
            QCOMPARE(m.ValueText(), QString::number(i));
            QCoreApplication::processEvents();
            if (label->text() != shown) {
                shown = label->text();
                ++changes;
            }
        }
        QVERIFY2(changes <= 20, qPrintable(QString::number(changes)));
        QTRY_COMPARE(label->text(), m.ValueText());

        // New digits repaint the display only: the window is not laid out
        // again. A text longer than any before widens the display so that
        // all of it shows.
        struct LayoutCounter : QObject {
            int requests = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                requests += e->type() == QEvent::LayoutRequest;
                return false;
            }
        } counter;
        m.SetValueText(QStringLiteral("1.000kg"));
        QTRY_COMPARE(label->text(), QStringLiteral("1.000kg"));
        QTest::qWait(50);
        m.installEventFilter(&counter);
        for (int i = 2; i <= 9; ++i) {
            m.SetValueText(QStringLiteral("%1.000kg").arg(i));
            QTRY_COMPARE(label->text(), m.ValueText());
        }
        QCOMPARE(counter.requests, 0);
        m.SetValueText(QStringLiteral("-2147483.648kg"));
        QTRY_COMPARE(label->text(), m.ValueText());
        QTRY_VERIFY(label->width() >= label->sizeHint().width());
        QCOMPARE(label->geometry(), m.ui()->pnlValue->rect());
        m.removeEventFilter(&counter);
    }

    void valueDisplayAndChartFeed()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        m.current().Decimal = 2;
        m.reply().ReplyValue = 24680;
        m.ShowValue();
        m.PlotValue();
        QCOMPARE(m.ValueText(), QStringLiteral("246.80kg"));
        QCOMPARE(m.chart()->y(0, 0), 246.8);
        QCOMPARE(m.chart()->x(0, 0), 1.0);
        m.reply().ReplyValue = -5;
        m.ShowValue();
        m.PlotValue();
        QCOMPARE(m.ValueText(), QStringLiteral("-0.05kg"));
        QCOMPARE(m.chart()->y(0, 1), -0.05);
        QCOMPARE(m.chart()->x(0, 1), 2.0);
        m.current().Decimal = 0;
        m.reply().ReplyValue = 24680;
        m.ShowValue();
        QCOMPARE(m.ValueText(), QStringLiteral("24680kg"));
        QCOMPARE(m.DisplayValue(), 24680.0);

        // A clear restarts x at 1; without a clear x goes on.
        m.btnClearClick();
        QCOMPARE(m.chart()->count(0), 0);
        m.PlotValue();
        QCOMPARE(m.chart()->x(0, 0), 1.0);
    }

    void addressFieldRules()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        SpinEdit *spe = m.ui()->speDN;
        spe->editor()->setText(QString());
        QCOMPARE(m.CurrentAddress(), DeviceAddress(0)); // empty reads as broadcast
        spe->editor()->setText(QStringLiteral("7"));
        QVERIFY(f.iniText().contains("Device Number=7"));
        spe->editor()->setText(QStringLiteral("x"));
        QVERIFY(f.iniText().contains("Device Number=7")); // not a number: not written
        spe->setFocus();
        spe->editor()->setText(QStringLiteral("300"));
        m.ui()->btnClear->setFocus();
        QFocusEvent out(QEvent::FocusOut);
        QCoreApplication::sendEvent(spe, &out);
        QCOMPARE(spe->text(), QStringLiteral("255"));
        QCOMPARE(m.CurrentAddress(), DeviceAddress(255));
        QTRY_VERIFY(f.iniText().contains("Device Number=255"));

        // Arrows, keys and the wheel step within 0..255 only.
        QTest::keyClick(spe, Qt::Key_Up);
        QTest::keyClick(spe, Qt::Key_PageUp);
        QWheelEvent up(QPointF(5, 5), spe->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(spe, &up);
        QCOMPARE(spe->text(), QStringLiteral("255"));
        QTest::qWait(250);
        QVERIFY(f.iniText().contains("Device Number=255"));
        QVERIFY(!f.iniText().contains("Device Number=256"));
        spe->setClampedValue(0);
        QTest::keyClick(spe, Qt::Key_Down);
        QCOMPARE(spe->text(), QStringLiteral("0"));
        spe->setClampedValue(254);
        QTest::keyClick(spe, Qt::Key_Up);
        QCOMPARE(spe->text(), QStringLiteral("255"));

        // An emptied field stays empty when left: it reads as the broadcast address.
        spe->setFocus();
        spe->editor()->setText(QString());
        QCoreApplication::sendEvent(spe, &out);
        QCOMPARE(spe->text(), QString());
        QCOMPARE(m.CurrentAddress(), DeviceAddress(0));

        // A burst of changes (modules answering in turn) is stored once it settles.
        for (int a = 1; a <= 50; ++a)
            m.SetCurrentAddress(a);
        QTRY_VERIFY(f.iniText().contains("Device Number=50"));
    }

    void openFailureLeavesThePortClosed()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        m.ui()->cbbPort->addItem(QStringLiteral("/dev/no-such-port"));
        m.ui()->cbbPort->setCurrentIndex(m.ui()->cbbPort->count() - 1);
        m.btnOpenClick();
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY(f.prompts.errors[0].startsWith(QStringLiteral("串口打开失败！")));
        QCOMPARE(m.state(), TfrmMain::State::PortClosed);
        QCOMPARE(m.ui()->btnOpen->text(), QStringLiteral("打开串口(&O)"));
        QVERIFY(m.ui()->cbbPort->isEnabled());

        // A frame sent on the closed port is a write error in a dialog; the window stays usable.
        f.prompts.answerYes = true;
        m.btnReportClick();
        QTRY_COMPARE(f.prompts.errors.size(), 2);
        QCOMPARE(describe(enabledOf(m)), PortClosedRow);
    }

    void stateTableAndSavedVirtualPort()
    {
        MainFixture f;
        QVERIFY(f.sim().start());
        f.writeIni("[Communication Parameters]\r\nCom Port=" + f.sim().portName().toUtf8() + "\r\n");
        TfrmMain &m = f.create();
        // The saved pseudo-terminal is offered and preselected although the system does not list it.
        QCOMPARE(m.ui()->cbbPort->currentText(), f.sim().portName());
        m.btnOpenClick();
        QVERIFY(m.IsPortOpen());
        QCOMPARE(describe(enabledOf(m)), PortIdleRow);
        QCOMPARE(m.ui()->btnOpen->text(), QStringLiteral("关闭串口(&E)"));

        m.btnBeginReadClick();
        QCOMPARE(m.state(), TfrmMain::State::Reading);
        QCOMPARE(describe(enabledOf(m)), ReadingRow);
        QCOMPARE(m.ui()->btnBeginRead->text(), QStringLiteral("停止读数(&S)"));
        QCOMPARE(m.ValueText(), QString());
        m.btnBeginReadClick();
        QCOMPARE(describe(enabledOf(m)), PortIdleRow);
        QCOMPARE(m.ui()->btnBeginRead->text(), QStringLiteral("开始读数(&B)"));

        // During set address (the module answers late, so the state can be seen).
        QVERIFY(f.sim().ok(QStringLiteral("fault late 150")));
        QString during;
        QTimer::singleShot(60, &m, [&] { during = describe(enabledOf(m)); });
        m.btnSetDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(during, SettingAddressRow);
        QCOMPARE(describe(enabledOf(m)), PortIdleRow);

        m.btnOpenClick();
        QVERIFY(!m.IsPortOpen());
        QCOMPARE(describe(enabledOf(m)), PortClosedRow);
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void readAndSetAddress()
    {
        MainFixture f;
        QVERIFY(f.connect({QStringLiteral("--address"), QStringLiteral("9")}));
        TfrmMain &m = f.main();
        f.sim().clearLog();
        m.btnDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(m.ValueText(), ReadOk);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(9));
        QVERIFY(f.sim().waitForReceivedFrames(1));
        QCOMPARE(Hex(f.sim().receivedFrames().constFirst()), QStringLiteral("3F 00 02 3D 23"));
        QVERIFY(f.iniText().contains("Device Number=9"));

        f.sim().clearLog();
        f.pauses.clear();
        m.SetCurrentAddress(12);
        m.btnSetDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(m.ValueText(), QStringLiteral("写入成功！"));
        QVERIFY(f.sim().waitForReceivedFrames(2));
        const auto rx = f.sim().receivedFrames();
        QCOMPARE(Hex(rx[0]), QStringLiteral("3D 00 02 00 00 00 0C 33 23"));
        QCOMPARE(Hex(rx[1]), Hex(DeviceLink::toBytes(BuildQueryFrame(12, CmdStore))));
        QCOMPARE(f.pauses, QList<int>{100});
        QCOMPARE(f.sim().command(QStringLiteral("module 12")).left(2), QStringLiteral("OK"));
        QCOMPARE(m.CurrentAddress(), DeviceAddress(12));

        // "设置成功！" shows between the two steps.
        QString between;
        SetPauseHook([&](int) { between = m.ValueText(); });
        m.btnSetDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(between, QStringLiteral("设置成功！"));
    }

    void silentModule()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        QVERIFY(f.sim().ok(QStringLiteral("fault silent on")));
        m.SetCurrentAddress(4);
        m.btnDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(m.ValueText(), ReadTimeout);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(4));

        f.sim().clearLog();
        QString afterFirst;
        SetPauseHook([&](int) { afterFirst = m.ValueText(); });
        m.btnSetDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(afterFirst, WriteTimeout);
        QCOMPARE(m.ValueText(), WriteTimeout);
        QVERIFY(f.sim().waitForReceivedFrames(2)); // both steps always run
        QCOMPARE(describe(enabledOf(m)), PortIdleRow);

        // Live reading stops on the first unanswered poll.
        m.btnBeginReadClick();
        QTRY_COMPARE_WITH_TIMEOUT(m.state(), TfrmMain::State::PortIdle, 3000);
        QCOMPARE(m.ValueText(), ReadTimeout);
        QCOMPARE(m.ui()->btnBeginRead->text(), QStringLiteral("开始读数(&B)"));
        QVERIFY(!m.timerRead().isActive());
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void liveReadingMissesNoSample()
    {
        MainFixture f(2000);
        QVERIFY(f.connect({QStringLiteral("--load"), QStringLiteral("1234"), QStringLiteral("--noise"),
                           QStringLiteral("50")}));
        TfrmMain &m = f.main();
        m.SetReadInterval(20);
        m.btnClearClick();
        f.sim().clearLog();
        m.btnBeginReadClick();
        QTest::qWait(3000);
        m.btnBeginReadClick();
        QTest::qWait(100); // a reply still under way is plotted too
        const qsizetype points = m.chart()->count(0);
        QVERIFY2(points > 100, qPrintable(QString::number(points)));
        QCOMPARE(points, qsizetype(f.sim().sentFrames().size()));
        for (qsizetype i = 0; i < points; ++i)
            QCOMPARE(m.chart()->x(0, i), double(i + 1));
        QCOMPARE(m.SampleCount(), qint64(points));
        QCOMPARE(m.state(), TfrmMain::State::PortIdle);
    }

    void noiseIsNeitherShownNorPlotted()
    {
        // Before every reply the line brings nine bytes that look like one
        // (from "=", value 999.9) but carry a wrong check byte.
        MainFixture f;
        QVERIFY(f.connect({QStringLiteral("--load"), QStringLiteral("1234")}));
        TfrmMain &m = f.main();
        const double measured = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt() / 10.0;
        QVERIFY(f.sim().ok(QStringLiteral("fault noise on")));
        m.SetReadInterval(20);
        m.btnClearClick();
        m.btnBeginReadClick();
        QTRY_VERIFY(m.chart()->count(0) >= 20);
        m.btnBeginReadClick();
        QTRY_VERIFY(!m.PollPending() && !m.link().LineBusy());
        const qsizetype points = m.chart()->count(0);
        for (qsizetype i = 0; i < points; ++i)
            QCOMPARE(m.chart()->y(0, i), measured);
        QVERIFY2(!m.ValueText().contains(QStringLiteral("999.9")), qPrintable(m.ValueText()));
        // Each faulty frame is counted where the operator looks.
        QVERIFY(m.link().droppedFrames() >= quint64(points));
        const auto *dropped = m.findChild<QLabel *>(QStringLiteral("sttDroppedFrames"));
        QVERIFY(dropped && !dropped->isHidden());
        QVERIFY(dropped->text().endsWith(QString::number(m.link().droppedFrames())));
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void busScanHoldsTheLine()
    {
        MainFixture f;
        QVERIFY(f.connect({QStringLiteral("--address"), QStringLiteral("3")}));
        TfrmMain &m = f.main();
        Ui::TfrmMain *u = m.ui();
        m.SetCurrentAddress(3);
        BusScanner scanner(f.session());
        scanner.setListenMs(0);
        scanner.setTimeoutMs(BusScanner::MinTimeoutMs);
        QList<DeviceAddress> conflicts;
        connect(&scanner, &BusScanner::conflict, this,
                [&](DeviceAddress, DeviceAddress answered) { conflicts << answered; });
        QCOMPARE(scanner.start(1, 40), BusScanner::Refusal::None);
        // What would use the line is unavailable; reaching it anyway is refused with a word.
        QVERIFY(!u->btnDN->isEnabled() && !u->btnBeginRead->isEnabled() && !u->btnSetDN->isEnabled());
        QVERIFY(!u->btnZero->isEnabled() && !u->btnCalibrate->isEnabled() && !u->btnParam->isEnabled());
        m.btnBeginReadClick();
        QVERIFY(!m.session().IsReading());
        m.btnDNClick();
        QTRY_VERIFY(!m.AddressRunActive());
        QTRY_COMPARE(f.prompts.errors, (QStringList{DeviceLink::TextLineHeld(), DeviceLink::TextLineHeld()}));
        QVERIFY(m.ValueText() != ReadOk);
        QTRY_VERIFY_WITH_TIMEOUT(!scanner.isRunning(), 10000);
        QVERIFY(conflicts.isEmpty());
        QCOMPARE(describe(enabledOf(m)), PortIdleRow);

        // Afterwards both work, and the first reading is shown and plotted.
        m.SetCurrentAddress(9);
        m.btnDNClick();
        QTRY_VERIFY(!m.AddressRunActive());
        QCOMPARE(m.ValueText(), ReadOk);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(3));
        m.btnClearClick();
        m.btnBeginReadClick();
        QTRY_COMPARE(m.chart()->count(0), 1);
        QVERIFY(m.ValueText().endsWith(QStringLiteral("kg")));
        m.btnBeginReadClick();
    }

    void pulledDeviceEndsTheWait()
    {
        MainFixture f(5000);
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        QVERIFY(f.sim().ok(QStringLiteral("fault silent on")));
        QTimer::singleShot(200, &f.sim(), [&] { f.sim().kill(); });
        QElapsedTimer t;
        t.start();
        m.btnDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(m.ValueText(), ReadTimeout);
        QTRY_COMPARE(f.prompts.errors.size(), 1);
        QVERIFY(!m.IsPortOpen());
        QCOMPARE(describe(enabledOf(m)), PortClosedRow);
        QTest::qWait(200);
        QCOMPARE(f.prompts.errors.size(), 1); // told once
    }

    void pulledDeviceWhileReading()
    {
        MainFixture f(5000);
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        m.SetReadInterval(20);
        m.btnBeginReadClick();
        QTest::qWait(300);
        f.sim().kill();
        QTRY_COMPARE_WITH_TIMEOUT(m.state(), TfrmMain::State::PortClosed, 3000);
        QTRY_COMPARE(f.prompts.errors.size(), 1);
        QVERIFY(!m.timerRead().isActive());
        QCOMPARE(describe(enabledOf(m)), PortClosedRow);
        QCOMPARE(m.ui()->btnBeginRead->text(), QStringLiteral("开始读数(&B)"));
    }

    void automaticSending()
    {
        MainFixture f;
        QVERIFY(f.connect({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--auto-rate"),
                           QStringLiteral("200"), QStringLiteral("--load"), QStringLiteral("777")}));
        TfrmMain &m = f.main();
        m.SetCurrentAddress(1);
        m.current().Decimal = 0;
        f.sim().clearLog();

        f.prompts.answerYes = false;
        m.btnReportClick();
        QTest::qWait(100);
        QVERIFY(f.sim().receivedFrames().isEmpty());
        QCOMPARE(f.prompts.questions.size(), 1);
        QCOMPARE(f.prompts.questions[0],
                 QStringLiteral("此操作将使模块进入自动发送状态，继续吗？（再次上电自动取消自动发送）"));

        const QString before = m.ValueText();
        f.prompts.answerYes = true;
        m.mnuEvaluateClick();
        QCOMPARE(m.ValueText(), before); // nothing changes at the click
        QVERIFY(f.sim().waitForReceivedFrames(1));
        QCOMPARE(Hex(f.sim().receivedFrames().constFirst()), QStringLiteral("3F 00 17 28 23"));
        QTRY_VERIFY(m.chart()->count(0) >= 20);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(5));
        QCOMPARE(m.ValueText(), QStringLiteral("777kg"));
        QCOMPARE(m.state(), TfrmMain::State::PortIdle);

        // One point per reply, x counting on.
        QVERIFY(f.sim().ok(QStringLiteral("powercycle")));
        QTest::qWait(100);
        const qsizetype points = m.chart()->count(0);
        QCOMPARE(points, qsizetype(f.sim().sentFrames().size()));
        QCOMPARE(m.chart()->x(0, points - 1), double(points));

        // The button also works while reading; the menu item is disabled then.
        m.SetReadInterval(50);
        m.btnBeginReadClick();
        QVERIFY(!m.ui()->mnuEvaluate->isEnabled());
        QVERIFY(m.ui()->btnReport->isEnabled());
        f.sim().clearLog();
        m.btnReportClick();
        QVERIFY(f.sim().waitForLine(QStringLiteral("RX 3F 00 17 28 23")).size() > 0);
        m.btnBeginReadClick();
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void exportAndImportThroughTheWindow()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        ChartWidget *c = m.chart();
        for (double y : {10.0, 12.0, 11.0}) {
            m.reply().ReplyValue = int(y * 10);
            m.ShowValue();
            m.PlotValue();
        }
        m.ui()->tbFilterClass->setValue(2);
        QCOMPARE(m.ui()->sttFilterClass->text(), QStringLiteral("滤波级数：2"));
        QCOMPARE(c->count(1), 3);
        QCOMPARE(c->y(1, 1), 10.2);

        const QString file = f.settingsDir() + QStringLiteral("/samples.txt");
        f.prompts.saveName = file;
        m.btnExportClick();
        QFile exported(file);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QByteArray text = exported.readAll();
        QCOMPARE(text.count("\r\n"), 4);
        QVERIFY(text.startsWith("Channel 1(X)\tChannel 1(Y)\tChannel 2(X)\tChannel 2(Y)\tChannel 3(X)\tChannel 3(Y)"));

        m.btnClearClick();
        f.prompts.openName = file;
        m.btnLoadDataClick();
        m.btnLoadDataClick();
        QVERIFY(f.prompts.errors.isEmpty());
        QCOMPARE(c->count(0), 6);
        QCOMPARE(c->count(2), 4);
        QCOMPARE(c->x(2, 3), 6.0);
        QCOMPARE(c->y(2, 3), 11.0);
        QCOMPARE(m.SampleCount(), qint64(0)); // an import does not move the sample counter

        // Failures are reported with their prefix; an empty chart gets no mean line.
        m.btnClearClick();
        QFile header(f.settingsDir() + QStringLiteral("/header.txt"));
        QVERIFY(header.open(QIODevice::WriteOnly));
        header.write("Channel 1(X)\tChannel 1(Y)\r\n");
        header.close();
        f.prompts.openName = header.fileName();
        m.btnLoadDataClick();
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY(f.prompts.errors[0].startsWith(QStringLiteral("Error Loading Data - ")));
        QCOMPARE(c->count(2), 0);

        f.prompts.saveName = f.settingsDir() + QStringLiteral("/missing/dir/x.txt");
        m.E1Click();
        QCOMPARE(f.prompts.errors.size(), 2);
        QVERIFY(f.prompts.errors[1].startsWith(QStringLiteral("Error Saving Data - ")));

        f.prompts.saveName.clear(); // cancelled
        m.btnExportClick();
        QCOMPARE(f.prompts.errors.size(), 2);
    }

    void markerViewAndMenus()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        // The box, the chart and the file agree however the box is changed.
        m.ui()->ckbViewMarker->setChecked(true);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY(m.chart()->markersVisible(ch));
        QVERIFY(f.iniText().contains("ViewDataMarker=1"));
        m.ui()->ckbViewMarker->setFocus();
        QTest::keyClick(m.ui()->ckbViewMarker, Qt::Key_Space);
        QVERIFY(!m.ui()->ckbViewMarker->isChecked());
        QVERIFY(!m.chart()->markersVisible(0));
        QVERIFY(f.iniText().contains("ViewDataMarker=0"));
        m.ui()->ckbViewMarker->toggle();
        QVERIFY(m.chart()->markersVisible(2));
        QVERIFY(f.iniText().contains("ViewDataMarker=1"));

        // The menu's shortcuts act in the chart area only: F2 typed in the
        // address field clears nothing.
        m.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m));
        m.PlotValue();
        m.ui()->speDN->setFocus();
        QTest::keyClick(m.ui()->speDN, Qt::Key_F2);
        QCOMPARE(m.chart()->count(0), 1);
        m.chart()->setFocus();
        QTest::keyClick(m.chart(), Qt::Key_F2);
        QCOMPARE(m.chart()->count(0), 0);

        QVERIFY(!m.chart()->toolbarVisible());
        m.ui()->M1->trigger();
        QVERIFY(m.chart()->toolbarVisible());
        QVERIFY(m.chart()->toolbarEnabled());
        m.ui()->M1->trigger();
        QVERIFY(!m.chart()->toolbarVisible());

        m.ui()->F1->trigger();
        QVERIFY(m.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(m.isVisible());
        QVERIFY(f.iniText().contains("StayOnTop=1"));
        m.ui()->F1->setChecked(false);
        m.PopupMenu1Popup(); // the check mark follows the window
        QVERIFY(m.ui()->F1->isChecked());
    }

    void writeFailureShownByTheHandlerGuard()
    {
        FakeDevice dev;
        DeviceLink link(nullptr, 100);
        link.attach(&dev);
        dev.setFailWrites(true);
        ScriptedPrompter prompts;
        Guarded(nullptr, [&] { SendFrameNow(link, BuildQueryFrame(1, CmdReadValue)); });
        QCOMPARE(prompts.errors.size(), 1);
        QVERIFY(prompts.errors[0].contains(QStringLiteral("simulated write failure")));
    }

    void pollingGoesOnUnderAWindowOpenedDuringAPoll()
    {
        MainFixture f(2000);
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        QVERIFY(f.sim().ok(QStringLiteral("fault late 150")));
        m.SetReadInterval(20);
        const QString poll = QStringLiteral("RX ") + Hex(DeviceLink::toBytes(BuildQueryFrame(m.CurrentAddress(), CmdReadValue)));
        // A window opened while a poll waits for its (late) reply, as a
        // double-click on the value display or the editor's button would.
        int pollsUnderDialog = -1;
        bool opened = false;
        const auto open = QObject::connect(&f.sim(), &TxSim::lineReceived, &m, [&](const QString &line) {
            if (line != poll || opened)
                return;
            opened = true;
            QTimer::singleShot(0, &m, [&] {
                QVERIFY(m.PollPending());
                QDialog dialog(&m);
                const qsizetype before = f.sim().receivedFrames().size();
                QTimer check;
                QObject::connect(&check, &QTimer::timeout, &dialog, [&] {
                    if (f.sim().receivedFrames().size() - before >= 3 || !m.timerRead().isActive())
                        dialog.accept();
                });
                check.start(10);
                QTimer::singleShot(8000, &dialog, &QDialog::reject);
                dialog.exec();
                pollsUnderDialog = int(f.sim().receivedFrames().size() - before);
                QCOMPARE(m.ui()->btnBeginRead->text(), QStringLiteral("停止读数(&S)"));
            });
        });
        m.btnBeginReadClick();
        QTRY_VERIFY_WITH_TIMEOUT(pollsUnderDialog >= 0, 10000);
        QObject::disconnect(open);
        QVERIFY2(pollsUnderDialog >= 3, qPrintable(QString::number(pollsUnderDialog)));
        QCOMPARE(m.state(), TfrmMain::State::Reading);
        m.btnBeginReadClick();
        QVERIFY(!m.PollPending());
        QVERIFY(f.prompts.errors.isEmpty());
    }

    void settingsWriteFailureToldOnce()
    {
        MainFixture f;
        // A "Data.ini" that is a directory can be neither read nor replaced.
        QVERIFY(QDir(f.settingsDir()).mkdir(QStringLiteral("Data.ini")));
        TfrmMain &m = f.create();
        m.ui()->ckbViewMarker->toggle();
        m.ui()->F1->trigger();
        m.SetCurrentAddress(9);
        QTRY_COMPARE(f.prompts.errors.size(), 1);
        QVERIFY(f.prompts.errors[0].contains(f.iniPath()));
        QVERIFY(f.prompts.errors[0].startsWith(QStringLiteral("设置无法写入文件")));
        m.ui()->F1->trigger();
        QTest::qWait(300);
        QCOMPARE(f.prompts.errors.size(), 1); // once per run
        QVERIFY(m.chart()->markersVisible(0)); // and the program goes on
    }

    void vanishedPortStaysSelected()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        const QString port = f.sim().portName();
        f.sim().kill();
        QTRY_COMPARE(f.prompts.errors.size(), 1);
        m.RefreshPortList();
        QCOMPARE(m.ui()->cbbPort->currentText(), port);
        // The next opening tries that port and says so, not another one.
        m.btnOpenClick();
        QVERIFY(!m.IsPortOpen());
        QCOMPARE(f.prompts.errors.size(), 2);
        QVERIFY(f.prompts.errors[1].startsWith(QStringLiteral("串口打开失败！")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
