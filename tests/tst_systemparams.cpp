// System-parameters dialog against a main window on a temporary settings
// directory (and, for the port cases, the module simulator).

#include "LineWait.h"
#include "MainFixture.h"
#include "widgets/ValueDisplay.h"
#include "chart/ChartWidget.h"
#include "device/ModuleSession.h"
#include "device/Protocol.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "settings/SystemParamsUnit.h"
#include "ui_SystemParamsUnit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace Keys = SettingsKeys;

namespace
{
const QByteArray CustomIni = "[System Parameters]\r\n"
                             "Measure Unit=N\r\n"
                             "Decimal=2\r\n"
                             "YMin=-1500\r\n"
                             "YMax=2500.7\r\n"
                             "Read Interval=250\r\n"
                             "Baud=19200\r\n";

QString stored(MainFixture &f, const QString &key)
{
    return SettingsStore(f.iniPath())
        .ReadString(Keys::SectionSystemParameters, key, QStringLiteral("<none>"));
}

void leave(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}
} // namespace

class TestSystemParams : public QObject
{
    Q_OBJECT
private slots:
    void designValuesAndFrame();
    void formShowFillsFromCurrentSettings();
    void okStoresAllSixAndAppliesAtOnce();
    void readIntervalBroughtIntoRange();
    void rateNotInListReportsConversionError();
    void rateChangeReopensOpenPort();
    void reopenFailureKeepsDialogOpen();
    void closeBoxStoresNothing();
    void failedWriteIsReported();
    void okAppliesThroughTheSessionAlone();
};

void TestSystemParams::designValuesAndFrame()
{
    MainFixture f;
    f.create();
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    Ui::TfrmSystemParams *ui = dialog.ui();
    // Tool-window frame: the close box is the only window button.
    const Qt::WindowFlags flags = dialog.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    QStringList items;
    for (int i = 0; i < ui->cbxBaud->count(); ++i)
        items << ui->cbxBaud->itemText(i);
    QCOMPARE(items, TfrmSystemParams::BaudRates());
    QCOMPARE(ui->cbxBaud->currentText(), QStringLiteral("9600"));
    QVERIFY(!ui->cbxBaud->isEditable());
    // The form's numeric-edit properties reach the fields.
    QCOMPARE(ui->neYMax->displayFormat(), NumericFormat::GroupedParentheses());
    QVERIFY(!ui->neYMax->checkRange());
    ui->neReadInterval->clear();
    QCOMPARE(ui->neReadInterval->value(), 20.0);
    QCOMPARE(ui->neReadInterval->maximum(), 1000000000.0);
}

void TestSystemParams::formShowFillsFromCurrentSettings()
{
    MainFixture f;
    f.writeIni(CustomIni);
    f.create();
    // The dialog shows the values in memory, not what the file says now.
    f.writeIni("[System Parameters]\r\nMeasure Unit=lb\r\nBaud=300\r\n");
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    Ui::TfrmSystemParams *ui = dialog.ui();
    QCOMPARE(ui->edUnit->text(), QStringLiteral("N"));
    QCOMPARE(ui->speDecimal->clampedValue(), 2);
    QCOMPARE(ui->neYMin->text(), QStringLiteral("(1,500)"));
    QCOMPARE(ui->neYMax->text(), QStringLiteral("2,501")); // shown as the nearest whole number
    QCOMPARE(ui->neReadInterval->text(), QStringLiteral("250"));
    QCOMPARE(ui->cbxBaud->currentText(), QStringLiteral("19200"));

    // Each showing fills the controls anew.
    ui->edUnit->setText(QStringLiteral("x"));
    ui->cbxBaud->setCurrentIndex(0);
    dialog.hide();
    f.main().current().Decimal = 9; // brought into 0..4 by the spin edit
    dialog.show();
    QCOMPARE(ui->edUnit->text(), QStringLiteral("N"));
    QCOMPARE(ui->cbxBaud->currentText(), QStringLiteral("19200"));
    QCOMPARE(ui->speDecimal->clampedValue(), 4);
}

void TestSystemParams::okStoresAllSixAndAppliesAtOnce()
{
    MainFixture f;
    TfrmMain &main = f.create();
    QCOMPARE(main.ValueText(), QStringLiteral("0.0kg"));
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    Ui::TfrmSystemParams *ui = dialog.ui();
    main.reply().ReplyValue = 1500;
    ui->speDecimal->setClampedValue(3);
    ui->edUnit->setText(QStringLiteral("kg"));
    ui->neYMin->setText(QStringLiteral("500"));
    ui->neYMax->setText(QStringLiteral("100"));
    ui->neReadInterval->setText(QStringLiteral("1,250"));
    ui->cbxBaud->setCurrentText(QStringLiteral("38400"));
    QSignalSpy accepted(&dialog, &QDialog::accepted);

    dialog.btnOKClick();

    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog.isVisible());
    QVERIFY(f.prompts.errors.isEmpty());
    QCOMPARE(main.ValueText(), QStringLiteral("1.500kg"));
    QCOMPARE(main.chart()->yAxisMinimum(), 100.0);
    QCOMPARE(main.chart()->yAxisSpan(), 400.0);
    QCOMPARE(main.timerRead().interval(), 1250);
    QVERIFY(!main.IsPortOpen()); // a closed port only takes the rate for the next opening
    QCOMPARE(main.comPort().baudRate(), 38400);

    const CurrentSettings &c = main.current();
    QCOMPARE(c.MeasureUnit, QStringLiteral("kg"));
    QCOMPARE(c.Decimal, 3);
    QCOMPARE(c.YMin, 500.0);
    QCOMPARE(c.YMax, 100.0);
    QCOMPARE(c.ReadInterval, 1250);
    QCOMPARE(c.Baud, 38400);
    QCOMPARE(stored(f, Keys::KeyMeasureUnit), QStringLiteral("kg"));
    QCOMPARE(stored(f, Keys::KeyDecimal), QStringLiteral("3"));
    QCOMPARE(stored(f, Keys::KeyYMin), QStringLiteral("500"));
    QCOMPARE(stored(f, Keys::KeyYMax), QStringLiteral("100"));
    QCOMPARE(stored(f, Keys::KeyReadInterval), QStringLiteral("1250"));
    QCOMPARE(stored(f, Keys::KeyBaud), QStringLiteral("38400"));
}

void TestSystemParams::readIntervalBroughtIntoRange()
{
    MainFixture f;
    TfrmMain &main = f.create();
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    Ui::TfrmSystemParams *ui = dialog.ui();
    ui->neReadInterval->setText(QStringLiteral("19"));
    leave(ui->neReadInterval);
    QCOMPARE(ui->neReadInterval->text(), QStringLiteral("20"));

    // OK pressed with Enter while the field still holds an out-of-range text:
    // the field's rule applies as if it had been left.
    ui->neReadInterval->setText(QStringLiteral("5"));
    ui->neYMin->setText(QStringLiteral("12.7"));
    dialog.btnOKClick();
    QCOMPARE(main.current().ReadInterval, 20);
    QCOMPARE(main.timerRead().interval(), 20);
    QCOMPARE(stored(f, Keys::KeyReadInterval), QStringLiteral("20"));
    QCOMPARE(stored(f, Keys::KeyYMin), QStringLiteral("13"));
}

void TestSystemParams::rateNotInListReportsConversionError()
{
    MainFixture f;
    f.writeIni("[System Parameters]\r\nBaud=14400\r\n");
    QVERIFY(f.connect());
    TfrmMain &main = f.main();
    QCOMPARE(main.current().Baud, 14400);
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    Ui::TfrmSystemParams *ui = dialog.ui();
    QCOMPARE(ui->cbxBaud->currentIndex(), -1);
    QCOMPARE(ui->cbxBaud->currentText(), QString());

    main.reply().ReplyValue = 1234;
    ui->speDecimal->setClampedValue(2);
    ui->edUnit->setText(QStringLiteral("t"));
    ui->neYMin->setText(QStringLiteral("10"));
    ui->neYMax->setText(QStringLiteral("20"));
    ui->neReadInterval->setText(QStringLiteral("300"));
    QSignalSpy closing(&main.comPort(), &QIODevice::aboutToClose);
    QSignalSpy finished(&dialog, &QDialog::finished);

    dialog.btnOKClick();

    QCOMPARE(f.prompts.errors, QStringList{QStringLiteral("波特率“”不是有效的整数，请选择一个波特率。")});
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    // Steps before the rate are stored and applied.
    QCOMPARE(main.ValueText(), QStringLiteral("12.34t"));
    QCOMPARE(main.chart()->yAxisMinimum(), 10.0);
    QCOMPARE(main.timerRead().interval(), 300);
    QCOMPARE(stored(f, Keys::KeyMeasureUnit), QStringLiteral("t"));
    QCOMPARE(stored(f, Keys::KeyDecimal), QStringLiteral("2"));
    QCOMPARE(stored(f, Keys::KeyYMax), QStringLiteral("20"));
    QCOMPARE(stored(f, Keys::KeyReadInterval), QStringLiteral("300"));
    // The rate and the port are untouched.
    QCOMPARE(stored(f, Keys::KeyBaud), QStringLiteral("14400"));
    QCOMPARE(main.current().Baud, 14400);
    QCOMPARE(closing.count(), 0);
    QVERIFY(main.IsPortOpen());

    // Choosing a rate and pressing OK again finishes.
    ui->cbxBaud->setCurrentText(QStringLiteral("9600"));
    dialog.btnOKClick();
    QCOMPARE(f.prompts.errors.size(), 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(stored(f, Keys::KeyBaud), QStringLiteral("9600"));
    QVERIFY(main.IsPortOpen());
}

void TestSystemParams::rateChangeReopensOpenPort()
{
    MainFixture f;
    QVERIFY(f.connect({"--address", "1"}));
    TfrmMain &main = f.main();
    QCOMPARE(main.comPort().baudRate(), 9600);
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    dialog.ui()->cbxBaud->setCurrentText(QStringLiteral("19200"));
    QSignalSpy closing(&main.comPort(), &QIODevice::aboutToClose);

    dialog.btnOKClick();

    QVERIFY(f.prompts.errors.isEmpty());
    QCOMPARE(closing.count(), 1);
    QVERIFY(main.IsPortOpen());
    QCOMPARE(main.comPort().baudRate(), 19200);
    QCOMPARE(stored(f, Keys::KeyBaud), QStringLiteral("19200"));
    // The reopened port still talks to the module.
    QVERIFY(ExchangeNow(main.link(), BuildQueryFrame(1, CmdReadValue)));
    QVERIFY(main.reply().ReplyDone);
}

void TestSystemParams::reopenFailureKeepsDialogOpen()
{
    MainFixture f;
    TfrmMain &main = f.create();
    const QString link = QDir(f.settingsDir()).filePath(QStringLiteral("ttyModule"));
    QVERIFY(f.sim().start({"--link", link}));
    QVERIFY(main.SelectPort(link));
    main.btnOpenClick();
    QVERIFY(main.IsPortOpen());
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    dialog.ui()->cbxBaud->setCurrentText(QStringLiteral("4800"));
    QVERIFY(QFile::remove(link)); // the device is gone by the time the port reopens

    dialog.btnOKClick();

    QCOMPARE(f.prompts.errors.size(), 1);
    QVERIFY(f.prompts.errors.first().startsWith(QStringLiteral("串口打开失败！")));
    QVERIFY(!main.IsPortOpen());
    QVERIFY(dialog.isVisible());
    QCOMPARE(stored(f, Keys::KeyBaud), QStringLiteral("4800"));
}

void TestSystemParams::closeBoxStoresNothing()
{
    MainFixture f;
    f.writeIni(CustomIni);
    TfrmMain &main = f.create();
    main.reply().ReplyValue = 777;
    main.ShowValue();
    const QByteArray fileBefore = f.iniText();
    const QString valueBefore = main.ValueText();
    const int intervalBefore = main.timerRead().interval();
    const double yMinBefore = main.chart()->yAxisMinimum();

    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    QTimer::singleShot(0, &dialog, [&] {
        Ui::TfrmSystemParams *ui = dialog.ui();
        ui->speDecimal->setClampedValue(0);
        ui->edUnit->setText(QStringLiteral("lb"));
        ui->neYMin->setText(QStringLiteral("1"));
        ui->neYMax->setText(QStringLiteral("2"));
        ui->neReadInterval->setText(QStringLiteral("999"));
        leave(ui->neReadInterval);
        ui->cbxBaud->setCurrentText(QStringLiteral("300"));
        dialog.close(); // the close box
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));

    QCOMPARE(f.iniText(), fileBefore);
    QCOMPARE(main.ValueText(), valueBefore);
    QCOMPARE(main.timerRead().interval(), intervalBefore);
    QCOMPARE(main.chart()->yAxisMinimum(), yMinBefore);
    const CurrentSettings &c = main.current();
    QCOMPARE(c.MeasureUnit, QStringLiteral("N"));
    QCOMPARE(c.Decimal, 2);
    QCOMPARE(c.ReadInterval, 250);
    QCOMPARE(c.Baud, 19200);
    QVERIFY(f.prompts.errors.isEmpty());
}

void TestSystemParams::failedWriteIsReported()
{
    MainFixture f;
    // A directory where the file should be: every write fails.
    QVERIFY(QDir(f.settingsDir()).mkdir(QStringLiteral("Data.ini")));
    TfrmMain &main = f.create();
    TfrmSystemParams dialog(f.session(), f.settings(), f.main().display());
    dialog.show();
    dialog.ui()->edUnit->setText(QStringLiteral("g"));
    QSignalSpy accepted(&dialog, &QDialog::accepted);

    dialog.btnOKClick();

    QCOMPARE(f.prompts.errors.size(), 1);
    QVERIFY(f.prompts.errors.first().startsWith(QStringLiteral("设置未能写入文件")));
    // Applied for this run all the same.
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(main.current().MeasureUnit, QStringLiteral("g"));
}

void TestSystemParams::okAppliesThroughTheSessionAlone()
{
    // Nothing but a module session and a settings file: no main window.
    QTemporaryDir dir;
    const QString iniPath = dir.filePath(QStringLiteral("Data.ini"));
    SettingsStore store(iniPath);
    ModuleSession session;
    ValueDisplay display;
    ScriptedPrompter prompts;
    TfrmSystemParams dialog(session, store, display);
    dialog.show();
    Ui::TfrmSystemParams *ui = dialog.ui();
    QCOMPARE(ui->cbxBaud->currentText(), QStringLiteral("9600"));
    session.reply().ReplyValue = 25;
    ui->speDecimal->setClampedValue(1);
    ui->edUnit->setText(QStringLiteral("N"));
    ui->neYMin->setText(QStringLiteral("300"));
    ui->neYMax->setText(QStringLiteral("-200"));
    ui->neReadInterval->setText(QStringLiteral("400"));
    ui->cbxBaud->setCurrentText(QStringLiteral("4800"));
    QSignalSpy yRange(&display, &ValueDisplay::yRangeChanged);
    QSignalSpy accepted(&dialog, &QDialog::accepted);

    dialog.btnOKClick();

    QVERIFY(prompts.errors.isEmpty());
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(display.Text(), QStringLiteral("2.5N"));
    // Whoever shows the chart learns the new range from the display.
    QCOMPARE(yRange.count(), 1);
    const double end1 = yRange.first().at(0).toDouble();
    const double end2 = yRange.first().at(1).toDouble();
    QCOMPARE(std::min(end1, end2), -200.0);
    QCOMPARE(std::max(end1, end2), 300.0);
    QCOMPARE(session.timerRead().interval(), 400);
    QCOMPARE(session.comPort().baudRate(), 4800);
    const CurrentSettings &c = session.current();
    QCOMPARE(c.YMin, 300.0);
    QCOMPARE(c.YMax, -200.0);
    QCOMPARE(c.ReadInterval, 400);
    QCOMPARE(c.Baud, 4800);
    const SettingsStore file(iniPath);
    QCOMPARE(file.ReadString(Keys::SectionSystemParameters, Keys::KeyYMax, QString()),
             QStringLiteral("-200"));
    QCOMPARE(file.ReadString(Keys::SectionSystemParameters, Keys::KeyBaud, QString()),
             QStringLiteral("4800"));
}

QTEST_MAIN(TestSystemParams)
#include "tst_systemparams.moc"
