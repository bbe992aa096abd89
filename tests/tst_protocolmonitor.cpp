// The protocol monitor against the simulator, beside the main window: the
// frames of every window with their columns, unframed bytes, pause, clear,
// copy, the address filter, saving, and the row limit with its dropped count.
#include "LineWait.h"
#include "MainFixture.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "io/FileReplacement.h"
#include "ui_ProtocolMonitorUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

namespace
{
using M = ProtocolMonitorModel;

QStringList RowTexts(const QAbstractItemModel *model, int row)
{
    QStringList texts;
    for (int c = 0; c < model->columnCount(); ++c)
        texts << model->index(row, c).data().toString();
    return texts;
}

QString ValueText(const QByteArray &reply)
{
    return QString::number(DecodeValue(reinterpret_cast<const std::uint8_t *>(reply.constData()) + 3));
}

void Flush(TfrmProtocolMonitor &monitor)
{
    monitor.TimerFlushTimer();
}
} // namespace

class TestProtocolMonitor : public QObject
{
    Q_OBJECT
private slots:
    void listsTheTrafficOfEveryWindow()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmProtocolMonitor monitor(f.session(), &f.main());
        monitor.show();
        QVERIFY(monitor.IsWatching());

        PollOnce(f.main());
        // A write as the parameter and calibration windows make it, on the same link.
        QVERIFY(ExchangeNow(f.session().link(), BuildDataFrame(1, CmdZerO, -1)));
        QVERIFY(f.sim().ok(QStringLiteral("raw 01 02")));
        QTRY_COMPARE(monitor.UnframedCounted(), 1);
        QVERIFY(f.sim().ok(QStringLiteral("fault badcheck on")));
        PollOnce(f.main());
        Flush(monitor);

        const QList<QByteArray> replies = f.sim().sentFrames();
        QCOMPARE(replies.size(), 3);
        const ProtocolMonitorModel &model = monitor.model();
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(monitor.FramesCounted(), 6);

        const auto cells = [&](int row) { return RowTexts(&model, row).mid(M::ColDirection); };
        QCOMPARE(cells(0),
                 QStringList({"发送", "1", "CmdReadValue", "1", "", "3F 01 01 3F 23", "正确", "正确"}));
        QCOMPARE(cells(1), QStringList({"接收", "1", "CmdReadValue", "1", ValueText(replies[0]),
                                        Hex(replies[0]), "正确", "正确"}));
        QCOMPARE(cells(2), QStringList({"发送", "1", "CmdZerO", "3", "-1", "3D 01 03 FF FF FF FF 3F 23",
                                        "正确", "正确"}));
        QCOMPARE(cells(3), QStringList({"接收", "1", "CmdZerO", "3", ValueText(replies[1]), Hex(replies[1]),
                                        "正确", "正确"}));
        QCOMPARE(cells(4), QStringList({"接收", "", "无帧字节", "", "", "01 02", "", ""}));
        QCOMPARE(cells(5).at(5), QStringLiteral("3F 01 01 3F 23"));
        QCOMPARE(cells(6), QStringList({"接收", "1", "CmdReadValue", "1", ValueText(replies[2]),
                                        Hex(replies[2]), "错误", "正确"}));

        // Times: milliseconds since the port opened, never going back; the wall clock.
        const QRegularExpression clock(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"));
        qint64 previous = 0;
        for (int row = 0; row < model.rowCount(); ++row) {
            const qint64 ms = model.index(row, M::ColTime).data().toString().toLongLong();
            QVERIFY(ms >= previous);
            previous = ms;
            QVERIFY(clock.match(model.index(row, M::ColClock).data().toString()).hasMatch());
        }

        // Copy: the selected rows, tab-separated, in list order.
        QTableView *view = monitor.ui()->lvFrames;
        view->selectionModel()->select(model.index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(model.index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::mouseClick(monitor.ui()->btnCopy, Qt::LeftButton);
        const QStringList copied = QApplication::clipboard()->text().split(QLatin1Char('\n'));
        QCOMPARE(copied.size(), 3); // two lines and the end of the last
        QCOMPARE(copied[0], RowTexts(&model, 0).join(QLatin1Char('\t')));
        QCOMPARE(copied[1], RowTexts(&model, 2).join(QLatin1Char('\t')));

        // The monitor itself never wrote to the module: it received the program's three frames only.
        QCOMPARE(f.sim().receivedFrames().size(), 3);
    }

    void pauseKeepsCountingAndClearStartsAfresh()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmProtocolMonitor monitor(f.session(), &f.main());
        monitor.show();

        QTest::mouseClick(monitor.ui()->btnPause, Qt::LeftButton);
        QVERIFY(monitor.IsPaused());
        QCOMPARE(monitor.ui()->btnPause->text(), QStringLiteral("继续"));
        PollOnce(f.main());
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 0); // the list stands still
        QCOMPARE(monitor.FramesCounted(), 2);    // the frames are counted
        QCOMPARE(monitor.HeldRows(), 2);

        QTest::mouseClick(monitor.ui()->btnPause, Qt::LeftButton);
        QCOMPARE(monitor.ui()->btnPause->text(), QStringLiteral("暂停"));
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 2);
        QCOMPARE(monitor.HeldRows(), 0);

        QTest::mouseClick(monitor.ui()->btnClear, Qt::LeftButton);
        QCOMPARE(monitor.model().rowCount(), 0);
        QCOMPARE(monitor.FramesCounted(), 0);
        PollOnce(f.main());
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 2);

        // Closed, it watches nothing; opened again, the list starts empty.
        monitor.close();
        QVERIFY(!monitor.IsWatching());
        PollOnce(f.main());
        QCOMPARE(monitor.FramesCounted(), 2);
        monitor.show();
        QCOMPARE(monitor.model().rowCount(), 0);
        QCOMPARE(monitor.FramesCounted(), 0);
        PollOnce(f.main());
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 2);
    }

    void filterByAddress()
    {
        MainFixture f;
        QVERIFY(f.connect({QStringLiteral("--address"), QStringLiteral("3"), QStringLiteral("--address"),
                           QStringLiteral("17")}));
        TfrmProtocolMonitor monitor(f.session(), &f.main());
        monitor.show();
        QVERIFY(f.sim().ok(QStringLiteral("raw 01")));
        QTRY_COMPARE(monitor.UnframedCounted(), 1);
        for (int address : {3, 17, 3}) {
            f.session().SetCurrentAddress(address);
            PollOnce(f.main());
        }
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 7);

        QComboBox *filter = monitor.ui()->cbbAddressFilter;
        QCOMPARE(filter->count(), 3);
        QCOMPARE(filter->itemText(1), QStringLiteral("3"));
        QCOMPARE(filter->itemText(2), QStringLiteral("17"));
        QTableView *view = monitor.ui()->lvFrames;
        filter->setCurrentIndex(2);
        QCOMPARE(view->model()->rowCount(), 2);
        for (int row = 0; row < 2; ++row)
            QCOMPARE(view->model()->index(row, M::ColAddress).data().toString(), QStringLiteral("17"));
        filter->setCurrentIndex(1);
        QCOMPARE(view->model()->rowCount(), 4);
        // Rows that come in while filtering are filtered too.
        f.session().SetCurrentAddress(17);
        PollOnce(f.main());
        Flush(monitor);
        QCOMPARE(view->model()->rowCount(), 4);
        filter->setCurrentIndex(0);
        QCOMPARE(view->model()->rowCount(), 9);
    }

    void savesEveryRowThroughTheFileReplacement()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmProtocolMonitor monitor(f.session(), &f.main());
        monitor.show();
        PollOnce(f.main());
        Flush(monitor);
        QTest::mouseClick(monitor.ui()->btnPause, Qt::LeftButton);
        PollOnce(f.main()); // held while paused: saved too
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), 2);

        const QString path = f.settingsDir() + QStringLiteral("/traffic.txt");
        // An older file, and what a save killed half-way left beside it.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old contents\r\n") > 0);
        old.close();
        QFile leftover(FileReplacement::TemporaryPath(path));
        QVERIFY(leftover.open(QIODevice::WriteOnly) && leftover.write("half") > 0);
        leftover.close();

        f.prompts.saveName = path;
        QTest::mouseClick(monitor.ui()->btnSave, Qt::LeftButton);
        QVERIFY(f.prompts.errors.isEmpty());
        QVERIFY(!QFile::exists(FileReplacement::TemporaryPath(path)));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(saved.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 1 + 4 + 1); // titles, four rows, the end of the last
        QVERIFY(lines.last().isEmpty());
        const QStringList titles = lines[0].split(QLatin1Char('\t'));
        QCOMPARE(titles.size(), int(M::ColumnCount));
        QCOMPARE(titles[M::ColDirection], QStringLiteral("方向"));
        QCOMPARE(lines[1], RowTexts(&monitor.model(), 0).join(QLatin1Char('\t')));
        QCOMPARE(lines[2], RowTexts(&monitor.model(), 1).join(QLatin1Char('\t')));
        const QStringList held = lines[3].split(QLatin1Char('\t'));
        QCOMPARE(held.size(), int(M::ColumnCount));
        QCOMPARE(held[M::ColDirection], QStringLiteral("发送"));
        QCOMPARE(held[M::ColRaw], QStringLiteral("3F 01 01 3F 23"));
        QCOMPARE(lines[4].split(QLatin1Char('\t'))[M::ColDirection], QStringLiteral("接收"));

        // A file that cannot be written is reported and leaves nothing behind.
        f.prompts.saveName = f.settingsDir() + QStringLiteral("/missing/traffic.txt");
        QTest::mouseClick(monitor.ui()->btnSave, Qt::LeftButton);
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY(f.prompts.errors[0].startsWith(QStringLiteral("保存失败")));
    }

    void keepsTheNewestRowsAndCountsTheDropped()
    {
        constexpr int Capacity = 3;
        MainFixture f;
        QVERIFY(f.connect());
        TfrmProtocolMonitor monitor(f.session(), &f.main(), Capacity);
        monitor.show();
        for (int i = 0; i < 3; ++i)
            PollOnce(f.main());
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), Capacity);
        QCOMPARE(monitor.DroppedRows(), 3);
        QCOMPARE(monitor.model().index(Capacity - 1, M::ColRaw).data().toString(),
                 Hex(f.sim().sentFrames().last()));
        QVERIFY(monitor.ui()->StatusBar1->currentMessage().contains(QStringLiteral("已丢弃较早的：3 行")));

        // A long pause holds no more than the list keeps; every frame is
        // either in the list or counted as dropped.
        QTest::mouseClick(monitor.ui()->btnPause, Qt::LeftButton);
        for (int i = 0; i < 4; ++i)
            PollOnce(f.main());
        Flush(monitor);
        QVERIFY(monitor.HeldRows() < 2 * Capacity);
        QCOMPARE(monitor.FramesCounted(),
                 monitor.model().rowCount() + monitor.HeldRows() + monitor.DroppedRows());
        QTest::mouseClick(monitor.ui()->btnPause, Qt::LeftButton);
        Flush(monitor);
        QCOMPARE(monitor.model().rowCount(), Capacity);
        QCOMPARE(monitor.FramesCounted(), 14);
        QCOMPARE(monitor.DroppedRows(), 14 - Capacity);
        QCOMPARE(monitor.model().index(Capacity - 1, M::ColRaw).data().toString(),
                 Hex(f.sim().sentFrames().last()));
    }
};

QTEST_MAIN(TestProtocolMonitor)
#include "tst_protocolmonitor.moc"
