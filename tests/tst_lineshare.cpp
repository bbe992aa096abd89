// The parameter windows share the line with live reading: against a module
// that answers 40 ms after each request, with the main window polling every
// 100 ms, every read and write of the editor is reported done, each frame
// goes out once, no request is sent while another one's reply is owed, and
// polling keeps at least half its pace. Frames that look like replies but
// carry a wrong check byte are never taken for a value.

#include "EventWait.h"
#include "MainFixture.h"

#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "parameters/ReadAllParamUnit.h"

#include "ui_EditParamUnit.h"
#include "ui_ReadAllParamUnit.h"

#include <QElapsedTimer>
#include <QtTest>

namespace
{
constexpr DeviceAddress Address = 1;
constexpr int AnswerDelayMs = 40;
constexpr int ReadIntervalMs = 100;
constexpr int Operations = 50;
} // namespace

class TestLineShare : public QObject
{
    Q_OBJECT

    MainFixture m_fx{DeviceLink::DefaultReplyTimeoutMs};
    ParameterWindows m_windows;
    std::unique_ptr<TfrmParam> m_list;
    std::unique_ptr<TfrmEditParam> m_edit;
    std::unique_ptr<TfrmReadAllParam> m_readAll;

    TxSim &sim() { return m_fx.sim(); }
    qint32 moduleValue(CommandCode code)
    {
        return sim().command(QStringLiteral("get %1").arg(code)).mid(3).toInt();
    }
    /// Clicks an editor button on `row`; the status text it reports.
    QString click(QPushButton *button, int row)
    {
        m_list->SelectRow(row);
        m_edit->ui()->StatusBar1->clearMessage();
        button->click();
        return WaitForEvents([this] { return !m_edit->Busy(); }, 10000) ? m_edit->StatusText() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fx.connect({QStringLiteral("--address"), QString::number(Address)}));
        m_list = std::make_unique<TfrmParam>(m_windows);
        m_edit = std::make_unique<TfrmEditParam>(m_windows, m_fx.session());
        m_readAll = std::make_unique<TfrmReadAllParam>(m_windows, m_fx.session());
        QVERIFY(sim().ok(QStringLiteral("fault late %1").arg(AnswerDelayMs)));
        m_fx.main().SetReadInterval(ReadIntervalMs);
        m_fx.main().btnBeginReadClick();
        QCOMPARE(m_fx.main().state(), TfrmMain::State::Reading);
        m_edit->show();
    }

    void editorUnderPolling()
    {
        // Every reply comes after a look-alike frame with a wrong check byte.
        QVERIFY(sim().ok(QStringLiteral("fault noise on")));
        const QString overlapsBefore = sim().command(QStringLiteral("overlaps"));
        sim().clearLog();
        QElapsedTimer clock;
        clock.start();
        QList<QByteArray> writes;
        for (int i = 0; i < Operations; ++i) {
            const int row = 1 + i % (ParameterCatalogue::Count - 1); // row 0 would move the module
            const CommandCode code = ParameterCatalogue::Command(row);
            m_edit->ui()->leParamValue->setText(QString::number(1000 + i));
            QCOMPARE(click(m_edit->ui()->btnWrite, row), QStringLiteral("写入成功！"));
            QCOMPARE(moduleValue(code), 1000 + i);
            writes << DeviceLink::toBytes(BuildDataFrame(Address, code, 1000 + i));

            QVERIFY(sim().ok(QStringLiteral("param %1 %2").arg(code).arg(-2000 - i)));
            QCOMPARE(click(m_edit->ui()->btnRead, row), QStringLiteral("读取成功！"));
            QCOMPARE(m_edit->ui()->leParamValue->text(), QString::number(-2000 - i));
            QCOMPARE(m_list->ValueText(row), QString::number(-2000 - i));
        }
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY(sim().waitForReceivedFrames(2 * Operations));
        const QList<QByteArray> received = sim().receivedFrames();
        for (const QByteArray &write : writes)
            QCOMPARE(received.count(write), 1);
        QCOMPARE(sim().command(QStringLiteral("overlaps")), overlapsBefore);
        const auto poll = DeviceLink::toBytes(BuildQueryFrame(Address, CmdReadValue));
        const double pollsPerSecond = received.count(poll) / seconds;
        QVERIFY2(pollsPerSecond >= 0.5 * 1000 / ReadIntervalMs, qPrintable(QString::number(pollsPerSecond)));
        QCOMPARE(m_fx.main().state(), TfrmMain::State::Reading);

        // The read-all run under the same noise lists the module's values only.
        for (int row = 1; row < ParameterCatalogue::Count; ++row)
            QVERIFY(
                sim().ok(QStringLiteral("param %1 %2").arg(ParameterCatalogue::Command(row)).arg(300 + row)));
        m_readAll->show();
        QCoreApplication::sendPostedEvents(m_readAll.get(), WM_READALL_START);
        QVERIFY(WaitForEvents([this] { return !m_readAll->InRun(); }, 30000));
        QCOMPARE(m_readAll->ui()->ListBox1->count(), ParameterCatalogue::Count);
        for (int row = 1; row < ParameterCatalogue::Count; ++row)
            QCOMPARE(m_list->ValueText(row), QString::number(300 + row));
        QVERIFY(m_fx.main().link().droppedFrames() >= quint64(2 * Operations + ParameterCatalogue::Count));
    }

    void overlapsAreCounted()
    {
        // What the first case relies on: a request sent while a reply is owed is counted.
        m_fx.main().btnBeginReadClick();
        QTest::qWait(2 * ReadIntervalMs);
        const int before = sim().command(QStringLiteral("overlaps")).mid(3).toInt();
        sim().clearLog();
        const QByteArray query = DeviceLink::toBytes(BuildQueryFrame(Address, CmdZerO));
        m_fx.main().comPort().write(query + query);
        QVERIFY(sim().waitForReceivedFrames(2));
        QCOMPARE(sim().command(QStringLiteral("overlaps")).mid(3).toInt(), before + 1);
    }
};

QTEST_MAIN(TestLineShare)
#include "tst_lineshare.moc"
