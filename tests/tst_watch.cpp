// The watch window against the simulator: modules added from a bus scan, a
// computed sum, a limit crossed and acknowledged, the alarm list, the CSV
// export and its import back into the chart, the setup kept in Data.ini.
#include "MainFixture.h"
#include "bustools/BusScanUnit.h"
#include "chart/ChartWidget.h"
#include "ui_BusScanUnit.h"
#include "ui_WatchSetupUnit.h"
#include "ui_WatchUnit.h"
#include "watch/WatchSetupUnit.h"
#include "watch/WatchUnit.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

namespace
{
constexpr int WaitMs = 20000;
constexpr int Modules = 4;

void Click(QAbstractButton *button)
{
    QVERIFY2(button->isEnabled(), qPrintable(button->text()));
    QTest::mouseClick(button, Qt::LeftButton);
}

QString Cell(const TfrmWatch &w, int row, int column)
{
    return w.ui()->tblWatch->item(row, column)->text();
}

/// The module's measured value as the simulator sends it.
qint32 Measured(TxSim &sim, int address)
{
    sim.ok(QStringLiteral("module %1").arg(address));
    return sim.command(QStringLiteral("get 1")).section(u' ', 1).toInt();
}

void SetLoad(TxSim &sim, int address, int load)
{
    QVERIFY(sim.ok(QStringLiteral("module %1").arg(address)));
    QVERIFY(sim.ok(QStringLiteral("load %1").arg(load)));
}

QList<QByteArray> CsvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

class TestWatch : public QObject
{
    Q_OBJECT
private slots:
    void scanWatchAlarmExportImport()
    {
        MainFixture f;
        f.writeIni("[System Parameters]\r\nDecimal=1\r\nMeasure Unit=kg\r\n");
        QVERIFY(f.connect({QStringLiteral("--modules"), QString::number(Modules)}));
        qint32 measured[Modules + 1] = {};
        for (int address = 1; address <= Modules; ++address) {
            SetLoad(f.sim(), address, 1000 * address);
            measured[address] = Measured(f.sim(), address);
        }

        // The scan finds the four modules; its button hands them to the watch.
        TfrmBusScan scan(f.session(), &f.main());
        TfrmWatch w(f.session(), f.settings(), &f.main());
        connect(&scan, &TfrmBusScan::addToWatch, &w, &TfrmWatch::AddModules);
        scan.show();
        scan.ui()->speFrom->setClampedValue(1);
        scan.ui()->speTo->setClampedValue(Modules + 2);
        scan.ui()->speTimeout->setClampedValue(100);
        Click(scan.ui()->btnStart);
        QVERIFY(QTest::qWaitFor([&] { return scan.ui()->btnStart->isEnabled(); }, WaitMs));
        Click(scan.ui()->btnWatch);
        QVERIFY(w.isVisible());
        QCOMPARE(w.config().modules.size(), Modules);
        for (int i = 0; i < Modules; ++i) {
            QCOMPARE(w.config().modules[i].address, DeviceAddress(i + 1));
            QCOMPARE(w.config().modules[i].name, QStringLiteral("模块 %1").arg(i + 1));
            QCOMPARE(w.config().modules[i].decimals, 1);
            QCOMPARE(w.config().modules[i].unit, QStringLiteral("kg"));
        }

        // The setup dialog: a sum of all four, and a high limit on module 2
        // above its value (one decimal: the value in kg is measured / 10).
        const double high2 = measured[2] / 10.0 + 50;
        SetModalHook([&](QDialog *d) {
            auto *setup = qobject_cast<TfrmWatchSetup *>(d);
            Click(setup->ui()->btnAddChannel);
            setup->ui()->tblChannels->item(0, TfrmWatchSetup::ColChannelName)->setText(QStringLiteral("总重"));
            setup->ui()->tblModules->item(1, TfrmWatchSetup::ColHigh)->setText(QString::number(high2));
            Click(setup->ui()->bbxButtons->button(QDialogButtonBox::Ok));
            return d->result();
        });
        Click(w.ui()->btnSetup);
        SetModalHook({});
        QCOMPARE(f.prompts.errors, QStringList());
        QVERIFY(f.iniText().contains(QStringLiteral("Channel1=sum;1,2,3,4;总重;kg").toUtf8()));
        QVERIFY(f.iniText().contains(QStringLiteral("Limit.模块 2=;%1").arg(high2).toUtf8()));
        QCOMPARE(w.ui()->tblWatch->rowCount(), Modules + 1);

        Click(w.ui()->btnStart);
        QVERIFY(QTest::qWaitFor([&] { return w.watch().rounds() >= 5; }, WaitMs));
        w.RefreshView();
        double sum = 0;
        for (int i = 0; i < Modules; ++i) {
            const double kg = measured[i + 1] / 10.0;
            sum += kg;
            QCOMPARE(Cell(w, i, TfrmWatch::ColValue), QString::number(kg, 'f', 1) + QStringLiteral("kg"));
            QCOMPARE(Cell(w, i, TfrmWatch::ColMin), QString::number(kg, 'f', 1));
            QCOMPARE(Cell(w, i, TfrmWatch::ColMax), QString::number(kg, 'f', 1));
            QCOMPARE(Cell(w, i, TfrmWatch::ColStdDev), QStringLiteral("0.00"));
            QCOMPARE(Cell(w, i, TfrmWatch::ColTimeouts), QStringLiteral("0"));
            QCOMPARE(Cell(w, i, TfrmWatch::ColState), QStringLiteral("正常"));
        }
        QCOMPARE(Cell(w, Modules, TfrmWatch::ColName), QStringLiteral("总重"));
        QCOMPARE(Cell(w, Modules, TfrmWatch::ColValue), QString::number(sum, 'f', 1) + QStringLiteral("kg"));
        QVERIFY(!w.ui()->btnAcknowledge->isEnabled());
        // The round count in the status bar shows whole.
        const auto *roundsLabel = w.findChild<QLabel *>(QStringLiteral("sttRounds"));
        QVERIFY(roundsLabel && roundsLabel->text().contains(QString::number(w.watch().rounds())));
        QVERIFY(roundsLabel->width() >= roundsLabel->sizeHint().width());

        // Module 2 goes above its limit: row and trace red, the status bar says which.
        const int trace2 = w.ChartChannelOf(1);
        const QColor normal2 = w.chart()->picture().trace(trace2).pen.color();
        SetLoad(f.sim(), 2, 9000);
        const double over2 = Measured(f.sim(), 2) / 10.0;
        QVERIFY(over2 > high2);
        QVERIFY(QTest::qWaitFor([&] { return w.alarms().state(QStringLiteral("模块 2")) == LimitAlarm::State::Active; },
                                WaitMs));
        QCOMPARE(w.ui()->StatusBar1->currentMessage(),
                 QStringLiteral("报警：模块 2 = %1kg，高于上限 %2kg")
                     .arg(QString::number(over2, 'f', 1), QString::number(high2, 'f', 1)));
        QTRY_COMPARE(w.findChild<QLabel *>(QStringLiteral("sttAlarm"))->text(), QStringLiteral("报警：模块 2（超限报警）"));
        QVERIFY(w.ui()->tblWatch->item(1, TfrmWatch::ColValue)->background().color() != QColor(Qt::white));
        QVERIFY(w.ui()->tblWatch->item(1, TfrmWatch::ColValue)->background().style() != Qt::NoBrush);
        QVERIFY(w.ui()->tblWatch->item(0, TfrmWatch::ColValue)->background().style() == Qt::NoBrush);
        QVERIFY(w.chart()->picture().trace(trace2).pen.color() != normal2);

        // Back inside: the alarm holds until acknowledged.
        SetLoad(f.sim(), 2, 2000);
        QVERIFY(QTest::qWaitFor([&] { return w.alarms().state(QStringLiteral("模块 2")) == LimitAlarm::State::Held; },
                                WaitMs));
        w.RefreshView();
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("sttAlarm"))->text(),
                 QStringLiteral("报警：模块 2（已回到限内，待确认）"));
        Click(w.ui()->btnAcknowledge);
        QCOMPARE(w.alarms().state(QStringLiteral("模块 2")), LimitAlarm::State::Normal);
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("sttAlarm"))->text(), QString());
        QCOMPARE(w.chart()->picture().trace(trace2).pen.color(), normal2);
        QVERIFY(w.ui()->tblWatch->item(1, TfrmWatch::ColValue)->background().style() == Qt::NoBrush);

        // The alarm list: one alarm, of module 2.
        f.prompts.saveName = f.settingsDir() + QStringLiteral("/alarms.csv");
        Click(w.ui()->btnAlarms);
        const QList<QByteArray> alarms = CsvLines(f.prompts.saveName);
        QCOMPARE(alarms.size(), 2);
        QVERIFY(alarms[1].contains(QStringLiteral("模块 2").toUtf8()));

        Click(w.ui()->btnStop);
        QVERIFY(!w.watch().isRunning());

        // Export: one row per round, a column per module and for the sum.
        const QString csv = f.settingsDir() + QStringLiteral("/watch.csv");
        f.prompts.saveName = csv;
        Click(w.ui()->btnExport);
        QCOMPARE(f.prompts.errors, QStringList());
        const QList<QByteArray> lines = CsvLines(csv);
        const qsizetype rounds = w.chart()->count(w.ChartChannelOf(0));
        QCOMPARE(lines.size(), rounds + 1);
        QCOMPARE(lines[0], QStringLiteral("\uFEFFtime,epoch_ms,模块 1 (kg),模块 2 (kg),模块 3 (kg),模块 4 (kg),总重 (kg)\r")
                               .toUtf8());
        for (qsizetype r = 1; r < lines.size(); ++r) {
            const QList<QByteArray> cells = lines[r].trimmed().split(',');
            QCOMPARE(cells.size(), 2 + Modules + 1);
            if (r == lines.size() - 1 && cells[2 + Modules - 1].isEmpty()) {
                // The round the stop cut short: no sum of part of the modules.
                QVERIFY(cells[2 + Modules].isEmpty());
                continue;
            }
            // Every module's value in its own column; the sum of the row's values in the last.
            QCOMPARE(cells[2].toDouble(), measured[1] / 10.0);
            QCOMPARE(cells[4].toDouble(), measured[3] / 10.0);
            double rowSum = 0;
            for (int i = 0; i < Modules; ++i)
                rowSum += cells[2 + i].toDouble();
            QCOMPARE(cells[2 + Modules].toDouble(), rowSum);
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(cells[1].toLongLong()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                     QString::fromUtf8(cells[0]));
        }

        // Import it back: the same values in the same traces, each at its row's time.
        std::vector<std::vector<double>> before(Modules + 1);
        for (int c = 0; c <= Modules; ++c) {
            const ChartChannel &points = w.chart()->data().channel(w.ChartChannelOf(c));
            for (qsizetype i = 0; i < points.count(); ++i)
                before[c].push_back(points.y(i));
        }
        f.prompts.openName = csv;
        Click(w.ui()->btnImport);
        QCOMPARE(f.prompts.errors, QStringList());
        QCOMPARE(w.chart()->channelCount(), ChartWidget::ChannelCount + Modules + 1);
        for (int c = 0; c <= Modules; ++c) {
            const ChartChannel &points = w.chart()->data().channel(w.ChartChannelOf(c));
            QCOMPARE(points.count(), qsizetype(before[c].size()));
            for (qsizetype i = 0; i < points.count(); ++i) {
                QCOMPARE(points.y(i), before[c][std::size_t(i)]);
                QCOMPARE(points.time(i), lines[i + 1].split(',')[1].toLongLong());
            }
        }

        // The watch is kept in the settings file and comes back with a new window.
        TfrmWatch again(f.session(), f.settings());
        QCOMPARE(again.config().modules, w.config().modules);
        QCOMPARE(again.config().channels, w.config().channels);
        QCOMPARE(again.config().limits, w.config().limits);
    }

    void journalBringsBackAWatchThatDidNotEnd()
    {
        MainFixture f;
        f.writeIni(QStringLiteral("[Watch]\r\nModule1=1;甲;1;kg;1\r\nModule2=2;乙;0;kg;0\r\n"
                                  "Channel1=sum;1,2;和;kg\r\n").toUtf8());
        QVERIFY(f.connect({QStringLiteral("--modules"), QStringLiteral("2")}));
        SetLoad(f.sim(), 1, 1234);
        SetLoad(f.sim(), 2, 50);
        const QString journal = f.settingsDir() + QStringLiteral("/Data.watch.journal");
        std::vector<std::vector<std::pair<double, double>>> recorded(3);
        {
            TfrmWatch w(f.session(), f.settings());
            QCOMPARE(w.ui()->tblWatch->rowCount(), 3);
            Click(w.ui()->btnStart);
            QVERIFY(QTest::qWaitFor([&] { return w.watch().rounds() >= 4; }, WaitMs));
            Click(w.ui()->btnStop);
            QVERIFY(w.journal().flush());
            for (int c = 0; c < 3; ++c) {
                const ChartChannel &points = w.chart()->data().channel(w.ChartChannelOf(c));
                for (qsizetype i = 0; i < points.count(); ++i)
                    recorded[std::size_t(c)].emplace_back(points.x(i), points.y(i));
            }
            // As a crash leaves it: the file stays (the normal end deletes it).
            QFile::remove(journal + QStringLiteral(".kept"));
            QVERIFY(QFile::copy(journal, journal + QStringLiteral(".kept")));
        }
        QVERIFY(!QFile::exists(journal));
        QVERIFY(QFile::rename(journal + QStringLiteral(".kept"), journal));

        TfrmWatch again(f.session(), f.settings());
        QVERIFY(QTest::qWaitFor([&] { return !f.prompts.questions.isEmpty(); }, WaitMs));
        QVERIFY(f.prompts.questions.constLast().startsWith(QStringLiteral("上次监视未正常结束")));
        for (int c = 0; c < 3; ++c) {
            const ChartChannel &points = again.chart()->data().channel(again.ChartChannelOf(c));
            QCOMPARE(points.count(), qsizetype(recorded[std::size_t(c)].size()));
            for (qsizetype i = 0; i < points.count(); ++i) {
                QCOMPARE(points.x(i), recorded[std::size_t(c)][std::size_t(i)].first);
                QCOMPARE(points.y(i), recorded[std::size_t(c)][std::size_t(i)].second);
            }
        }
    }

    void setupRefusesUnusableRows()
    {
        MainFixture f;
        f.create();
        TfrmWatch w(f.session(), f.settings());
        const struct {
            int row;
            int column;
            QString text;
            QString error;
        } cases[] = {
            {0, TfrmWatchSetup::ColAddress, QStringLiteral("256"), QStringLiteral("模块第 1 行：地址须为 1 到 255 之间的整数。")},
            {1, TfrmWatchSetup::ColAddress, QStringLiteral("1"), QStringLiteral("模块第 2 行：地址 1 已在列表中。")},
            {0, TfrmWatchSetup::ColDecimals, QStringLiteral("5"), QStringLiteral("模块第 1 行：小数位须为 0 到 4 之间的整数。")},
            {1, TfrmWatchSetup::ColName, QStringLiteral("模块 1"),
             QStringLiteral("模块第 2 行：名称“模块 1”已有，每个模块和通道须有自己的名称。")},
            {0, TfrmWatchSetup::ColLow, QStringLiteral("abc"), QStringLiteral("模块第 1 行：下限和上限须为数字或留空。")},
        };
        for (const auto &c : cases) {
            TfrmWatchSetup setup(w.config(), 1, QStringLiteral("kg"));
            Click(setup.ui()->btnAddModule);
            Click(setup.ui()->btnAddModule);
            setup.ui()->tblModules->item(c.row, c.column)->setText(c.text);
            f.prompts.errors.clear();
            setup.accept();
            QCOMPARE(f.prompts.errors, QStringList{c.error});
            QCOMPARE(setup.result(), int(QDialog::Rejected));
        }
        // A channel naming a module that is not in the list.
        TfrmWatchSetup setup(w.config(), 1, QStringLiteral("kg"));
        Click(setup.ui()->btnAddModule);
        Click(setup.ui()->btnAddChannel);
        setup.ui()->tblChannels->item(0, TfrmWatchSetup::ColMembers)->setText(QStringLiteral("1,2"));
        f.prompts.errors.clear();
        setup.accept();
        QCOMPARE(f.prompts.errors,
                 QStringList{QStringLiteral("计算通道第 1 行：成员须为模块的序号（1 到 1），以逗号分隔。")});
    }
};

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
