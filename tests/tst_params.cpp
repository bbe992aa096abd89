// The parameter windows against the module simulator: the access gate and its
// three levels, the general parameter list, the single-parameter editor and
// the read-all run, including replies that answer another request.

#include "EventWait.h"
#include "MainFixture.h"

#include "app/MainUnit.h"
#include "device/Pause.h"
#include "parameters/AccessGate.h"
#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "parameters/ParameterWindows.h"
#include "parameters/PasswordUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "widgets/ModalRunner.h"

#include "ui_EditParamUnit.h"
#include "ui_ParamUnit.h"
#include "ui_PasswordUnit.h"
#include "ui_ReadAllParamUnit.h"
#include "ui_SpecailParamsUnit.h"

#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace
{

constexpr int SimAddress = 1;
constexpr int ShortTimeoutMs = MainFixture::ShortReplyTimeoutMs;
// A time-out short enough for runs in which every code times out.
constexpr int SilentTimeoutMs = 60;

const QString Running = QStringLiteral("中断(&A)");
const QString Finished = QStringLiteral("确定(&O)");
const QString Stopped = QStringLiteral("退出(&E)");

using Driver = std::function<int(QDialog *)>;

} // namespace

class TestParams : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void catalogueOrderAndCommands();
    void passwordDialog();
    void gateOpensByLevel_data();
    void gateOpensByLevel();
    void gateLevelsPersist();
    void listLayout();
    void listOpensOnlyWithSelection();
    void editorReadsTheSelectedRowsCommand();
    void editorWrites();
    void editorRefusesBadEntriesWithoutSending_data();
    void editorRefusesBadEntriesWithoutSending();
    void editorTimeoutsKeepValues();
    void editorReopenedOnAnotherRow();
    void readAllFillsEveryRow();
    void readAllSilentModule();
    void readAllAbort_data();
    void readAllAbort();
    void readAllCloseRequestWaitsForRunEnd();
    void repliesToOtherRequestsAreNotParameterValues();
    void liveReadingUnderneath();
    void editorOnASessionWithoutMainWindow();

private:
    TfrmMain &main() { return m_fixture->main(); }
    TxSim &sim() { return m_fixture->sim(); }
    /// Shows `dialog` the way ShowModal would, through the gate's modal hook.
    void drive(const QString &className, Driver driver) { m_drivers[className] = std::move(driver); }
    static Driver typeCode(const QString &code, bool confirm = true);
    /// Shows the read-all window and runs its posted start message to the end.
    static int runReadAll(QDialog *dialog);
    /// The editor on `row`, shown.
    void openEditor(int row);
    /// Clicks the editor's button; true once its outcome is in.
    bool clickRead()
    {
        m_edit->btnReadClick();
        return WaitForEvents([this] { return !m_edit->Busy(); }, 10000);
    }
    bool clickWrite()
    {
        m_edit->btnWriteClick();
        return WaitForEvents([this] { return !m_edit->Busy(); }, 10000);
    }
    QList<QByteArray> framesAfter(int count);
    QStringList listLines() const;
    void setParam(CommandCode code, qint32 value)
    {
        QVERIFY(sim().ok(QStringLiteral("param %1 %2").arg(code).arg(value)));
    }
    qint32 moduleParam(CommandCode code)
    {
        return sim().command(QStringLiteral("get %1").arg(code)).section(u' ', 1).toInt();
    }
    void clearList();

    std::unique_ptr<MainFixture> m_fixture;
    ParameterWindows m_windows;
    std::unique_ptr<TfrmPassword> m_password;
    std::unique_ptr<TfrmParam> m_param;
    std::unique_ptr<TfrmEditParam> m_edit;
    std::unique_ptr<TfrmReadAllParam> m_readAll;
    std::unique_ptr<TfrmSpecialParams> m_special;

    QStringList m_shown; // class names of the dialogs shown modally, in order
    std::map<QString, Driver> m_drivers;
    QList<int> m_pauses;
    std::function<void(int count)> m_onPause;
};

Driver TestParams::typeCode(const QString &code, bool confirm)
{
    return [code, confirm](QDialog *dialog) {
        auto *password = static_cast<TfrmPassword *>(dialog);
        password->show();
        // Typed key by key where the test keyboard has the keys.
        const bool ascii = std::all_of(code.begin(), code.end(), [](QChar c) { return c.unicode() < 0x80; });
        if (ascii)
            QTest::keyClicks(password->ui()->mskPassword, code);
        else
            password->ui()->mskPassword->insert(code);
        (confirm ? password->ui()->btnOK : password->ui()->btnCancel)->click();
        return password->result();
    };
}

int TestParams::runReadAll(QDialog *dialog)
{
    dialog->show();
    // The window posted its start message to itself; deliver it now, and
    // let the run go on to its end as the modal loop would.
    QCoreApplication::sendPostedEvents(dialog, WM_READALL_START);
    const auto *readAll = static_cast<TfrmReadAllParam *>(dialog);
    [[maybe_unused]] const bool ended = WaitForEvents([readAll] { return !readAll->InRun(); }, 60000);
    return dialog->result();
}

void TestParams::initTestCase()
{
    m_fixture = std::make_unique<MainFixture>(ShortTimeoutMs);
    m_fixture->create();
    ModuleSession &session = m_fixture->session();
    m_param = std::make_unique<TfrmParam>(m_windows);
    m_edit = std::make_unique<TfrmEditParam>(m_windows, session);
    m_readAll = std::make_unique<TfrmReadAllParam>(m_windows, session);
    m_special = std::make_unique<TfrmSpecialParams>(m_windows, session);
    m_password = std::make_unique<TfrmPassword>(m_windows);
    QVERIFY(m_fixture->connect({QStringLiteral("--address"), QString::number(SimAddress)}));

    SetModalHook([this](QDialog *dialog) {
        const QString name = QString::fromLatin1(dialog->metaObject()->className());
        m_shown << name;
        const auto it = m_drivers.find(name);
        return it != m_drivers.end() ? it->second(dialog) : int(QDialog::Rejected);
    });
}

void TestParams::init()
{
    if (main().state() == TfrmMain::State::Reading)
        main().btnBeginReadClick();
    QVERIFY(sim().ok(QStringLiteral("fault clear")));
    QVERIFY(sim().ok(QStringLiteral("autosend off")));
    main().link().setReplyTimeoutMs(ShortTimeoutMs);
    // Let any reply still under way arrive before the test starts.
    QTest::qWait(30);
    sim().clearLog();
    m_shown.clear();
    m_drivers.clear();
    m_drivers[QStringLiteral("TfrmReadAllParam")] = &TestParams::runReadAll;
    m_fixture->prompts.messages.clear();
    m_pauses.clear();
    m_onPause = nullptr;
    SetPauseHook([this](int ms) {
        m_pauses << ms;
        if (m_onPause)
            m_onPause(int(m_pauses.size()));
    });
}

void TestParams::cleanupTestCase()
{
    SetModalHook({});
    SetPauseHook({});
    m_password.reset();
    m_special.reset();
    m_readAll.reset();
    m_edit.reset();
    m_param.reset();
    m_fixture.reset();
}

void TestParams::openEditor(int row)
{
    m_param->SelectRow(row);
    m_edit->hide();
    m_edit->show();
    QCOMPARE(m_edit->windowTitle(), ParameterCatalogue::Name(row));
}

QList<QByteArray> TestParams::framesAfter(int count)
{
    sim().waitForReceivedFrames(count, 2000);
    return sim().receivedFrames();
}

QStringList TestParams::listLines() const
{
    QStringList lines;
    for (int i = 0; i < m_readAll->ui()->ListBox1->count(); ++i)
        lines << m_readAll->ui()->ListBox1->item(i)->text();
    return lines;
}

void TestParams::clearList()
{
    for (int row = 0; row < ParameterCatalogue::Count; ++row)
        m_param->SetValueText(row, QString());
}

void TestParams::catalogueOrderAndCommands()
{
    const QStringList &names = ParameterCatalogue::Names();
    QCOMPARE(names.size(), 21);
    QCOMPARE(names.first(), QStringLiteral("设备编号(DN)"));
    QCOMPARE(names.at(1), QStringLiteral("零点值(ZerO)"));
    QCOMPARE(names.at(2), QStringLiteral("标定点数(PointCount)"));
    QCOMPARE(names.at(3), QStringLiteral("标定点1输入值(AVP1)"));
    QCOMPARE(names.at(11), QStringLiteral("标定点9输入值(AVP9)"));
    QCOMPARE(names.at(12), QStringLiteral("标定点1显示值(PVP1)"));
    QCOMPARE(names.last(), QStringLiteral("标定点9显示值(PVP9)"));
    QCOMPARE(ParameterCatalogue::Command(0), CmdDN);
    QCOMPARE(ParameterCatalogue::Command(3), CmdAVP(1));
    QCOMPARE(ParameterCatalogue::Command(20), CmdPVP(9));
    QCOMPARE(ParameterCatalogue::IndexOf(CmdPVP(9)), 20);
    QCOMPARE(ParameterCatalogue::IndexOf(CmdReadValue), -1);
    QCOMPARE(ParameterCatalogue::IndexOf(CmdStore), -1);
    QVERIFY(ParameterCatalogue::Name(21).isEmpty());
}

void TestParams::passwordDialog()
{
    Ui::TfrmPassword *ui = m_password->ui();
    QCOMPARE(m_password->windowTitle(), QStringLiteral("参数编辑"));
    QCOMPARE(ui->mskPassword->echoMode(), QLineEdit::Password);
    QCOMPARE(
        ui->mskPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, ui->mskPassword),
        int(u'*'));
    QVERIFY(ui->btnOK->isDefault());

    // The code is taken exactly as typed, blanks included.
    QCOMPARE(typeCode(QStringLiteral(" 59 "))(m_password.get()), int(QDialog::Accepted));
    QCOMPARE(EnteredCode, QStringLiteral(" 59 "));

    // The field is empty at every showing; Cancel leaves the last code alone.
    m_password->show();
    QVERIFY(ui->mskPassword->text().isEmpty());
    QTest::keyClicks(ui->mskPassword, QStringLiteral("123"));
    m_password->hide();
    QCOMPARE(typeCode(QStringLiteral("705"), false)(m_password.get()), int(QDialog::Rejected));
    QCOMPARE(EnteredCode, QStringLiteral(" 59 "));

    // Enter in the code field moves on to the OK button instead of confirming.
    m_password->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_password.get()));
    m_password->activateWindow();
    QApplication::setActiveWindow(m_password.get());
    QVERIFY(QTest::qWaitForWindowActive(m_password.get()));
    ui->mskPassword->setFocus();
    QTest::keyClicks(ui->mskPassword, QStringLiteral("59"));
    QTest::keyClick(ui->mskPassword, Qt::Key_Return);
    QVERIFY(m_password->isVisible());
    QCOMPARE(QApplication::focusWidget(), ui->btnOK);
    QTest::keyClick(ui->btnOK, Qt::Key_Return);
    QVERIFY(!m_password->isVisible());
    QCOMPARE(m_password->result(), int(QDialog::Accepted));
    QCOMPARE(EnteredCode, QStringLiteral("59"));

    // The close box counts as Cancel.
    m_password->show();
    QTest::keyClicks(ui->mskPassword, QStringLiteral("59"));
    m_password->close();
    QCOMPARE(m_password->result(), int(QDialog::Rejected));
}

void TestParams::gateOpensByLevel_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("opened");    // the window the gate opens, if any
    QTest::addColumn<int>("specialButton"); // -1 unchanged, else the enabled state
    QTest::addColumn<int>("lockedFields");  // -1 unchanged, else the enabled state

    const QString none;
    const QString list = QStringLiteral("TfrmParam");
    const QString special = QStringLiteral("TfrmSpecialParams");
    QTest::newRow("user") << "59" << true << list << 0 << -1;
    QTest::newRow("factory") << "284163" << true << list << 1 << 1;
    QTest::newRow("special") << "705" << true << special << -1 << 0;
    QTest::newRow("cancel with a good code") << "284163" << false << none << -1 << -1;
    QTest::newRow("empty") << "" << true << none << -1 << -1;
    QTest::newRow("wrong") << "58" << true << none << -1 << -1;
    QTest::newRow("blank after") << "59 " << true << none << -1 << -1;
    QTest::newRow("blank before") << " 59" << true << none << -1 << -1;
    QTest::newRow("leading zero") << "059" << true << none << -1 << -1;
    QTest::newRow("leading zero special") << "0705" << true << none << -1 << -1;
    QTest::newRow("factory with blank") << "284163 " << true << none << -1 << -1;
    QTest::newRow("full-width digits") << QStringLiteral("５９") << true << none << -1 << -1;
}

void TestParams::gateOpensByLevel()
{
    QFETCH(QString, code);
    QFETCH(bool, confirm);
    QFETCH(QString, opened);
    QFETCH(int, specialButton);
    QFETCH(int, lockedFields);

    // Start from the opposite of what the level would set, so a change shows.
    const bool buttonBefore = specialButton != 1;
    const bool fieldsBefore = lockedFields != 1;
    m_param->SetSpecialParamsEnabled(buttonBefore);
    m_special->SetLockedFieldsEnabled(fieldsBefore);
    drive(QStringLiteral("TfrmPassword"), typeCode(code, confirm));

    RunAccessGate(m_windows, m_fixture->session());

    QStringList expected{QStringLiteral("TfrmPassword")};
    if (!opened.isEmpty())
        expected << opened;
    QCOMPARE(m_shown, expected);
    QCOMPARE(m_param->SpecialParamsEnabled(), specialButton < 0 ? buttonBefore : specialButton == 1);
    const bool fieldsNow = lockedFields < 0 ? fieldsBefore : lockedFields == 1;
    Ui::TfrmSpecialParams *sp = m_special->ui();
    QCOMPARE(sp->rgInputType->isEnabled(), fieldsNow);
    QCOMPARE(sp->rgOutputBoardType->isEnabled(), fieldsNow);
    QCOMPARE(sp->neControlCode->isEnabled(), fieldsNow);

    // The gate itself sends nothing and says nothing.
    QTest::qWait(50);
    QVERIFY(sim().receivedFrames().isEmpty());
    QVERIFY(m_fixture->prompts.messages.isEmpty());
    QVERIFY(m_fixture->prompts.errors.isEmpty());
}

void TestParams::gateLevelsPersist()
{
    Ui::TfrmSpecialParams *sp = m_special->ui();
    drive(QStringLiteral("TfrmPassword"), typeCode(QStringLiteral("705")));
    RunAccessGate(m_windows, m_fixture->session());
    QVERIFY(!sp->rgInputType->isEnabled());

    // A wrong code later changes nothing; the factory code unlocks again.
    drive(QStringLiteral("TfrmPassword"), typeCode(QStringLiteral("7050")));
    RunAccessGate(m_windows, m_fixture->session());
    QVERIFY(!sp->rgInputType->isEnabled());
    QVERIFY(!sp->neControlCode->isEnabled());

    // From the factory level, the list's button leads to the unlocked dialog.
    drive(QStringLiteral("TfrmPassword"), typeCode(QStringLiteral("284163")));
    drive(QStringLiteral("TfrmParam"), [](QDialog *dialog) {
        auto *list = static_cast<TfrmParam *>(dialog);
        list->ui()->btnSpecialParams->click();
        return int(QDialog::Rejected);
    });
    bool unlockedInside = false;
    drive(QStringLiteral("TfrmSpecialParams"), [&](QDialog *) {
        unlockedInside = sp->rgInputType->isEnabled() && sp->rgOutputBoardType->isEnabled() &&
                         sp->neControlCode->isEnabled();
        return int(QDialog::Rejected);
    });
    m_shown.clear();
    RunAccessGate(m_windows, m_fixture->session());
    QCOMPARE(m_shown, (QStringList{QStringLiteral("TfrmPassword"), QStringLiteral("TfrmParam"),
                                   QStringLiteral("TfrmSpecialParams")}));
    QVERIFY(unlockedInside);

    // The user level disables the button but leaves the fields as they were.
    drive(QStringLiteral("TfrmPassword"), typeCode(QStringLiteral("59")));
    RunAccessGate(m_windows, m_fixture->session());
    QVERIFY(!m_param->SpecialParamsEnabled());
    QVERIFY(sp->rgInputType->isEnabled());
}

void TestParams::listLayout()
{
    // 21 rows in catalogue order, values empty until something was read.
    QTreeWidget *list = m_param->lvParam();
    QCOMPARE(list->topLevelItemCount(), 21);
    for (int row = 0; row < 21; ++row) {
        QCOMPARE(list->topLevelItem(row)->text(0), ParameterCatalogue::Name(row));
        QVERIFY(m_param->ValueText(row).isEmpty());
    }
    QCOMPARE(list->columnWidth(0), 180);

    // A click on a column header does not re-order the rows.
    m_param->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_param.get()));
    QHeaderView *header = list->header();
    const QPoint nameHeader(header->sectionViewportPosition(0) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, nameHeader);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, nameHeader);
    QCOMPARE(list->topLevelItem(0)->text(0), ParameterCatalogue::Name(0));
    QCOMPARE(list->topLevelItem(20)->text(0), ParameterCatalogue::Name(20));
    m_param->hide();

    const QList<QAction *> items = m_param->popupMenu()->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items.at(0)->text(), QStringLiteral("编辑(&E)"));
    QVERIFY(items.at(1)->isSeparator());
    QCOMPARE(items.at(2)->text(), QStringLiteral("全部读出(&R)"));
}

void TestParams::listOpensOnlyWithSelection()
{
    QTreeWidget *list = m_param->lvParam();
    m_param->SelectRow(-1);
    QCOMPARE(m_param->SelectedIndex(), -1);
    m_param->ui()->btnEdit->click();
    m_param->ui()->E1->trigger();
    m_param->lvParamDblClick();
    QVERIFY(m_shown.isEmpty());

    m_param->show();
    const QRect rowRect = list->visualItemRect(list->topLevelItem(4));
    QVERIFY(QTest::qWaitForWindowExposed(m_param.get()));
    // The first click of a double-click selects the row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowRect.center());
    QCOMPARE(m_param->SelectedIndex(), 4);
    QCOMPARE(m_shown, QStringList{QStringLiteral("TfrmEditParam")});
    m_param->ui()->btnEdit->click();
    m_param->ui()->E1->trigger();
    m_shown.removeAll(QStringLiteral("TfrmEditParam"));
    QVERIFY(m_shown.isEmpty());

    m_drivers[QStringLiteral("TfrmReadAllParam")] = [](QDialog *) { return int(QDialog::Rejected); };
    m_param->ui()->R1->trigger();
    m_param->ui()->btnReadAllParam->click();
    m_param->SetSpecialParamsEnabled(true);
    m_param->ui()->btnSpecialParams->click();
    QCOMPARE(m_shown, (QStringList{QStringLiteral("TfrmReadAllParam"), QStringLiteral("TfrmReadAllParam"),
                                   QStringLiteral("TfrmSpecialParams")}));
    m_param->hide();
}

void TestParams::editorReadsTheSelectedRowsCommand()
{
    setParam(CmdPVP(9), -4711);
    openEditor(20);
    QVERIFY(clickRead());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("读取成功！"));
    QCOMPARE(m_edit->ui()->leParamValue->text(), QStringLiteral("-4711"));
    QCOMPARE(m_param->ValueText(20), QStringLiteral("-4711"));

    openEditor(0);
    QVERIFY(clickRead());
    QCOMPARE(m_param->ValueText(0), QString::number(SimAddress));

    const QList<QByteArray> frames = framesAfter(2);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(Hex(frames.at(0)), Hex(DeviceLink::toBytes(BuildQueryFrame(SimAddress, 22))));
    QCOMPARE(Hex(frames.at(1)), QStringLiteral("3F 01 02 3C 23"));
    m_edit->hide();
}

void TestParams::editorWrites()
{
    openEditor(1);
    m_edit->ui()->leParamValue->setText(QStringLiteral("$1F"));
    QVERIFY(clickWrite());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("写入成功！"));
    QCOMPARE(m_param->ValueText(1), QStringLiteral("$1F"));
    QCOMPARE(moduleParam(CmdZerO), 31);

    m_edit->ui()->leParamValue->setText(QStringLiteral("-2147483648"));
    QVERIFY(clickWrite());
    QCOMPARE(m_param->ValueText(1), QStringLiteral("-2147483648"));
    QCOMPARE(moduleParam(CmdZerO), qint32(0x80000000u));

    m_edit->ui()->leParamValue->setText(QStringLiteral("  12"));
    QVERIFY(clickWrite());
    QCOMPARE(m_param->ValueText(1), QStringLiteral("  12"));

    const QList<QByteArray> frames = framesAfter(3);
    QCOMPARE(frames.size(), 3);
    QCOMPARE(Hex(frames.at(0)), Hex(DeviceLink::toBytes(BuildDataFrame(SimAddress, CmdZerO, 31))));
    QVERIFY(Hex(frames.at(1)).startsWith(QStringLiteral("3D 01 03 80 00 00 00")));
    QVERIFY(m_fixture->prompts.messages.isEmpty());
    m_edit->hide();
}

void TestParams::editorRefusesBadEntriesWithoutSending_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("beyond the range") << "2147483648";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "12kg";
    QTest::newRow("hex beyond 32 bits") << "$100000000";
}

void TestParams::editorRefusesBadEntriesWithoutSending()
{
    QFETCH(QString, text);
    openEditor(2);
    m_param->SetValueText(2, QStringLiteral("5"));
    m_edit->ui()->StatusBar1->showMessage(QStringLiteral("读取成功！"));
    m_edit->ui()->leParamValue->setText(text);
    QVERIFY(clickWrite());

    QCOMPARE(m_fixture->prompts.messages, QStringList{QStringLiteral("请检查输入的参数值！")});
    QCOMPARE(m_edit->StatusText(), QStringLiteral("读取成功！"));
    QCOMPARE(m_param->ValueText(2), QStringLiteral("5"));
    QTest::qWait(50);
    QVERIFY(sim().receivedFrames().isEmpty());
    m_edit->hide();
}

void TestParams::editorTimeoutsKeepValues()
{
    setParam(CmdAVP(1), 777);
    openEditor(3);
    QVERIFY(clickRead());
    QCOMPARE(m_param->ValueText(3), QStringLiteral("777"));

    QVERIFY(sim().ok(QStringLiteral("fault silent on")));
    QVERIFY(clickRead());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("读取超时！"));
    QCOMPARE(m_param->ValueText(3), QStringLiteral("777"));
    QCOMPARE(m_edit->ui()->leParamValue->text(), QStringLiteral("777"));

    m_edit->ui()->leParamValue->setText(QStringLiteral("888"));
    QVERIFY(clickWrite());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("写入超时！"));
    QCOMPARE(m_param->ValueText(3), QStringLiteral("777"));
    QVERIFY(m_edit->ui()->btnRead->isEnabled());
    QVERIFY(m_edit->ui()->btnWrite->isEnabled());
    m_edit->hide();
}

void TestParams::editorReopenedOnAnotherRow()
{
    m_param->SetValueText(5, QStringLiteral("55"));
    m_param->SetValueText(6, QStringLiteral("-66"));
    openEditor(5);
    QCOMPARE(m_edit->ui()->leParamValue->text(), QStringLiteral("55"));
    QVERIFY(sim().ok(QStringLiteral("fault silent on")));
    QVERIFY(clickRead());
    m_edit->hide();

    openEditor(6);
    QCOMPARE(m_edit->windowTitle(), QStringLiteral("标定点4输入值(AVP4)"));
    QCOMPARE(m_edit->ui()->leParamValue->text(), QStringLiteral("-66"));
    QCOMPARE(m_edit->ui()->leParamValue->selectedText(), QStringLiteral("-66"));
    QCOMPARE(m_edit->StatusText(), QStringLiteral("读取超时！"));
    m_edit->hide();
}

void TestParams::readAllFillsEveryRow()
{
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        setParam(ParameterCatalogue::Command(row), row % 2 ? -100 * row : 100 * row);
    clearList();

    for (int showing = 0; showing < 2; ++showing) {
        m_param->ui()->btnReadAllParam->click();
        Ui::TfrmReadAllParam *ui = m_readAll->ui();
        const QStringList lines = listLines();
        QCOMPARE(lines.size(), 21);
        for (int row = 0; row < 21; ++row)
            QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + QStringLiteral("读取成功！"));
        QCOMPARE(ui->ListBox1->currentRow(), 20);
        QCOMPARE(ui->Label1->text(), QStringLiteral("参数读取结束"));
        QCOMPARE(ui->btnAbort->text(), Finished);
        QCOMPARE(ui->ProgressBar1->value(), 22);
        QCOMPARE(m_param->ValueText(0), QString::number(SimAddress));
        for (int row = 1; row < 21; ++row)
            QCOMPARE(m_param->ValueText(row), QString::number(row % 2 ? -100 * row : 100 * row));
        // At least 50 ms between the end of one exchange and the next request.
        QCOMPARE(m_pauses, QList<int>(21, TfrmReadAllParam::DefaultPauseMs));
        m_pauses.clear();

        ui->btnAbort->click();
        QVERIFY(!m_readAll->isVisible());
    }
    const QList<QByteArray> frames = framesAfter(42);
    QCOMPARE(frames.size(), 42);
    for (int i = 0; i < 42; ++i)
        QCOMPARE(Hex(frames.at(i)),
                 Hex(DeviceLink::toBytes(BuildQueryFrame(SimAddress, CommandCode(2 + i % 21)))));
}

void TestParams::readAllSilentModule()
{
    clearList();
    m_param->SetValueText(7, QStringLiteral("keep"));
    main().link().setReplyTimeoutMs(SilentTimeoutMs);
    QVERIFY(sim().ok(QStringLiteral("fault silent on")));
    m_param->R1Click();

    const QStringList lines = listLines();
    QCOMPARE(lines.size(), 21);
    for (int row = 0; row < 21; ++row)
        QCOMPARE(lines.at(row), ParameterCatalogue::Name(row) + QStringLiteral("读取超时！"));
    QCOMPARE(m_param->ValueText(7), QStringLiteral("keep"));
    QCOMPARE(m_param->ValueText(0), QString());
    QCOMPARE(m_readAll->ui()->Label1->text(), QStringLiteral("参数读取结束"));
    QCOMPARE(m_readAll->ui()->btnAbort->text(), Finished);
    m_readAll->ui()->btnAbort->click();
    QVERIFY(!m_readAll->isVisible());
}

void TestParams::readAllAbort_data()
{
    QTest::addColumn<int>("abortDuringCode");
    QTest::newRow("code 10") << 10;
    QTest::newRow("code 22") << 22;
}

void TestParams::readAllAbort()
{
    QFETCH(int, abortDuringCode);
    // Replies come late; the click comes when the module has received the
    // request for the code, so it lands inside that code's exchange.
    QVERIFY(sim().ok(QStringLiteral("fault late 60")));
    const QString request =
        QStringLiteral("RX ") +
        Hex(DeviceLink::toBytes(BuildQueryFrame(SimAddress, CommandCode(abortDuringCode))));
    const QMetaObject::Connection clickOnRequest =
        connect(&sim(), &TxSim::lineReceived, this, [&](const QString &line) {
            if (line == request)
                m_readAll->ui()->btnAbort->click();
        });
    m_param->R1Click();
    disconnect(clickOnRequest);

    Ui::TfrmReadAllParam *ui = m_readAll->ui();
    const QStringList lines = listLines();
    QCOMPARE(lines.size(), abortDuringCode - 1);
    QCOMPARE(lines.last(), ParameterCatalogue::Name(abortDuringCode - 2) + QStringLiteral("读取成功！"));
    QCOMPARE(ui->Label1->text(), QStringLiteral("读取已中断"));
    QCOMPARE(ui->btnAbort->text(), Stopped);
    QVERIFY(m_readAll->isVisible());
    QVERIFY(sim().waitForReceivedFrames(abortDuringCode - 1, 2000));
    QTest::qWait(200);
    QCOMPARE(sim().receivedFrames().size(), abortDuringCode - 1);

    ui->btnAbort->click();
    QVERIFY(!m_readAll->isVisible());
}

void TestParams::readAllCloseRequestWaitsForRunEnd()
{
    bool visibleAfterClose = false;
    m_onPause = [&](int count) {
        if (count == 3) {
            m_readAll->close();
            visibleAfterClose = m_readAll->isVisible();
        }
    };
    m_param->R1Click();
    QVERIFY(visibleAfterClose);
    QCOMPARE(listLines().size(), 21);
    QCOMPARE(m_readAll->ui()->Label1->text(), QStringLiteral("参数读取结束"));
    QVERIFY(!m_readAll->isVisible());
}

void TestParams::repliesToOtherRequestsAreNotParameterValues()
{
    // The module acknowledges with the measured-value command byte: neither
    // a read nor a write counts as answered for the parameter.
    setParam(CmdPointCount, 3);
    clearList();
    QVERIFY(sim().ok(QStringLiteral("fault cmd 1")));

    openEditor(2);
    m_edit->ui()->leParamValue->setText(QStringLiteral("4"));
    QVERIFY(clickRead());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("读取超时！"));
    QCOMPARE(m_edit->ui()->leParamValue->text(), QStringLiteral("4"));
    QCOMPARE(m_param->ValueText(2), QString());
    QVERIFY(clickWrite());
    QCOMPARE(m_edit->StatusText(), QStringLiteral("写入超时！"));
    QCOMPARE(m_param->ValueText(2), QString());
    m_edit->hide();

    m_param->R1Click();
    for (const QString &line : listLines())
        QVERIFY2(line.endsWith(QStringLiteral("读取超时！")), qPrintable(line));
    for (int row = 0; row < 21; ++row)
        QCOMPARE(m_param->ValueText(row), QString());
    m_readAll->ui()->btnAbort->click();
}

void TestParams::liveReadingUnderneath()
{
    // Parameter values that no measured value can be mistaken for.
    for (int row = 1; row < ParameterCatalogue::Count; ++row)
        setParam(ParameterCatalogue::Command(row), 900000 + row);
    const auto expected = [](int row) { return QString::number(row == 0 ? SimAddress : 900000 + row); };
    const auto checkList = [&] {
        for (int row = 0; row < 21; ++row) {
            const QString value = m_param->ValueText(row);
            QVERIFY2(value.isEmpty() || value == expected(row),
                     qPrintable(QStringLiteral("row %1: %2").arg(row).arg(value)));
        }
    };

    // Automatic sending, the module's answers coming 20 ms late: every read
    // waits for its own answer among the measured values (with the shipped
    // time-out: a loaded machine must not turn a late answer into a miss).
    main().link().setReplyTimeoutMs(DeviceLink::DefaultReplyTimeoutMs);
    QVERIFY(sim().ok(QStringLiteral("autorate 1000")));
    QVERIFY(sim().ok(QStringLiteral("autosend on")));
    QVERIFY(sim().ok(QStringLiteral("fault late 20")));
    clearList();
    m_param->R1Click();
    checkList();
    for (const QString &line : listLines())
        QVERIFY2(line.endsWith(QStringLiteral("读取成功！")), qPrintable(line));
    for (int row = 0; row < 21; ++row)
        QCOMPARE(m_param->ValueText(row), expected(row));
    m_readAll->ui()->btnAbort->click();
    openEditor(12);
    for (int i = 0; i < 5; ++i) {
        QVERIFY(clickRead());
        checkList();
        if (m_edit->StatusText() == QStringLiteral("读取成功！"))
            QCOMPARE(m_edit->ui()->leParamValue->text(), expected(12));
    }
    m_edit->hide();
    QVERIFY(sim().ok(QStringLiteral("autosend off")));
    QVERIFY(sim().ok(QStringLiteral("fault clear")));

    // Polling from the main window at a short interval.
    main().SetReadInterval(2);
    main().btnBeginReadClick();
    QCOMPARE(main().state(), TfrmMain::State::Reading);
    for (int round = 0; round < 3; ++round) {
        clearList();
        m_param->R1Click();
        checkList();
        m_readAll->ui()->btnAbort->click();
        openEditor(round + 13);
        QVERIFY(clickRead());
        checkList();
        if (m_edit->StatusText() == QStringLiteral("读取成功！"))
            QCOMPARE(m_edit->ui()->leParamValue->text(), expected(round + 13));
        m_edit->hide();
    }
    QCOMPARE(main().state(), TfrmMain::State::Reading);
    main().btnBeginReadClick();
    main().SetReadInterval(100);
}

void TestParams::editorOnASessionWithoutMainWindow()
{
    // A session of its own on a second module: the windows reach the module
    // through the session they were given, no main window involved.
    constexpr DeviceAddress OwnAddress = 7;
    constexpr qint32 ZeroValue = -305419896;
    TxSim ownSim;
    QVERIFY(ownSim.start({QStringLiteral("--address"), QString::number(OwnAddress)}));
    QVERIFY(ownSim.ok(QStringLiteral("param %1 %2").arg(CmdZerO).arg(ZeroValue)));
    ModuleSession session(ShortTimeoutMs);
    QVERIFY_THROWS_NO_EXCEPTION(session.OpenPort(ownSim.portName()));
    session.SetCurrentAddress(OwnAddress);
    ParameterWindows windows;
    TfrmParam list(windows);
    TfrmEditParam editor(windows, session);
    ownSim.clearLog();

    list.SelectRow(1); // 零点值(ZerO), command 3
    editor.show();
    editor.btnReadClick();
    QVERIFY(WaitForEvents([&editor] { return !editor.Busy(); }, 10000));

    // "?", address 7, command 3, check 3Fh ^ 07h ^ 03h = 3Bh, "#".
    QVERIFY(ownSim.waitForReceivedFrames(1, 2000));
    QCOMPARE(ownSim.receivedFrames().size(), 1);
    QCOMPARE(Hex(ownSim.receivedFrames().first()), QStringLiteral("3F 07 03 3B 23"));
    QCOMPARE(editor.StatusText(), QStringLiteral("读取成功！"));
    QCOMPARE(editor.ui()->leParamValue->text(), QStringLiteral("-305419896"));
    QCOMPARE(list.ValueText(1), QStringLiteral("-305419896"));
    editor.hide();
}

QTEST_MAIN(TestParams)
#include "tst_params.moc"
