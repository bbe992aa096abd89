#include "app/AppWindows.h"
#include "app/MainUnit.h"
#include "calibration/CalibrateUnit.h"
#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "settings/SystemParamsUnit.h"

#include "ScriptedPrompter.h"
#include "bustools/BusScanUnit.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "watch/WatchUnit.h"

#include <QAction>
#include <QDir>
#include <QApplication>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

class TestAppWindows : public QObject
{
    Q_OBJECT
private slots:
    void createsTheEightWindowsWithTheirCaptions()
    {
        QTemporaryDir dir;
        AppWindows::ConfigureApplication();
        // A display name of its own would be appended to every caption the
        // window system shows ("... — name"); unset, it is the plain name.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
        AppWindows windows(dir.path());
        const ParameterWindows &p = windows.parameters();
        QCOMPARE(windows.main()->windowTitle(), QStringLiteral("智能变送器数据采集软件 V140208"));
        QCOMPARE(windows.calibrate()->windowTitle(), QStringLiteral("正在标定"));
        QCOMPARE(p.param->windowTitle(), QStringLiteral("参数管理"));
        QCOMPARE(p.edit->windowTitle(), QStringLiteral("参数编辑"));
        QCOMPARE(p.readAll->windowTitle(), QStringLiteral("读出全部参数"));
        QCOMPARE(p.special->windowTitle(), QStringLiteral("特殊参数配置"));
        QCOMPARE(p.password->windowTitle(), QStringLiteral("参数编辑"));
        QCOMPARE(windows.systemParams()->windowTitle(), QStringLiteral("显示参数"));
        windows.main()->show();
        QVERIFY(!windows.calibrate()->isVisible());
        QCOMPARE(windows.main()->ValueText(), QStringLiteral("0.0kg"));
    }

    void contextMenuReachesTheBusToolsAndTheAboutBox()
    {
        QTemporaryDir dir;
        ScriptedPrompter prompts;
        AppWindows windows(dir.path());
        TfrmMain *main = windows.main();
        main->show();
        const auto item = [main](const char *name) { return main->findChild<QAction *>(QLatin1String(name)); };
        QVERIFY(item("mnuProtocolMonitor") && item("mnuBusScan") && item("mnuAbout"));
        QCOMPARE(item("mnuProtocolMonitor")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
        QCOMPARE(item("mnuBusScan")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
        item("mnuProtocolMonitor")->trigger();
        QVERIFY(windows.monitor()->isVisible());
        QVERIFY(!QApplication::activeModalWidget()); // the main window stays usable
        item("mnuBusScan")->trigger();
        QVERIFY(windows.busScan()->isVisible());
        QCOMPARE(item("mnuWatch")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
        item("mnuWatch")->trigger();
        QVERIFY(windows.watch()->isVisible());
        QCOMPARE(windows.watch()->windowTitle(), QStringLiteral("总线监视"));
        item("mnuAbout")->trigger();
        QCOMPARE(prompts.abouts.size(), 1);
        QVERIFY(prompts.abouts[0].contains(QDir::toNativeSeparators(windows.settings().filePath())) ||
                prompts.abouts[0].contains(windows.settings().filePath()));
    }
};

QTEST_MAIN(TestAppWindows)
#include "tst_appwindows.moc"
