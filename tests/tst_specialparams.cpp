#include "EventWait.h"
#include "ScriptedPrompter.h"
#include "TxSim.h"
#include "app/MainUnit.h"
#include "device/DeviceLink.h"
#include "io/SettingsStore.h"
#include "parameters/ParameterWindows.h"
#include "parameters/SpecailParamsUnit.h"
#include "parameters/SpecialParamMap.h"
#include "widgets/ModalRunner.h"
#include "widgets/NumericEdit.h"
#include "widgets/SpinEdit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>

using namespace SpecialParams;

namespace
{
constexpr int ReplyTimeoutMs = 400;
constexpr DeviceAddress ModuleAddress = 1;
const QString ReadTimeout = QStringLiteral("读取超时！");
const QString WriteFailed = QStringLiteral("写入失败！");
const QString WriteDone = QStringLiteral("       写入成功！     ");

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

/// Command codes of the frames the module received, in order.
QList<int> Codes(const QList<QByteArray> &frames)
{
    QList<int> codes;
    for (const QByteArray &f : frames)
        codes << std::uint8_t(f.at(2));
    return codes;
}

QList<int> Range(int first, int last)
{
    QList<int> codes;
    for (int c = first; c <= last; ++c)
        codes << c;
    return codes;
}
} // namespace

class TestSpecialParams : public QObject
{
    Q_OBJECT

    TxSim *m_sim = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ModuleSession> m_session;
    std::unique_ptr<TfrmMain> m_main;
    ParameterWindows m_windows;
    std::unique_ptr<TfrmSpecialParams> m_dlg;
    std::unique_ptr<ScriptedPrompter> m_prompts;

    /// A control of the dialog by its name.
    template <typename T> T *W(const char *name) const
    {
        T *widget = m_dlg->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    TxSim &sim() { return *m_sim; }
    /// Waits until the sequence started last has ended.
    bool settled() const
    {
        return WaitForEvents([this] { return !m_dlg->SequenceRunning(); }, 30000);
    }
    /// Runs a handler of the dialog (or clicks a button) and waits for its sequence to end.
    bool ran(void (TfrmSpecialParams::*handler)()) { return (m_dlg.get()->*handler)(), settled(); }
    bool clicked(const char *button) { return W<QPushButton>(button)->click(), settled(); }

    void param(int code, std::int32_t value)
    {
        QVERIFY(sim().ok(QStringLiteral("param %1 %2").arg(code).arg(value)));
    }
    std::int32_t get(int code)
    {
        const QString answer = sim().command(QStringLiteral("get %1").arg(code));
        return answer.mid(3).toInt();
    }
    /// The relay registers and the analog registers: distinct, recognisable values.
    void loadOutputRegisters()
    {
        param(CmdAL1, -1500);
        param(CmdAH1, 25000);
        param(CmdAM1, 12345);
        param(CmdAL2, 77);
        param(CmdAH2, 9999);
        param(CmdAM2, -42);
    }

private slots:
    // --- Pure rules ----------------------------------------------------------

    void commandMapReadsBothSetsOfOutputControls()
    {
        QCOMPARE(ReadTargetsFor(CmdInputType).first, Field::InputType);
        QCOMPARE(ReadTargetsFor(CmdInputType).second, Field::None);
        QCOMPARE(ReadTargetsFor(CmdAL1).first, Field::AL1);
        QCOMPARE(ReadTargetsFor(CmdAL1).second, Field::OutputRangeLow);
        QCOMPARE(ReadTargetsFor(CmdAM1).second, Field::VoltageOutputScale);
        QCOMPARE(ReadTargetsFor(CmdAH2).second, Field::CurrentOutputScale);
        QCOMPARE(ReadTargetsFor(CmdAM2).second, Field::CurrentOutputOffset);
        QCOMPARE(ReadTargetsFor(CmdOutDSP(2)).first, Field::OutDSP2);
        QCOMPARE(ReadTargetsFor(CmdOutVAL(3)).first, Field::OutVAL3);
        QCOMPARE(ReadTargetsFor(CmdFilterBand).first, Field::FilterBand);
        // Every code of the run fills at least one control.
        for (int code = FirstSpecialParam; code <= LastSpecialParam; ++code)
            QVERIFY2(ReadTargetsFor(CommandCode(code)).first != Field::None,
                     qPrintable(QString::number(code)));
        QCOMPARE(ReadTargetsFor(CmdStore).first, Field::None);
    }

    void commandMapWriteSourcesFollowTheBoardType()
    {
        const QList<Field> relay{Field::AL1, Field::AH1, Field::AM1, Field::AL2, Field::AH2, Field::AM2};
        const QList<Field> voltage{Field::OutputRangeLow,
                                   Field::OutputRangeHigh,
                                   Field::VoltageOutputScale,
                                   Field::VoltageOutputOffset,
                                   Field::None,
                                   Field::None};
        const QList<Field> current{
            Field::OutputRangeLow, Field::OutputRangeHigh,    Field::None,
            Field::None,           Field::CurrentOutputScale, Field::CurrentOutputOffset};
        for (int i = 0; i < 6; ++i) {
            const CommandCode code = CommandCode(CmdAL1 + i);
            QCOMPARE(WriteSourceFor(code, BoardNone), Field::None);
            QCOMPARE(WriteSourceFor(code, NoItem), Field::None);
            QCOMPARE(WriteSourceFor(code, BoardRelay), relay[i]);
            QCOMPARE(WriteSourceFor(code, BoardVoltageOutput), voltage[i]);
            QCOMPARE(WriteSourceFor(code, BoardCurrentOutput), current[i]);
        }
        // Outside 28..33 the board type does not matter.
        QCOMPARE(WriteSourceFor(CmdControlCode, BoardNone), Field::ControlCode);
        QCOMPARE(WriteSourceFor(CmdFilterLevel, BoardVoltageOutput), Field::FilterLevel);
        QCOMPARE(OutputFieldFor(CmdAM1), Field::VoltageOutputScale);
        QCOMPARE(OutputFieldFor(CmdControlCode), Field::None);
    }

    void radioGroupDecoding()
    {
        // With a range test: values outside the items leave the group alone.
        QCOMPARE(DecodeRangedItem(2, OutputBoardTypeItems), std::optional<int>(2));
        QCOMPARE(DecodeRangedItem(4, OutputBoardTypeItems), std::nullopt);
        QCOMPARE(DecodeRangedItem(-1, InputTypeItems), std::nullopt);
        QCOMPARE(DecodeRangedItem(2, ADCSpeedItems), std::nullopt);
        // Without: negative = none, past the last = the last.
        QCOMPARE(DecodeUnrangedItem(-1, ControlModeItems), NoItem);
        QCOMPARE(DecodeUnrangedItem(std::numeric_limits<std::int32_t>::min(), ControlModeItems), NoItem);
        QCOMPARE(DecodeUnrangedItem(5, ControlModeItems), 2);
        QCOMPARE(DecodeUnrangedItem(1, ControlModeItems), 1);
        // rgOutMode never ends with no item selected.
        QCOMPARE(DecodeOutModeItem(-1, OutModeItems), 0);
        QCOMPARE(DecodeOutModeItem(7, OutModeItems), 1);
    }

    void scaleIsRoundedToTheNearestUnit()
    {
        constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
        constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
        QCOMPARE(DecodeScale(12345), 1.2345);
        QCOMPARE(DecodeScale(10000), 1.0);
        QCOMPARE(EncodeScale(1.0), 10000);
        QCOMPARE(EncodeScale(1.9999), 19999);
        // 1.2345, 0.7 and 1.0001 are held just below their decimal values
        // (0.7 as 0.69999999999999995559): the product lies just below the
        // whole number and is still sent as that number.
        QCOMPARE(EncodeScale(1.2345), 12345);
        QCOMPARE(EncodeScale(0.7), 7000);
        QCOMPARE(EncodeScale(1.0001), 10001);
        QCOMPARE(EncodeScale(-0.7), -7000);
        QCOMPARE(EncodeScale(-1.2345), -12345);
        QCOMPARE(EncodeScale(0.00004), 0);
        QCOMPARE(EncodeScale(0.00006), 1);
        QCOMPARE(EncodeScale(-0.00006), -1);
        // The ends of the 32-bit range are reached; nothing beyond them wraps.
        QCOMPARE(EncodeScale(214748.3647), Max);
        QCOMPARE(EncodeScale(-214748.3648), Min);
        QCOMPARE(EncodeScale(1e300), Max);
        QCOMPARE(EncodeScale(-1e300), Min);
        QCOMPARE(EncodeScale(std::nan("")), 0);

        // Every register value 0..99999, read and written back unchanged, is
        // sent as it was read: from the decoded scale, and from the field's
        // four-decimal text read back as a number.
        const QLocale locale = QLocale::c();
        const NumericFormat shown = NumericFormat::Fixed(ScaleDecimals);
        for (std::int32_t value = 0; value <= 99999; ++value) {
            const double scale = DecodeScale(value);
            if (EncodeScale(scale) != value)
                QFAIL(qPrintable(QStringLiteral("%1 is sent as %2").arg(value).arg(EncodeScale(scale))));
            const QString text = NumericEdit::FormatNumericText(scale, shown, locale);
            const double typed = NumericEdit::ParseNumericText(text, locale);
            if (EncodeScale(typed) != value)
                QFAIL(qPrintable(QStringLiteral("%1 shown as %2 is sent as %3")
                                     .arg(value)
                                     .arg(text)
                                     .arg(EncodeScale(typed))));
        }
    }

    void integersRoundAndSaturate()
    {
        QCOMPARE(EncodeInteger(2.5), 3);
        QCOMPARE(EncodeInteger(-2.5), -3);
        QCOMPARE(EncodeInteger(1234.4), 1234);
        QCOMPARE(EncodeInteger(3e9), std::numeric_limits<std::int32_t>::max());
        QCOMPARE(EncodeInteger(-3e9), std::numeric_limits<std::int32_t>::min());
        QCOMPARE(EncodeInteger(std::nan("")), 0);
    }

    void filterLevelAndProgress()
    {
        QCOMPARE(ClampFilterLevel(9), 5);
        QCOMPARE(ClampFilterLevel(-3), 0);
        QCOMPARE(ClampFilterLevel(3), 3);
        QCOMPARE(FilterLevelFromText(QStringLiteral("4")), 4);
        QCOMPARE(FilterLevelFromText(QStringLiteral("12")), 12); // the text as typed, not clamped
        QCOMPARE(FilterLevelFromText(QStringLiteral("")), 0);
        QCOMPARE(FilterLevelFromText(QStringLiteral("x")), 0);
        QCOMPARE(ProgressPercent(1), 5);
        QCOMPARE(ProgressPercent(10), 48);
        QCOMPARE(ProgressPercent(21), 100);
    }

    // --- The dialog against the simulator -------------------------------------

    void init()
    {
        m_sim = new TxSim(this);
        QVERIFY(m_sim->start({QStringLiteral("--address"), QString::number(ModuleAddress)}));
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings =
            std::make_unique<SettingsStore>(QDir(m_dir->path()).filePath(QStringLiteral("Data.ini")));
        m_session = std::make_unique<ModuleSession>(ReplyTimeoutMs);
        m_main = std::make_unique<TfrmMain>(*m_session, *m_settings);
        m_main->SelectPort(m_sim->portName());
        m_main->OpenPort();
        m_main->SetCurrentAddress(ModuleAddress);
        m_dlg = std::make_unique<TfrmSpecialParams>(m_windows, *m_session);
        m_prompts = std::make_unique<ScriptedPrompter>();
    }

    void cleanup()
    {
        m_prompts.reset();
        m_dlg.reset();
        m_main.reset();
        m_session.reset();
        m_settings.reset();
        delete m_sim;
        m_sim = nullptr;
        m_dir.reset();
    }

    void showingReadsEverythingAndArrangesThePages()
    {
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("特殊参数配置"));
        QCOMPARE(W<QTabWidget>("RzPageControl1")->currentWidget(), W<QWidget>("tsOutputBoard"));
        param(CmdInputType, 2);
        param(CmdOutputBoardType, BoardVoltageOutput);
        param(CmdADCSpeed, 1);
        loadOutputRegisters();
        param(CmdAH2, 10000);
        param(CmdControlCode, -1234567);
        param(CmdOutMode, 1);
        param(CmdOutDSP(1), -5000);
        param(CmdStepOFF, 300);
        param(CmdFilterLevel, 9);
        param(CmdFilterBand, 1500);
        sim().clearLog();

        m_dlg->show(); // posts the read; FormShow: read, then the two click handlers
        QVERIFY(m_dlg->ShowReadPending());
        QCoreApplication::sendPostedEvents(m_dlg.get(), WM_SPECIALPARAMS_START);
        QVERIFY(!m_dlg->ShowReadPending());
        QVERIFY(settled());
        QVERIFY(m_prompts->messages.isEmpty());
        QCOMPARE(Codes(sim().receivedFrames()), Range(FirstSpecialParam, LastSpecialParam));
        QCOMPARE(Hex(sim().receivedFrames().first()), QStringLiteral("3f 01 19 27 23"));
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("20"));
        QCOMPARE(m_dlg->progressCompleted(), ProgressParts);
        QCOMPARE(W<QProgressBar>("psReadWrite")->text(), QStringLiteral("100%"));

        QCOMPARE(m_dlg->rgInputType().itemIndex(), 2);
        QCOMPARE(m_dlg->rgADCSpeed().itemIndex(), 1);
        QCOMPARE(m_dlg->rgOutputBoardType().itemIndex(), BoardVoltageOutput);
        // Both sets of output controls show the same registers.
        QCOMPARE(W<NumericEdit>("neAL1")->text(), QStringLiteral("-1,500"));
        QCOMPARE(W<NumericEdit>("neOutputRangeLow")->text(), QStringLiteral("-1,500"));
        QCOMPARE(W<NumericEdit>("neOutputRangeHigh")->text(), QStringLiteral("25,000"));
        QCOMPARE(m_dlg->rgAM1().itemIndex(), 2); // 12345: past the last item
        QCOMPARE(m_dlg->rgAM1().button(2)->text(), QStringLiteral("上限    "));
        QCOMPARE(W<NumericEdit>("neVoltageOutputScale")->text(), QStringLiteral("1.2345"));
        QCOMPARE(W<NumericEdit>("neCurrentOutputScale")->text(), QStringLiteral("1.0000"));
        QCOMPARE(m_dlg->rgAM2().itemIndex(), NoItem); // -42
        QCOMPARE(W<NumericEdit>("neCurrentOutputOffset")->text(), QStringLiteral("-42"));
        QCOMPARE(W<NumericEdit>("neControlCode")->text(), QStringLiteral("-1,234,567"));
        QCOMPARE(W<NumericEdit>("neOutDSP1")->text(), QStringLiteral("(5,000)"));
        QCOMPARE(W<NumericEdit>("neStepOFF")->text(), QStringLiteral("300"));
        QCOMPARE(W<SpinEdit>("speFilterLevel")->text(), QStringLiteral("5"));
        QCOMPARE(W<NumericEdit>("neFilterBand")->text(), QStringLiteral("1,500"));

        // Board type 2: the 0~5V output with its voltage pair, no relays.
        QVERIFY(!W<QGroupBox>("grpOutput")->isHidden());
        QCOMPARE(W<QGroupBox>("grpOutput")->title(), QStringLiteral("0~5V变送输出"));
        QVERIFY(!W<NumericEdit>("neVoltageOutputScale")->isHidden());
        QVERIFY(!W<NumericEdit>("neVoltageOutputOffset")->isHidden());
        QVERIFY(W<NumericEdit>("neCurrentOutputScale")->isHidden());
        QVERIFY(W<NumericEdit>("neCurrentOutputOffset")->isHidden());
        QVERIFY(W<QTabWidget>("tbcRelay")->isHidden());
        QVERIFY(W<NumericEdit>("neControlCode")->isHidden());
        QVERIFY(W<QTabWidget>("RzPageControl1")
                    ->isTabEnabled(W<QTabWidget>("RzPageControl1")->indexOf(W<QWidget>("tsAOut"))));
        QVERIFY(W<QGroupBox>("grpSpecialOut")->isEnabled());

        // The operator picks the other boards: each shows its own controls.
        m_dlg->rgOutputBoardType().button(BoardCurrentOutput)->click();
        QCOMPARE(W<QGroupBox>("grpOutput")->title(), QStringLiteral("4~20mA变送输出"));
        QVERIFY(W<NumericEdit>("neVoltageOutputScale")->isHidden());
        QVERIFY(!W<NumericEdit>("neCurrentOutputOffset")->isHidden());
        W<QTabWidget>("tbcRelay")->setCurrentIndex(1);
        m_dlg->rgOutputBoardType().button(BoardRelay)->click();
        QVERIFY(W<QGroupBox>("grpOutput")->isHidden());
        QVERIFY(!W<QTabWidget>("tbcRelay")->isHidden());
        QCOMPARE(W<QTabWidget>("tbcRelay")->currentWidget(), W<QWidget>("tsRelay1"));
        QVERIFY(!W<NumericEdit>("neControlCode")->isHidden());
        QVERIFY(!W<QTabWidget>("RzPageControl1")
                     ->isTabEnabled(W<QTabWidget>("RzPageControl1")->indexOf(W<QWidget>("tsAOut"))));
        m_dlg->rgOutputBoardType().button(BoardNone)->click();
        QVERIFY(W<QGroupBox>("grpOutput")->isHidden());
        QVERIFY(W<QTabWidget>("tbcRelay")->isHidden());
        QVERIFY(W<NumericEdit>("neControlCode")->isHidden());

        // "普通方式" disables the special-output fields.
        m_dlg->rgOutMode().button(0)->click();
        QVERIFY(!W<QGroupBox>("grpSpecialOut")->isEnabled());

        if (const QByteArray dir = qgetenv("SPECIAL_SCREENSHOT_DIR"); !dir.isEmpty()) {
            m_dlg->rgOutputBoardType().setItemIndex(BoardVoltageOutput);
            m_dlg->rgOutMode().setItemIndex(1);
            for (int page = 0; page < W<QTabWidget>("RzPageControl1")->count(); ++page) {
                W<QTabWidget>("RzPageControl1")->setCurrentIndex(page);
                QTest::qWait(20); // let the layouts settle
                m_dlg->grab().save(
                    QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("page%1.png").arg(page + 1)));
            }
            m_dlg->rgOutputBoardType().setItemIndex(BoardRelay);
            W<QTabWidget>("RzPageControl1")->setCurrentIndex(1);
            QTest::qWait(20);
            m_dlg->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("page2-relay.png")));
        }
        m_dlg->hide();
    }

    void showingReadsFromTheModalLoopOnce()
    {
        // The read starts once the dialog runs modally: the main window is
        // blocked while it runs, and a second showing meanwhile starts no
        // second read.
        sim().clearLog();
        QWidget *modalDuringRead = nullptr;
        bool runningDuringRead = false;
        int replies = 0;
        const QMetaObject::Connection watch =
            connect(&m_main->link(), &DeviceLink::replyHandled, this, [&](const Reply &reply) {
                if (++replies == 1) {
                    modalDuringRead = QApplication::activeModalWidget();
                    runningDuringRead = m_dlg->ReadRunning();
                    m_dlg->show();
                    QShowEvent again;
                    QCoreApplication::sendEvent(m_dlg.get(), &again);
                }
                if (reply.command == CmdFilterBand)
                    QTimer::singleShot(0, m_dlg.get(), &QDialog::reject);
            });
        QTimer safety; // ends the modal loop should the read never finish
        safety.setSingleShot(true);
        connect(&safety, &QTimer::timeout, m_dlg.get(), &QDialog::reject);
        safety.start(30000);

        ShowModal(m_dlg.get());
        disconnect(watch);

        QCOMPARE(modalDuringRead, static_cast<QWidget *>(m_dlg.get()));
        QVERIFY(runningDuringRead);
        QVERIFY(!m_dlg->ReadRunning());
        QVERIFY(!m_dlg->ShowReadPending());
        QVERIFY(m_prompts->messages.isEmpty());
        QVERIFY(sim().waitForReceivedFrames(ProgressParts));
        QTest::qWait(100); // nothing more comes
        QCOMPARE(Codes(sim().receivedFrames()), Range(FirstSpecialParam, LastSpecialParam));
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("20"));
    }

    void readValuesOutsideTheItems()
    {
        m_dlg->rgOutputBoardType().setItemIndex(BoardRelay);
        m_dlg->rgOutMode().setItemIndex(1);
        param(CmdOutputBoardType, 5);
        param(CmdAM1, -1);
        param(CmdAM2, 5);
        param(CmdOutMode, -1);
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        QVERIFY(m_prompts->messages.isEmpty());
        QCOMPARE(m_dlg->rgOutputBoardType().itemIndex(), BoardRelay); // 5 is no board type
        QVERIFY(!W<QTabWidget>("tbcRelay")->isHidden());
        QCOMPARE(m_dlg->rgAM1().itemIndex(), NoItem);
        QCOMPARE(m_dlg->rgAM2().itemIndex(), 2);
        QCOMPARE(m_dlg->rgAM2().button(2)->text(), QStringLiteral("上限"));
        QCOMPARE(m_dlg->rgOutMode().itemIndex(), 0);
        QVERIFY(!W<QGroupBox>("grpSpecialOut")->isEnabled());

        // Board type 1 sends the relay controls; rgAM1 with no item sends -1.
        W<NumericEdit>("neAL1")->setText(QStringLiteral("1,000"));
        W<NumericEdit>("neAH1")->setText(QStringLiteral("20.6"));
        W<NumericEdit>("neAL2")->setText(QStringLiteral("(300)"));
        W<NumericEdit>("neAH2")->setText(QStringLiteral("40"));
        W<NumericEdit>("neOutputRangeLow")->setText(QStringLiteral("555")); // not this board's
        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{WriteDone});
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("21"));
        QCOMPARE(Codes(sim().receivedFrames()), Range(FirstSpecialParam, LastSpecialParam));
        QCOMPARE(get(CmdOutputBoardType), BoardRelay);
        QCOMPARE(get(CmdAL1), 1000);
        QCOMPARE(get(CmdAH1), 21);
        QCOMPARE(get(CmdAM1), -1);
        QCOMPARE(get(CmdAL2), -300);
        QCOMPARE(get(CmdAH2), 40);
        QCOMPARE(get(CmdAM2), 2);
        QCOMPARE(get(CmdOutMode), 0);

        // What was written is what the module now holds: a later write with
        // no board keeps it, rather than the values read before.
        m_dlg->rgOutputBoardType().setItemIndex(BoardNone);
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(get(CmdAL1), 1000);
        QCOMPARE(get(CmdAM1), -1);
        QCOMPARE(get(CmdAL2), -300);
    }

    void writeWithoutBoardKeepsTheOutputRegisters()
    {
        loadOutputRegisters();
        param(CmdOutputBoardType, BoardNone);
        param(CmdFilterLevel, 9);
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        QCOMPARE(m_dlg->rgOutputBoardType().itemIndex(), BoardNone);
        // Edits in controls the board does not use are not sent.
        W<NumericEdit>("neAL1")->setValue(1);
        W<NumericEdit>("neVoltageOutputScale")->setValue(0.5);
        m_dlg->rgAM2().setItemIndex(0);
        W<NumericEdit>("neFilterBand")->setText(QStringLiteral("(12)"));
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{WriteDone});
        QCOMPARE(get(CmdAL1), -1500);
        QCOMPARE(get(CmdAH1), 25000);
        QCOMPARE(get(CmdAM1), 12345); // the register as read, not the edited field
        QCOMPARE(get(CmdAL2), 77);
        QCOMPARE(get(CmdAH2), 9999);
        QCOMPARE(get(CmdAM2), -42);
        QCOMPARE(get(CmdFilterLevel), 5);
        QCOMPARE(get(CmdFilterBand), -12);
    }

    void voltageBoardWritesScaleTimesTenThousandRounded()
    {
        loadOutputRegisters();
        param(CmdOutputBoardType, BoardVoltageOutput);
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        W<NumericEdit>("neOutputRangeLow")->setValue(100);
        W<NumericEdit>("neOutputRangeHigh")->setValue(200);
        W<NumericEdit>("neVoltageOutputScale")->setValue(1.0);
        W<NumericEdit>("neVoltageOutputOffset")->setValue(-5);
        W<NumericEdit>("neCurrentOutputScale")->setValue(0.3);
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(get(CmdAL1), 100);
        QCOMPARE(get(CmdAH1), 200);
        QCOMPARE(get(CmdAM1), 10000);
        QCOMPARE(get(CmdAL2), -5);
        QCOMPARE(get(CmdAH2), 9999); // current pair: not this board's
        QCOMPARE(get(CmdAM2), -42);

        W<NumericEdit>("neVoltageOutputScale")->setText(QStringLiteral("0.7"));
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(get(CmdAM1), 7000);
        QVERIFY(ran(&TfrmSpecialParams::ReadSpecialParams));
        QCOMPARE(W<NumericEdit>("neVoltageOutputScale")->text(), QStringLiteral("0.7000"));
    }

    void scaleReadAndWrittenBackIsSentUnchanged()
    {
        // Registers whose scales lie just below their decimal values in binary.
        param(CmdOutputBoardType, BoardVoltageOutput);
        param(CmdAM1, 12345);
        param(CmdAH2, 7000);
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        QCOMPARE(W<NumericEdit>("neVoltageOutputScale")->text(), QStringLiteral("1.2345"));
        QCOMPARE(W<NumericEdit>("neCurrentOutputScale")->text(), QStringLiteral("0.7000"));
        const auto frame = [](CommandCode code, std::int32_t value) {
            return DeviceLink::toBytes(BuildDataFrame(ModuleAddress, code, value));
        };

        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{WriteDone});
        QVERIFY(sim().waitForReceivedFrames(ProgressParts));
        QCOMPARE(sim().receivedFrames().at(RegisterIndex(CmdAM1)), frame(CmdAM1, 12345));

        // "W" sends both scale fields.
        sim().clearLog();
        QVERIFY(clicked("btnW"));
        QVERIFY(sim().waitForReceivedFrames(6));
        const QList<QByteArray> written = sim().receivedFrames();
        QCOMPARE(written.at(CmdAM1 - CmdAL1), frame(CmdAM1, 12345));
        QCOMPARE(written.at(CmdAH2 - CmdAL1), frame(CmdAH2, 7000));
        QCOMPARE(get(CmdAM1), 12345);
        QCOMPARE(get(CmdAH2), 7000);
    }

    void currentBoardKeepsTheVoltageRegisters()
    {
        loadOutputRegisters();
        param(CmdOutputBoardType, BoardCurrentOutput);
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        W<NumericEdit>("neVoltageOutputScale")->setValue(1.5);
        W<NumericEdit>("neCurrentOutputScale")->setValue(1.5);
        W<NumericEdit>("neCurrentOutputOffset")->setValue(8);
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(get(CmdAM1), 12345);
        QCOMPARE(get(CmdAL2), 77);
        QCOMPARE(get(CmdAH2), 15000);
        QCOMPARE(get(CmdAM2), 8);
    }

    void readTimeoutEndsTheRun()
    {
        W<NumericEdit>("neAL2")->setValue(4321);
        W<NumericEdit>("neFilterBand")->setValue(88);
        param(CmdAL2, 1);
        QVERIFY(sim().ok(QStringLiteral("fault mute %1 query").arg(CmdAM1)));
        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::FormShow));
        QCOMPARE(m_prompts->messages, QStringList{ReadTimeout});
        QTest::qWait(100); // nothing more comes
        QCOMPARE(Codes(sim().receivedFrames()), Range(FirstSpecialParam, CmdAM1));
        QCOMPARE(W<NumericEdit>("neAL2")->text(), QStringLiteral("4,321"));
        QCOMPARE(W<NumericEdit>("neFilterBand")->text(), QStringLiteral("88"));
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("4"));
        QCOMPARE(m_dlg->progressCompleted(), 5);
    }

    void lastCodeCountsItsProgressBeforeTheOutcome()
    {
        QVERIFY(sim().ok(QStringLiteral("fault mute %1 query").arg(CmdFilterBand)));
        QVERIFY(ran(&TfrmSpecialParams::ReadSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{ReadTimeout});
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("20"));
        QCOMPARE(m_dlg->progressCompleted(), ProgressParts);
    }

    void aReplyToAnotherRequestIsNoParameterValue()
    {
        // A poll reply (command 1) arrives while the dialog waits for 30.
        param(CmdAM1, 10000);
        W<NumericEdit>("neVoltageOutputScale")->setValue(1.5);
        QVERIFY(sim().ok(QStringLiteral("fault mute %1 query").arg(CmdAM1)));
        const QByteArray poll = DeviceLink::toBytes(BuildDataFrame(ModuleAddress, CmdReadValue, 2));
        bool injected = false;
        connect(&m_main->link(), &DeviceLink::replyHandled, this, [&](const Reply &reply) {
            if (reply.command == CmdAH1 && !injected) {
                injected = true;
                QTimer::singleShot(30, this, [&] { sim().ok(QStringLiteral("raw ") + Hex(poll)); });
            }
        });
        QVERIFY(ran(&TfrmSpecialParams::ReadSpecialParams));
        QVERIFY(injected);
        QCOMPARE(m_prompts->messages, QStringList{ReadTimeout});
        QCOMPARE(W<NumericEdit>("neVoltageOutputScale")->text(), QStringLiteral("1.5000"));
        QCOMPARE(m_dlg->rgAM1().itemIndex(), 0);
    }

    void writeFailures()
    {
        // No acknowledgement for 35: 25..34 are written, nothing after.
        QVERIFY(sim().ok(QStringLiteral("fault mute %1 data").arg(CmdOutMode)));
        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{WriteFailed});
        QTest::qWait(100);
        QCOMPARE(Codes(sim().receivedFrames()), Range(FirstSpecialParam, CmdOutMode));
        QCOMPARE(m_dlg->progressCompleted(), 1 + (CmdOutMode - FirstSpecialParam));

        // An acknowledgement carrying another command byte is no success.
        QVERIFY(sim().ok(QStringLiteral("fault clear")));
        QVERIFY(sim().ok(QStringLiteral("fault cmd 7")));
        m_prompts->messages.clear();
        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QCOMPARE(m_prompts->messages, QStringList{WriteFailed});
        QCOMPARE(Codes(sim().receivedFrames()), QList<int>{FirstSpecialParam});

        m_prompts->messages.clear();
        sim().clearLog();
        QVERIFY(ran(&TfrmSpecialParams::btnWClick));
        QCOMPARE(m_prompts->messages, QStringList{WriteFailed});
        QCOMPARE(Codes(sim().receivedFrames()), QList<int>{CmdAL1});
    }

    void rAndWWriteTheAnalogFieldsOnly()
    {
        m_dlg->rgOutputBoardType().setItemIndex(BoardRelay);
        W<NumericEdit>("neOutputRangeLow")->setValue(-10);
        W<NumericEdit>("neOutputRangeHigh")->setValue(1000);
        W<NumericEdit>("neVoltageOutputScale")->setValue(1.25);
        W<NumericEdit>("neVoltageOutputOffset")->setValue(3);
        W<NumericEdit>("neCurrentOutputScale")->setValue(0.5);
        W<NumericEdit>("neCurrentOutputOffset")->setValue(-4);
        W<NumericEdit>("neAL1")->setValue(999); // relay fields are not sent
        m_dlg->setWindowTitle(QStringLiteral("7"));
        sim().clearLog();
        QVERIFY(clicked("btnR"));
        QVERIFY(m_prompts->messages.isEmpty());
        QCOMPARE(Codes(sim().receivedFrames()), Range(CmdAL1, CmdAM2));
        QCOMPARE(get(CmdAL1), -10);
        QCOMPARE(get(CmdAH1), 1000);
        QCOMPARE(get(CmdAM1), 12500);
        QCOMPARE(get(CmdAL2), 3);
        QCOMPARE(get(CmdAH2), 5000);
        QCOMPARE(get(CmdAM2), -4);
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("7")); // progress untouched

        // While a sequence runs its buttons are disabled and no second one starts.
        sim().clearLog();
        W<QPushButton>("btnW")->click();
        QVERIFY(!W<QPushButton>("btnRead")->isEnabled() && !W<QPushButton>("btnR")->isEnabled());
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QVERIFY(W<QPushButton>("btnRead")->isEnabled() && W<QPushButton>("btnR")->isEnabled());
        QVERIFY(m_prompts->messages.isEmpty());
        QCOMPARE(Codes(sim().receivedFrames()), Range(CmdAL1, CmdAM2));
    }

    void lockedFieldsAndRadioGroupHelper()
    {
        QVERIFY(!W<QGroupBox>("rgInputType")->isEnabled()); // until the access gate unlocks it
        m_dlg->SetLockedFieldsEnabled(true);
        QVERIFY(W<QGroupBox>("rgInputType")->isEnabled());
        QVERIFY(W<QGroupBox>("rgOutputBoardType")->isEnabled());
        QVERIFY(W<NumericEdit>("neControlCode")->isEnabled());
        m_dlg->SetLockedFieldsEnabled(false);
        QVERIFY(!W<QGroupBox>("rgInputType")->isEnabled());
        QVERIFY(!W<QGroupBox>("rgOutputBoardType")->isEnabled());
        QVERIFY(!W<NumericEdit>("neControlCode")->isEnabled());

        // One handler run per change of the selected item.
        RadioGroupIndex &group = m_dlg->rgADCSpeed();
        int runs = 0;
        group.setOnChange([&] { ++runs; });
        group.setItemIndex(1);
        group.setItemIndex(1);
        QCOMPARE(runs, 1);
        group.setItemIndex(-1);
        QCOMPARE(group.itemIndex(), NoItem);
        QCOMPARE(runs, 2);
        group.button(0)->click();
        QCOMPARE(group.itemIndex(), 0);
        QCOMPARE(runs, 3);
        group.setItemIndex(9);
        QCOMPARE(group.itemIndex(), 1);
    }

    void closedPortIsReportedNotThrown()
    {
        m_main->ClosePort();
        QVERIFY(ran(&TfrmSpecialParams::ReadSpecialParams));
        QVERIFY(ran(&TfrmSpecialParams::WriteSpecialParams));
        QVERIFY(ran(&TfrmSpecialParams::btnWClick));
        QCOMPARE(m_prompts->errors.size(), 3);
        QVERIFY(m_prompts->messages.isEmpty());
    }
};

QTEST_MAIN(TestSpecialParams)
#include "tst_specialparams.moc"
