// The bus scan window against the simulator, beside the main window.
#include "MainFixture.h"
#include "bustools/BusScanUnit.h"
#include "ui_BusScanUnit.h"
#include "ui_MainUnit.h"

#include <QTest>
#include <QTreeWidget>

namespace
{
constexpr int ScanEndMs = 30000;

void SetRange(TfrmBusScan &w, int from, int to, int timeoutMs)
{
    w.ui()->speFrom->setClampedValue(from);
    w.ui()->speTo->setClampedValue(to);
    w.ui()->speTimeout->setClampedValue(timeoutMs);
}

/// Starts a scan with the button and waits until the window takes the next one.
bool RunScan(TfrmBusScan &w)
{
    QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
    if (w.ui()->btnStart->isEnabled() || !w.ui()->btnStop->isEnabled())
        return false;
    return QTest::qWaitFor([&w] { return w.ui()->btnStart->isEnabled(); }, ScanEndMs);
}

QStringList RowTexts(QTreeWidget *list, int row)
{
    QStringList texts;
    QTreeWidgetItem *item = list->topLevelItem(row);
    for (int c = 0; item && c < list->columnCount(); ++c)
        texts << item->text(c);
    return texts;
}
} // namespace

class TestBusScan : public QObject
{
    Q_OBJECT
private slots:
    void listsTheModulesAndMakesOneCurrent()
    {
        MainFixture f;
        f.writeIni("[System Parameters]\r\nDecimal=2\r\nMeasure Unit=N\r\n");
        QVERIFY(f.connect({QStringLiteral("--address"), QStringLiteral("3"), QStringLiteral("--address"),
                           QStringLiteral("17")}));
        QVERIFY(f.sim().ok(QStringLiteral("module 17")) && f.sim().ok(QStringLiteral("load 4321")));
        const qint32 measured17 = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt();
        QVERIFY(f.sim().ok(QStringLiteral("module 3")) && f.sim().ok(QStringLiteral("load -250")));
        const qint32 measured3 = f.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt();
        const QString addressBefore = f.main().ui()->speDN->text();

        TfrmBusScan w(f.session(), &f.main());
        w.show();
        QVERIFY(!w.isModal());
        // The defaults: the whole range at 100 ms a question.
        QCOMPARE(w.ui()->speFrom->text(), QStringLiteral("1"));
        QCOMPARE(w.ui()->speTo->text(), QStringLiteral("255"));
        QCOMPARE(w.ui()->speTimeout->text(), QStringLiteral("100"));

        SetRange(w, 1, 18, 100);
        QVERIFY(RunScan(w));
        QCOMPARE(w.ui()->lvModules->topLevelItemCount(), 2);
        // Address, the value with two decimals and the unit, the answer time in ms.
        const QStringList row3 = RowTexts(w.ui()->lvModules, 0);
        QCOMPARE(row3.mid(0, 2),
                 (QStringList{QStringLiteral("3"),
                              QString::number(measured3 / 100.0, 'f', 2) + QStringLiteral("N")}));
        QVERIFY(row3[2].toDouble() >= 0 && row3[2].toDouble() < 100);
        QCOMPARE(RowTexts(w.ui()->lvModules, 1).mid(0, 2),
                 (QStringList{QStringLiteral("17"),
                              QString::number(measured17 / 100.0, 'f', 2) + QStringLiteral("N")}));
        QCOMPARE(w.ui()->lvConflicts->topLevelItemCount(), 0);
        QCOMPARE(w.ui()->pbScan->value(), w.ui()->pbScan->maximum());
        QCOMPARE(w.ui()->sttAsking->text(), QStringLiteral("扫描完成：找到 2 个模块"));
        // Scanning moved neither the main window's address nor its value display.
        QCOMPARE(f.main().ui()->speDN->text(), addressBefore);
        QVERIFY(!f.iniText().contains("Device Number=17"));

        // A double click makes the module the current one, as if typed into the address field.
        QTreeWidgetItem *item17 = w.ui()->lvModules->topLevelItem(1);
        QVERIFY(!w.ui()->btnUse->isEnabled()); // nothing selected yet
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget *viewport = w.ui()->lvModules->viewport();
        const QPoint row17 = w.ui()->lvModules->visualItemRect(item17).center();
        // The first click of a double click selects the row.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, row17);
        QVERIFY(w.ui()->btnUse->isEnabled());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, row17);
        QCOMPARE(f.main().ui()->speDN->text(), QStringLiteral("17"));
        QCOMPARE(f.session().CurrentAddress(), DeviceAddress(17));
        QTRY_VERIFY(f.iniText().contains("Device Number=17"));
        // And so does the button.
        w.ui()->lvModules->setCurrentItem(w.ui()->lvModules->topLevelItem(0));
        QTest::mouseClick(w.ui()->btnUse, Qt::LeftButton);
        QCOMPARE(f.main().ui()->speDN->text(), QStringLiteral("3"));
        QTRY_VERIFY(f.iniText().contains("Device Number=3"));
        PollOnce(f.main());
        QCOMPARE(f.sim().receivedFrames().constLast(), DeviceLink::toBytes(BuildQueryFrame(3, CmdReadValue)));

        // A late answer is listed as a conflict, not as a module.
        QVERIFY(f.sim().ok(QStringLiteral("fault late 150")));
        SetRange(w, 3, 7, 100);
        QVERIFY(RunScan(w));
        QCOMPARE(w.ui()->lvModules->topLevelItemCount(), 0);
        QCOMPARE(w.ui()->lvConflicts->topLevelItemCount(), 1);
        const QStringList conflict = RowTexts(w.ui()->lvConflicts, 0);
        QVERIFY(conflict[0].toInt() > 3);
        QCOMPARE(conflict.mid(1), (QStringList{QStringLiteral("3"),
                                               QStringLiteral("地址 3 的模块超时后才应答，请加大超时时间")}));
    }

    void refusesWhileTheLineIsNotFreeAndStops()
    {
        MainFixture f;
        f.create();
        TfrmBusScan w(f.session(), &f.main());
        w.show();
        SetRange(w, 2, 255, 300);

        // Port closed.
        QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
        QCOMPARE(f.prompts.messages, QStringList{QStringLiteral("串口未打开，不能扫描。请先打开串口。")});
        QVERIFY(w.ui()->btnStart->isEnabled());

        // Live reading.
        QVERIFY(f.connect());
        f.main().btnBeginReadClick();
        QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
        QCOMPARE(f.prompts.messages.constLast(), QStringLiteral("正在实时读数，不能扫描。请先停止读数。"));
        QVERIFY(w.ui()->btnStart->isEnabled());
        f.main().btnBeginReadClick();
        QVERIFY(!f.session().IsReading());

        // Stop: the scan ends with the question in progress.
        f.sim().clearLog();
        QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
        QTRY_VERIFY(w.ui()->sttAsking->text().startsWith(QStringLiteral("正在询问地址 3")));
        QTest::mouseClick(w.ui()->btnStop, Qt::LeftButton);
        QVERIFY(!w.ui()->btnStop->isEnabled());
        QTRY_VERIFY(w.ui()->btnStart->isEnabled());
        QVERIFY(w.ui()->sttAsking->text().startsWith(QStringLiteral("扫描已停止")));
        QCOMPARE(f.sim().receivedFrames().size(), 2);

        // Closing the window stops a scan too.
        QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
        QVERIFY(w.scanner().isRunning());
        w.reject();
        QVERIFY(!w.isVisible());
        QTRY_VERIFY(!w.scanner().isRunning());
        w.show();

        // Modules in automatic sending (switched on from the main window).
        f.prompts.answerYes = true;
        f.main().btnReportClick();
        QVERIFY(f.sim().waitForSentFrames(1));
        f.sim().clearLog();
        QTest::mouseClick(w.ui()->btnStart, Qt::LeftButton);
        QTRY_VERIFY(w.ui()->btnStart->isEnabled());
        QVERIFY(f.prompts.messages.constLast().startsWith(QStringLiteral("未询问就收到了应答")));
        QVERIFY(f.sim().receivedFrames().isEmpty());
        QVERIFY(f.sim().ok(QStringLiteral("powercycle")));
    }
};

QTEST_MAIN(TestBusScan)
#include "tst_busscan.moc"
