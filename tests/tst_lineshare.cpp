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
#include "parameters/SpecailParamsUnit.h"

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
constexpr qint32 NoiseValue = 9999; // what the simulator's look-alike frames carry
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
    QStringList readAll()
    {
        m_readAll->show();
        QCoreApplication::sendPostedEvents(m_readAll.get(), WM_READALL_START);
        [[maybe_unused]] const bool ended = WaitForEvents([this] { return !m_readAll->InRun(); }, 30000);
        QStringList lines;
        for (int i = 0; i < m_readAll->ui()->ListBox1->count(); ++i)
            lines << m_readAll->ui()->ListBox1->item(i)->text();
        return lines;
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
        const QString overlapsBefore = sim().command(QStringLiteral("overlaps"));
        sim().clearLog();
        QElapsedTimer clock;
        clock.start();
        // Rows 1..20 (row 0 would move the module to another address).
        const auto rowOf = [](int i) { return 1 + i % (ParameterCatalogue::Count - 1); };
        QList<QByteArray> writes;
        for (int i = 0; i < Operations; ++i) {
            const int row = rowOf(i);
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
    }

    void lookAlikeFramesAreNoValues()
    {
        QVERIFY(sim().ok(QStringLiteral("fault noise on")));
        for (int row = 1; row < ParameterCatalogue::Count; ++row)
            QVERIFY(
                sim().ok(QStringLiteral("param %1 %2").arg(ParameterCatalogue::Command(row)).arg(300 + row)));
        const QStringList lines = readAll();
        QCOMPARE(lines.size(), ParameterCatalogue::Count);
        for (int row = 1; row < ParameterCatalogue::Count; ++row) {
            QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + QStringLiteral("读取成功！"));
            QCOMPARE(m_list->ValueText(row), QString::number(300 + row));
        }
        m_readAll->hide();

        // The special parameters read and written back: the module ends with
        // what it held, nothing of the look-alikes.
        TfrmSpecialParams special(m_windows, m_fx.session());
        QList<qint32> held;
        for (int code = FirstSpecialParam; code <= LastSpecialParam; ++code)
            held << moduleValue(CommandCode(code));
        special.ReadSpecialParams();
        QVERIFY(WaitForEvents([&] { return !special.SequenceRunning(); }, 30000));
        special.WriteSpecialParams();
        QVERIFY(WaitForEvents([&] { return !special.SequenceRunning(); }, 30000));
        QCOMPARE(m_fx.prompts.messages, QStringList{QStringLiteral("       写入成功！     ")});
        for (int code = FirstSpecialParam; code <= LastSpecialParam; ++code) {
            QVERIFY(special.knownRegisters().get(CommandCode(code)) != NoiseValue);
            QCOMPARE(moduleValue(CommandCode(code)), held.at(code - FirstSpecialParam));
        }
        QVERIFY(m_fx.main().link().droppedFrames() > 0);
    }

    void overlapsAreCounted()
    {
        // The count the first case relies on: a request written while the
        // reply to the one before is still owed.
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
