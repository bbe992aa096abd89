// Device faults against the module simulator over a real pseudo-terminal: the
// device vanishing in the middle of the program's work, garbage on the line,
// replies cut into pieces, wrong check bytes, late answers, and many
// open/close cycles with the device coming and going. After each, the
// windows are checked for the state the program promises.

#include "EventWait.h"
#include "MainFixture.h"

#include "device/DeviceLink.h"
#include "app/MainUnit.h"
#include "widgets/ModalRunner.h"
#include "device/Pause.h"
#include "widgets/SpinEdit.h"
#include "calibration/CalibrateUnit.h"
#include "calibration/ZeroCalibration.h"
#include "chart/ChartWidget.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "parameters/ParameterWindows.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include "ui_MainUnit.h"
#include "ui_ReadAllParamUnit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace
{
constexpr DeviceAddress SimAddress = 1;
// Long enough that only the device's loss, never the time-out, ends a wait.
constexpr int LongReplyTimeoutMs = 20000;
// Generous bounds for things that happen promptly (the sanitizer build is slow).
constexpr int SoonMs = 10000;
// Events handled after an outcome before counting what the operator was told.
constexpr int SettleMs = 300;

const QString TextBusy = QStringLiteral("标定中...");
const QString TextReadTimeout = QStringLiteral("读取超时！");
const QString TextReadOk = QStringLiteral("读取成功！");
const QString TextWriteFailed = QStringLiteral("写入失败！");
const QString CaptionOpen = QStringLiteral("打开串口(&O)");
const QString CaptionBeginRead = QStringLiteral("开始读数(&B)");

// Enabled states in the order btnOpen cbbPort btnBeginRead btnSetDN btnCalibrate
// btnZero btnDN sttValue btnParam mnuEvaluate speDN mnuClearData.
const QString PortClosedRow = QStringLiteral("110000000011");

QString EnabledRow(TfrmMain &m)
{
    Ui::TfrmMain *u = m.ui();
    const bool states[] = {
        u->btnOpen->isEnabled(),     u->cbbPort->isEnabled(),      u->btnBeginRead->isEnabled(),
        u->btnSetDN->isEnabled(),    u->btnCalibrate->isEnabled(), u->btnZero->isEnabled(),
        u->btnDN->isEnabled(),       u->sttValue->isEnabled(),     u->btnParam->isEnabled(),
        u->mnuEvaluate->isEnabled(), u->speDN->isEnabled(),        u->mnuClearData->isEnabled()};
    QString row;
    for (bool on : states)
        row += on ? QLatin1Char('1') : QLatin1Char('0');
    return row;
}

QByteArray Bytes(const QueryFrame &f)
{
    return DeviceLink::toBytes(f);
}
QByteArray Bytes(const DataFrame &f)
{
    return DeviceLink::toBytes(f);
}
/// Bytes as the simulator's "raw" command takes them.
QString RawLine(const QByteArray &bytes)
{
    return QStringLiteral("raw ") + QString::fromLatin1(bytes.toHex(' '));
}
/// The simulator's log line for a frame it received.
QString RxLine(const QByteArray &frame)
{
    return QStringLiteral("RX ") + Hex(frame);
}

int OpenDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                   .size());
}

/// Stray bytes that hold no "=", so they can never start a reply.
QByteArray Garbage(int count, quint32 seed)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        char c = char(seed >> 16);
        if (c == char(DataStart))
            c = '#';
        bytes += c;
    }
    return bytes;
}

/// The main window on a simulated module, plus the windows the faults are
/// tried in. Pauses are recorded; a test may act inside the n-th pause.
struct Rig {
    explicit Rig(int replyTimeoutMs = MainFixture::ShortReplyTimeoutMs) : fx(replyTimeoutMs)
    {
        LinearPoints = {};
        CurrentPoint = 0;
        CalibratedCount = 0;
        ReadAdNext = true;
        SetPauseHook([this](int ms) {
            pauses << ms;
            if (onPause)
                onPause(int(pauses.size()));
        });
    }
    ~Rig()
    {
        SetModalHook({});
        readAll.reset();
        param.reset();
        calibrate.reset();
    }

    bool open(const QStringList &args = {})
    {
        // Two samples per calibration point keep the calibration short.
        fx.writeIni("[Filter]\r\nAverage Count=2\r\n");
        fx.create();
        calibrate = std::make_unique<TfrmCalibrate>(fx.session(), fx.settings(), fx.main().display(), &fx.main());
        param = std::make_unique<TfrmParam>(windows);
        readAll = std::make_unique<TfrmReadAllParam>(windows, fx.session());
        return fx.connect(QStringList{QStringLiteral("--address"), QString::number(SimAddress)} + args) &&
               main().state() == TfrmMain::State::PortIdle;
    }
    TfrmMain &main() { return fx.main(); }
    TxSim &sim() { return fx.sim(); }
    DeviceLink &link() { return fx.main().link(); }

    /// Ends the simulator the moment it receives a frame that starts with
    /// `bytes` (a whole frame, or its first bytes), while the program waits
    /// for the answer.
    void killOnReceiving(const QByteArray &bytes)
    {
        const QString start = RxLine(bytes);
        QObject::connect(&sim(), &TxSim::lineReceived, &sim(), [this, start](const QString &received) {
            if (received.startsWith(start) && sim().isRunning())
                sim().process()->kill(); // SIGKILL: the pseudo-terminal vanishes
        });
    }
    /// Ends the simulator inside the n-th pause from now: no window message
    /// is handled before the program's next write finds the device gone.
    void killInPause(int n)
    {
        const int target = int(pauses.size()) + n;
        onPause = [this, target](int count) {
            if (count == target)
                sim().kill();
        };
    }

    /// The read-all run as its window starts it, to its end.
    void runReadAll()
    {
        readAll->show();
        QCoreApplication::sendPostedEvents(readAll.get(), WM_READALL_START);
        // The run goes on from the event loop; what it listed is checked after.
        [[maybe_unused]] const bool ended = WaitForEvents([this] { return !readAll->InRun(); }, 60000);
    }
    QStringList readAllLines() const
    {
        QStringList lines;
        for (int i = 0; i < readAll->ui()->ListBox1->count(); ++i)
            lines << readAll->ui()->ListBox1->item(i)->text();
        return lines;
    }
    void closeReadAll()
    {
        readAll->ui()->btnAbort->click();
        if (readAll->isVisible())
            readAll->hide();
    }

    void runCalibration(const std::function<void()> &script) { RunCalibrationDialog(*calibrate, script); }
    /// Lets the calibration dialog's run go to its end.
    bool calibrationSettled()
    {
        return sim().waitUntil([this] { return !calibrate->RunInProgress(); }, SoonMs);
    }
    template <typename T> T *calibrateChild(const char *name) const
    {
        return calibrate->findChild<T *>(QLatin1String(name));
    }

    MainFixture fx;
    std::unique_ptr<TfrmCalibrate> calibrate;
    ParameterWindows windows;
    std::unique_ptr<TfrmParam> param;
    std::unique_ptr<TfrmReadAllParam> readAll;
    QList<int> pauses;
    std::function<void(int count)> onPause;
};

/// Checks what a vanished device leaves: the window in its port-closed state,
/// the operator told exactly once, no busy cursor or caption, timers stopped.
void CheckLostState(Rig &rig)
{
    TfrmMain &m = rig.main();
    QVERIFY(rig.sim().waitUntil([&] { return m.state() == TfrmMain::State::PortClosed; }, SoonMs));
    QVERIFY(rig.sim().waitUntil([&] { return !rig.fx.prompts.errors.isEmpty(); }, SoonMs));
    QTest::qWait(SettleMs); // a second report would come now
    QVERIFY2(rig.fx.prompts.errors.size() == 1, qPrintable(rig.fx.prompts.errors.join(u'|')));
    QVERIFY2(rig.fx.prompts.errors.first().startsWith(QStringLiteral("串口连接已断开")),
             qPrintable(rig.fx.prompts.errors.first()));
    QVERIFY(rig.fx.prompts.messages.isEmpty());
    QVERIFY(!m.IsPortOpen());
    QVERIFY(!m.comPort().isOpen());
    QCOMPARE(EnabledRow(m), PortClosedRow);
    QCOMPARE(m.ui()->btnOpen->text(), CaptionOpen);
    QCOMPARE(m.ui()->btnBeginRead->text(), CaptionBeginRead);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!m.timerRead().isActive());
    QVERIFY(!m.link().timerWait().isActive());
    QVERIFY2(m.ValueText() != TextBusy, qPrintable(m.ValueText()));
    if (rig.calibrate) {
        QVERIFY(rig.sim().waitUntil([&] { return !rig.calibrate->timerTmpRead().isActive(); }, SoonMs));
        QVERIFY(rig.calibrateChild<QAbstractButton>("btnCalibrate")->isEnabled() ||
                !rig.calibrate->isVisible());
        QVERIFY(rig.calibrateChild<QLabel>("sttAV")->text() != TextBusy);
    }
}
} // namespace

class TestDeviceFaults : public QObject
{
    Q_OBJECT
private slots:
    // --- The device vanishes --------------------------------------------

    void lostWhileReading_data();
    void lostWhileReading();
    void lostDuringReadAll_data();
    void lostDuringReadAll();
    void lostDuringCalibrationEnd_data();
    void lostDuringCalibrationEnd();
    void lostWhileAveragingAPoint_data();
    void lostWhileAveragingAPoint();
    void lostDuringSetAddress_data();
    void lostDuringSetAddress();
    void lostDuringZeroCalibration_data();
    void lostDuringZeroCalibration();
    void lostDuringSpecialParams_data();
    void lostDuringSpecialParams();
    void lostWhileIdleIsNoBusyLoop();

    // --- What the line brings ---------------------------------------------

    void strayBytesBeforeEveryReply();
    void garbageAroundReplies();
    void replySplitAtEveryByte();
    void wrongCheckBytes();
    void lateReplies();

    // --- Coming and going ---------------------------------------------------

    void openCloseCyclesWithTheDeviceComingAndGoing();
};

// --- The device vanishes ----------------------------------------------------

void TestDeviceFaults::lostWhileReading_data()
{
    QTest::addColumn<bool>("inWrite");
    QTest::newRow("waiting for a reply") << false;
    QTest::newRow("found by the write") << true;
}

void TestDeviceFaults::lostWhileReading()
{
    QFETCH(bool, inWrite);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    TfrmMain &m = rig.main();
    m.SetReadInterval(20);
    m.btnBeginReadClick();
    QVERIFY(rig.sim().waitUntil([&] { return m.chart()->count(0) >= 3; }, SoonMs));
    if (inWrite) {
        // Gone between two polls, while no message is handled: the next
        // poll's write is the first to meet the vanished device.
        rig.sim().kill();
        PollOnce(m);
    } else {
        QVERIFY(rig.sim().ok(QStringLiteral("fault silent on")));
        rig.killOnReceiving(Bytes(BuildQueryFrame(SimAddress, CmdReadValue)));
    }
    CheckLostState(rig);
    QCOMPARE(m.state(), TfrmMain::State::PortClosed);
}

void TestDeviceFaults::lostDuringReadAll_data()
{
    QTest::addColumn<bool>("inWrite");
    QTest::newRow("waiting for code 10") << false;
    QTest::newRow("between codes") << true;
}

void TestDeviceFaults::lostDuringReadAll()
{
    QFETCH(bool, inWrite);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QVERIFY(rig.sim().ok(QStringLiteral("param %1 %2").arg(row + 2).arg(700 + row)));
    if (inWrite) {
        rig.killInPause(5); // after code 6 is read
    } else {
        QVERIFY(rig.sim().ok(QStringLiteral("fault mute 10 query")));
        rig.killOnReceiving(Bytes(BuildQueryFrame(SimAddress, 10)));
    }
    rig.runReadAll();

    // The run stops where the device went, the values read before it kept.
    const QStringList lines = rig.readAllLines();
    const int read = inWrite ? 5 : 8; // codes 2..6 or 2..9 answered
    QVERIFY2(lines.size() >= read && lines.size() <= read + 1, qPrintable(lines.join(u'|')));
    for (int row = 0; row < read; ++row)
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + TextReadOk);
    for (int row = 1; row < read; ++row)
        QCOMPARE(rig.param->ValueText(row), QString::number(700 + row));
    for (qsizetype row = read; row < lines.size(); ++row)
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(int(row)) + TextReadTimeout);
    QCOMPARE(rig.readAll->ui()->Label1->text(), QStringLiteral("读取已中断"));
    QCOMPARE(rig.readAll->ui()->btnAbort->text(), QStringLiteral("退出(&E)"));
    QVERIFY(!rig.readAll->InRun());
    CheckLostState(rig);
    rig.closeReadAll();
    QVERIFY(!rig.readAll->isVisible());
}

void TestDeviceFaults::lostDuringCalibrationEnd_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("waiting for PVP1") << QStringLiteral("PVP1");
    QTest::newRow("write of PVP1") << QStringLiteral("write");
    QTest::newRow("waiting for PointCount") << QStringLiteral("PointCount");
}

void TestDeviceFaults::lostDuringCalibrationEnd()
{
    QFETCH(QString, where);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    bool ended = false;
    rig.runCalibration([&] {
        rig.calibrate->btnCalibrateClick();
        QVERIFY(rig.calibrationSettled());
        rig.calibrate->btnNextPointClick();
        rig.calibrate->btnCalibrateClick();
        QVERIFY(rig.calibrationSettled());
        QCOMPARE(CalibratedCount, 2);
        if (where == QLatin1String("write")) {
            rig.killInPause(2); // the pause after AVP1
        } else {
            const CommandCode code = where == QLatin1String("PVP1") ? CmdPVP(1) : CmdPointCount;
            QVERIFY(rig.sim().ok(QStringLiteral("fault mute %1 data").arg(code)));
            const std::int32_t value = code == CmdPointCount ? 2 : LinearPointAt(1).PV;
            rig.killOnReceiving(Bytes(BuildDataFrame(SimAddress, code, value)));
        }
        rig.calibrate->btnEndClick();
        QVERIFY(rig.calibrationSettled());
        ended = true;
        // The end sequence failed and closed the dialog.
        QVERIFY(!rig.calibrate->isVisible());
        if (where == QLatin1String("PointCount"))
            QCOMPARE(rig.main().ValueText(), QStringLiteral("标定失败！"));
        else
            QCOMPARE(rig.calibrateChild<QLabel>("sttAV")->text(), TextWriteFailed);
    });
    QVERIFY(ended);
    CheckLostState(rig);
}

void TestDeviceFaults::lostWhileAveragingAPoint_data()
{
    QTest::addColumn<bool>("inWrite");
    QTest::newRow("waiting for an AD code") << false;
    QTest::newRow("write of the first sample") << true;
}

void TestDeviceFaults::lostWhileAveragingAPoint()
{
    QFETCH(bool, inWrite);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    rig.runCalibration([&] {
        rig.calibrate->timerTmpRead().stop(); // no idle ticks in between
        if (inWrite) {
            rig.killInPause(1); // the settling pause before the first sample
        } else {
            QVERIFY(rig.sim().ok(QStringLiteral("fault silent on")));
            rig.killOnReceiving(Bytes(BuildQueryFrame(SimAddress, CmdReadAdCode)));
        }
        rig.calibrate->btnCalibrateClick();
        QCOMPARE(CalibratedCount, 0);
        CheckLostState(rig);
        QCOMPARE(rig.calibrateChild<QAbstractButton>("btnCalibrate")->text(), QStringLiteral("标定此点(&C)"));
        QVERIFY(rig.calibrate->CurrentPointGreyed());
    });
    QVERIFY(!rig.calibrate->timerTmpRead().isActive());
    QVERIFY(rig.main().ValueText() != TextBusy);
}

void TestDeviceFaults::lostDuringSetAddress_data()
{
    QTest::addColumn<bool>("inWrite");
    QTest::newRow("waiting for the address write") << false;
    QTest::newRow("write of the store request") << true;
}

void TestDeviceFaults::lostDuringSetAddress()
{
    QFETCH(bool, inWrite);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    TfrmMain &m = rig.main();
    m.SetCurrentAddress(7);
    if (inWrite) {
        rig.killInPause(1); // the pause between the two steps
    } else {
        QVERIFY(rig.sim().ok(QStringLiteral("fault mute 2 data")));
        rig.killOnReceiving(Bytes(BuildDataFrame(BroadcastAddress, CmdDN, 7)));
    }
    m.btnSetDNClick();
    QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
    // The address step's success is not the last word when the store step
    // failed; the request never went out, so nothing timed out.
    QCOMPARE(m.ValueText(), QStringLiteral("写入失败！"));
    CheckLostState(rig);
}

void TestDeviceFaults::lostDuringZeroCalibration_data()
{
    QTest::addColumn<bool>("inWrite");
    QTest::newRow("waiting for the zero value") << false;
    QTest::newRow("write of the value request") << true;
}

void TestDeviceFaults::lostDuringZeroCalibration()
{
    QFETCH(bool, inWrite);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    if (inWrite) {
        rig.killInPause(1); // the pause between reading ZerO and the value
    } else {
        QVERIFY(rig.sim().ok(QStringLiteral("fault mute 3 query")));
        rig.killOnReceiving(Bytes(BuildQueryFrame(SimAddress, CmdZerO)));
    }
    rig.main().btnZeroClick();
    QCOMPARE(rig.fx.prompts.questions.size(), 1);
    CheckLostState(rig);
}

void TestDeviceFaults::lostDuringSpecialParams_data()
{
    QTest::addColumn<bool>("writing");
    QTest::newRow("read run, waiting for code 30") << false;
    QTest::newRow("write run, waiting for code 30") << true;
}

void TestDeviceFaults::lostDuringSpecialParams()
{
    // The loss notice is the one report: no time-out or write-failed box on top.
    QFETCH(bool, writing);
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    TfrmSpecialParams special(rig.windows, rig.fx.session());
    const CommandCode code = CommandCode(30);
    QVERIFY(rig.sim().ok(QStringLiteral("fault mute %1 %2").arg(int(code)).arg(writing ? "data" : "query")));
    if (writing)
        rig.killOnReceiving(Bytes(BuildDataFrame(SimAddress, code, 0)).left(3));
    else
        rig.killOnReceiving(Bytes(BuildQueryFrame(SimAddress, code)));
    if (writing)
        special.WriteSpecialParams();
    else
        special.ReadSpecialParams();
    CheckLostState(rig);
}

void TestDeviceFaults::lostWhileIdleIsNoBusyLoop()
{
    Rig rig;
    QVERIFY(rig.open());
    TfrmMain &m = rig.main();
    int notifications = 0;
    QObject::connect(&m.comPort(), &QSerialPort::errorOccurred, &m, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            ++notifications;
    });
    QObject::connect(&m.comPort(), &QIODevice::readyRead, &m, [&] { ++notifications; });
    rig.sim().kill();
    CheckLostState(rig);
    // The hang-up is noticed within a bounded number of notifications, and
    // once the port is closed nothing comes any more.
    QVERIFY2(notifications < 100, qPrintable(QString::number(notifications)));
    const int atClose = notifications;
    QTest::qWait(SettleMs);
    QCOMPARE(notifications, atClose);
}

// --- What the line brings ----------------------------------------------------

void TestDeviceFaults::strayBytesBeforeEveryReply()
{
    Rig rig;
    QVERIFY(rig.open({QStringLiteral("--load"), QStringLiteral("4321")}));
    TfrmMain &m = rig.main();
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QVERIFY(rig.sim().ok(QStringLiteral("param %1 %2").arg(row + 2).arg(-900 - row)));
    const qint32 measured = rig.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt();
    QVERIFY(rig.sim().ok(QStringLiteral("fault stray 11")));

    rig.runReadAll();
    const QStringList lines = rig.readAllLines();
    QCOMPARE(lines.size(), ParameterCatalogue::Count);
    for (int row = 0; row < ParameterCatalogue::Count; ++row)
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + TextReadOk);
    QCOMPARE(rig.param->ValueText(0), QString::number(SimAddress));
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QCOMPARE(rig.param->ValueText(row), QString::number(-900 - row));
    rig.closeReadAll();

    // Live reading: every reply found once, each with the module's value.
    m.btnClearClick();
    rig.sim().clearLog();
    m.SetReadInterval(10);
    m.btnBeginReadClick();
    QVERIFY(rig.sim().waitUntil([&] { return m.chart()->count(0) >= 20; }, SoonMs));
    m.btnBeginReadClick();
    QVERIFY(
        rig.sim().waitUntil([&] { return m.chart()->count(0) == rig.sim().sentFrames().size(); }, SoonMs));
    QVERIFY(rig.sim().logLines().filter(QStringLiteral("TXSTRAY ")).size() >= 20);
    for (qsizetype i = 0; i < m.chart()->count(0); ++i)
        QCOMPARE(m.chart()->y(0, i), measured / 10.0);
    QCOMPARE(m.reply().ReplyValue, measured);
    QCOMPARE(m.state(), TfrmMain::State::PortIdle);
    QVERIFY(rig.fx.prompts.errors.isEmpty());
}

void TestDeviceFaults::garbageAroundReplies()
{
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    TfrmMain &m = rig.main();
    DeviceLink &link = rig.link();
    // The module keeps quiet on value polls; the test answers them itself.
    QVERIFY(rig.sim().ok(QStringLiteral("fault mute 1 query")));
    const QString poll = RxLine(Bytes(BuildQueryFrame(SimAddress, CmdReadValue)));

    const QList<QByteArray> answers{
        Garbage(3, 1) + Bytes(BuildDataFrame(SimAddress, CmdReadValue, 1001)) + Garbage(5, 2),
        // More garbage than the receive buffer holds, then a reply.
        Garbage(1500, 3) + Bytes(BuildDataFrame(SimAddress, CmdReadValue, -2002)),
        // "#" and other frame bytes in the garbage, a reply, garbage again.
        QByteArray("#\x23?\x01#") + Bytes(BuildDataFrame(SimAddress, CmdReadValue, 3003)) + Garbage(40, 4),
        Bytes(BuildDataFrame(SimAddress, CmdReadValue, 0x3D3D3D3D)),
    };
    const QList<qint32> values{1001, -2002, 3003, 0x3D3D3D3D};
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const quint64 before = link.replyCount();
        const qsizetype points = m.chart()->count(0);
        // Unsolicited garbage between exchanges is dropped too.
        QVERIFY(rig.sim().ok(RawLine(Garbage(17, quint32(i) + 10))));
        bool answered = false;
        const auto answer = QObject::connect(&rig.sim(), &TxSim::lineReceived, &m, [&](const QString &line) {
            if (line == poll && !answered) {
                answered = true;
                QTimer::singleShot(0, &m, [&, i] { rig.sim().ok(RawLine(answers[i])); });
            }
        });
        PollOnce(m);
        QObject::disconnect(answer);
        QVERIFY(answered);
        QCOMPARE(link.replyCount(), before + 1);
        QCOMPARE(m.reply().ReplyValue, values[i]);
        QCOMPARE(m.chart()->count(0), points + 1);
        QCOMPARE(m.chart()->y(0, points), values[i] / 10.0);
        QVERIFY(m.ValueText() != TextReadTimeout);
    }
    // What stays behind holds no "=": the next reply is found whole.
    QVERIFY(!link.assembler().inPacket());
    QVERIFY(rig.sim().ok(QStringLiteral("fault clear")));
    m.btnDNClick();
    QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
    QCOMPARE(m.ValueText(), TextReadOk);
    QCOMPARE(m.reply().ReplyCommand, CmdDN);
    QCOMPARE(m.reply().ReplyValue, qint32(SimAddress));
    QVERIFY(rig.fx.prompts.errors.isEmpty());
}

void TestDeviceFaults::replySplitAtEveryByte()
{
    Rig rig(LongReplyTimeoutMs);
    QVERIFY(rig.open());
    TfrmMain &m = rig.main();
    DeviceLink &link = rig.link();
    QVERIFY(rig.sim().ok(QStringLiteral("fault mute 1 query")));
    const QString poll = RxLine(Bytes(BuildQueryFrame(SimAddress, CmdReadValue)));
    QCOMPARE(link.assembler().buffered(), 0);

    for (int cut = 1; cut < int(ReplyFrameSize); ++cut) {
        const qint32 value = 5000 + cut;
        const QByteArray reply = Bytes(BuildDataFrame(SimAddress, CmdReadValue, value));
        const quint64 before = link.replyCount();
        const qsizetype points = m.chart()->count(0);
        bool firstPartAlone = false;
        bool sent = false;
        const auto answer = QObject::connect(&rig.sim(), &TxSim::lineReceived, &m, [&](const QString &line) {
            if (line != poll || sent)
                return;
            sent = true;
            QTimer::singleShot(0, &m, [&, cut] {
                QVERIFY(rig.sim().ok(RawLine(reply.left(cut))));
                // The first part has been read on its own before the rest is sent.
                firstPartAlone =
                    rig.sim().waitUntil([&] { return link.assembler().buffered() == cut; }, SoonMs) &&
                    link.replyCount() == before;
                QVERIFY(rig.sim().ok(RawLine(reply.mid(cut))));
            });
        });
        PollOnce(m);
        QObject::disconnect(answer);
        QVERIFY2(firstPartAlone, qPrintable(QStringLiteral("cut %1").arg(cut)));
        // Handled exactly once, with the right value.
        QTest::qWait(20);
        QCOMPARE(link.replyCount(), before + 1);
        QCOMPARE(m.reply().ReplyValue, value);
        QCOMPARE(m.chart()->count(0), points + 1);
        QCOMPARE(m.chart()->y(0, points), value / 10.0);
        QCOMPARE(link.assembler().buffered(), 0);
        QVERIFY(!link.assembler().inPacket());
    }
    QVERIFY(rig.fx.prompts.errors.isEmpty());
}

void TestDeviceFaults::wrongCheckBytes()
{
    Rig rig;
    QVERIFY(rig.open({QStringLiteral("--load"), QStringLiteral("777")}));
    TfrmMain &m = rig.main();
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QVERIFY(rig.sim().ok(QStringLiteral("param %1 %2").arg(row + 2).arg(31 * row)));
    const qint32 measured = rig.sim().command(QStringLiteral("get 1")).section(u' ', 1).toInt();
    QVERIFY(rig.sim().ok(QStringLiteral("fault badcheck on")));
    rig.sim().clearLog();

    // A reply counts only when its check byte is right: nothing of these
    // frames is shown, plotted, followed or listed, and they are counted.
    m.SetCurrentAddress(4);
    m.btnDNClick();
    QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
    QCOMPARE(m.ValueText(), TextReadTimeout);
    QCOMPARE(m.CurrentAddress(), DeviceAddress(4));
    m.SetCurrentAddress(SimAddress);
    m.btnClearClick();
    PollOnce(m);
    QCOMPARE(m.chart()->count(0), 0);
    QCOMPARE(m.ValueText(), TextReadTimeout);
    rig.runReadAll();
    const QStringList lines = rig.readAllLines();
    QCOMPARE(lines.size(), ParameterCatalogue::Count);
    for (int row = 0; row < ParameterCatalogue::Count; ++row) {
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + TextReadTimeout);
        QCOMPARE(rig.param->ValueText(row), QString());
    }
    rig.closeReadAll();
    // The module really sent wrong check bytes, and each was counted.
    const QList<QByteArray> sent = rig.sim().sentFrames();
    QCOMPARE(sent.size(), 2 + ParameterCatalogue::Count);
    for (const QByteArray &frame : sent)
        QVERIFY(quint8(frame[7]) != XorCheck(reinterpret_cast<const std::uint8_t *>(frame.constData()), 7));
    QCOMPARE(rig.link().droppedFrames(), quint64(sent.size()));
    QVERIFY(rig.fx.prompts.errors.isEmpty());

    // Sound replies are taken again at once.
    QVERIFY(rig.sim().ok(QStringLiteral("fault badcheck off")));
    PollOnce(m);
    QCOMPARE(m.chart()->count(0), 1);
    QCOMPARE(m.chart()->y(0, 0), measured / 10.0);
}

void TestDeviceFaults::lateReplies()
{
    Rig rig; // short reply time-out
    QVERIFY(rig.open({QStringLiteral("--load"), QStringLiteral("2500")}));
    TfrmMain &m = rig.main();
    DeviceLink &link = rig.link();
    TxSim &sim = rig.sim();
    const int timeout = link.replyTimeoutMs();
    const qint32 measured = sim.command(QStringLiteral("get 1")).section(u' ', 1).toInt();
    QVERIFY(sim.ok(QStringLiteral("fault late %1").arg(3 * timeout)));
    sim.clearLog();

    // A poll: the time-out is shown and reading stops; the late value then
    // arrives and is shown and plotted like any reply.
    m.btnClearClick();
    m.btnBeginReadClick();
    m.timerRead().stop(); // the tick is run by hand: exactly one poll
    quint64 before = link.replyCount();
    PollOnce(m);
    QCOMPARE(m.state(), TfrmMain::State::PortIdle);
    QCOMPARE(m.ValueText(), TextReadTimeout);
    QVERIFY(!m.timerRead().isActive());
    QVERIFY(!link.timerWait().isActive());
    QCOMPARE(link.replyCount(), before);
    QVERIFY(sim.waitUntil([&] { return link.replyCount() > before; }, SoonMs));
    QCOMPARE(m.chart()->count(0), 1);
    QCOMPARE(m.chart()->y(0, 0), measured / 10.0);
    QVERIFY(m.ValueText() != TextReadTimeout);
    QVERIFY(link.reply().ReplyDone);
    QVERIFY(!link.reply().ReplyTimedOut);
    const qsizetype points = m.chart()->count(0);

    // Reading the address: time-out; the late answer then brings the address.
    m.SetCurrentAddress(9);
    before = link.replyCount();
    m.btnDNClick();
    QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
    QCOMPARE(m.ValueText(), TextReadTimeout);
    QCOMPARE(m.CurrentAddress(), DeviceAddress(9));
    QVERIFY(sim.waitUntil([&] { return link.replyCount() > before; }, SoonMs));
    // A late answer that is no measured value changes nothing.
    QCOMPARE(m.CurrentAddress(), DeviceAddress(9));
    QCOMPARE(m.ValueText(), TextReadTimeout);
    m.SetCurrentAddress(SimAddress);
    QCOMPARE(m.chart()->count(0), points);

    // A read-all on the late module: an answer that lands in a later code's
    // wait is not taken for that code's value.
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QVERIFY(sim.ok(QStringLiteral("param %1 %2").arg(row + 2).arg(50 + row)));
    const qint32 measuredNow = sim.command(QStringLiteral("get 1")).section(u' ', 1).toInt();
    QVERIFY(sim.ok(QStringLiteral("fault late %1").arg(timeout + 150)));
    sim.clearLog();
    before = link.replyCount();
    rig.runReadAll();
    QStringList lines = rig.readAllLines();
    QCOMPARE(lines.size(), ParameterCatalogue::Count);
    int timedOut = 0;
    for (int row = 0; row < ParameterCatalogue::Count; ++row) {
        if (lines.at(row).endsWith(TextReadTimeout)) {
            ++timedOut;
            QCOMPARE(rig.param->ValueText(row), QString());
        } else {
            QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + TextReadOk);
            QCOMPARE(rig.param->ValueText(row),
                     row == 0 ? QString::number(SimAddress) : QString::number(50 + row));
        }
    }
    QVERIFY(timedOut > 0);
    rig.closeReadAll();

    // Once every late answer is in, the module answering in time again
    // gives right values.
    QVERIFY(sim.ok(QStringLiteral("fault clear")));
    QVERIFY(sim.waitUntil(
        [&] {
            return sim.sentFrames().size() == ParameterCatalogue::Count &&
                   link.replyCount() == before + ParameterCatalogue::Count;
        },
        SoonMs));
    for (int row = 0; row < ParameterCatalogue::Count; ++row)
        rig.param->SetValueText(row, QString());
    rig.runReadAll();
    lines = rig.readAllLines();
    for (int row = 0; row < ParameterCatalogue::Count; ++row)
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + TextReadOk);
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        QCOMPARE(rig.param->ValueText(row), QString::number(50 + row));
    rig.closeReadAll();
    PollOnce(m);
    QCOMPARE(m.reply().ReplyCommand, CmdReadValue);
    QCOMPARE(m.reply().ReplyValue, measuredNow);
    QVERIFY(rig.fx.prompts.errors.isEmpty());
}

// --- Coming and going ----------------------------------------------------------

void TestDeviceFaults::openCloseCyclesWithTheDeviceComingAndGoing()
{
    constexpr int Cycles = 100;
    QTemporaryDir linkDir;
    QVERIFY(linkDir.isValid());
    const QString linkPath = linkDir.filePath(QStringLiteral("ttyKelvarin"));
    Rig rig;
    rig.fx.create();
    TfrmMain &m = rig.main();
    TxSim &sim = rig.sim();
    int descriptorsAfterFirst = -1;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        QVERIFY(sim.start({QStringLiteral("--link"), linkPath, QStringLiteral("--address"),
                           QString::number(1 + cycle % 200)}));
        QVERIFY(m.SelectPort(linkPath));
        m.btnOpenClick();
        QVERIFY2(m.IsPortOpen(), qPrintable(QStringLiteral("cycle %1").arg(cycle)));
        m.btnDNClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m.AddressRunActive(), 10000);
        QCOMPARE(m.ValueText(), TextReadOk);
        QCOMPARE(m.CurrentAddress(), DeviceAddress(1 + cycle % 200));
        const qsizetype told = rig.fx.prompts.errors.size();
        if (cycle % 2 == 0) {
            // The device vanishes under the open port.
            sim.kill();
            QVERIFY(sim.waitUntil([&] { return !m.IsPortOpen() && rig.fx.prompts.errors.size() > told; },
                                  SoonMs));
            QCOMPARE(rig.fx.prompts.errors.size(), told + 1);
        } else {
            // The operator closes the port, then the device goes.
            m.btnOpenClick();
            QVERIFY(!m.IsPortOpen());
            sim.kill();
        }
        QCOMPARE(EnabledRow(m), PortClosedRow);
        if (cycle == 0)
            descriptorsAfterFirst = OpenDescriptorCount();
    }
    QTest::qWait(SettleMs);
    QCOMPARE(rig.fx.prompts.errors.size(), Cycles / 2);
    QCOMPARE(OpenDescriptorCount(), descriptorsAfterFirst);
    QCOMPARE(m.state(), TfrmMain::State::PortClosed);
}

QTEST_MAIN(TestDeviceFaults)
#include "tst_devicefaults.moc"
