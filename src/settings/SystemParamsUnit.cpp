#include "settings/SystemParamsUnit.h"

#include "device/ModuleSession.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "ui_SystemParamsUnit.h"
#include "widgets/Prompter.h"
#include "widgets/ValueDisplay.h"

#include <QCoreApplication>
#include <QShowEvent>

namespace Keys = SettingsKeys;

namespace
{
QString TextWriteFailed()
{
    return QCoreApplication::translate("TfrmSystemParams", "设置未能写入文件 Data.ini：");
}
} // namespace

TfrmSystemParams::TfrmSystemParams(ModuleSession &session, SettingsStore &settings, ValueDisplay &display, QWidget *parent)
    : QDialog(parent), m_session(session), m_display(display), m_settings(settings),
      m_ui(std::make_unique<Ui::TfrmSystemParams>())
{
    m_ui->setupUi(this);
    // Tool-window frame whose only window button is the close box.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_ui->speDecimal->setLimits(DecimalMin, DecimalMax);
    m_ui->neReadInterval->setRange(ReadIntervalMin, ReadIntervalMax);
    connect(m_ui->btnOK, &QPushButton::clicked, this, &TfrmSystemParams::btnOKClick);
}

TfrmSystemParams::~TfrmSystemParams() = default;

QStringList TfrmSystemParams::BaudRates()
{
    return {QStringLiteral("115200"), QStringLiteral("57600"), QStringLiteral("38400"),
            QStringLiteral("28800"),  QStringLiteral("19200"), QStringLiteral("9600"),
            QStringLiteral("4800"),   QStringLiteral("2400"),  QStringLiteral("1200"),
            QStringLiteral("600"),    QStringLiteral("300")};
}

QString TfrmSystemParams::NotAnIntegerText(const QString &text)
{
    return tr("波特率“%1”不是有效的整数，请选择一个波特率。").arg(text);
}

void TfrmSystemParams::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSystemParams::FormShow()
{
    const CurrentSettings &current = m_session.current();
    m_ui->edUnit->setText(current.MeasureUnit);
    m_ui->speDecimal->setClampedValue(current.Decimal);
    m_ui->neYMin->setValue(current.YMin);
    m_ui->neYMax->setValue(current.YMax);
    m_ui->neReadInterval->setValue(current.ReadInterval);
    // No item matches a rate that is not in the list: nothing is selected.
    m_ui->cbxBaud->setCurrentIndex(m_ui->cbxBaud->findText(QString::number(current.Baud), Qt::MatchExactly));
}

void TfrmSystemParams::btnOKClick()
{
    m_writeError.clear();
    bool done = false;
    Guarded(this, [this, &done] {
        StoreAndApply();
        done = true;
    });
    // A write that failed keeps its value in memory and is retried with the
    // next write; the operator still learns that the file does not hold it.
    if (!m_writeError.isEmpty())
        Prompts().showError(this, TextWriteFailed() + m_writeError);
    if (done)
        accept();
}

void TfrmSystemParams::StoreAndApply()
{
    CurrentSettings &current = m_session.current();
    SettingsStore &store = m_settings;
    const auto noteWrite = [this, &store](bool written) {
        m_writeError = written ? QString() : store.lastError();
    };

    // A field still being edited counts as left: its range and format apply.
    for (NumericEdit *edit : {m_ui->neYMin, m_ui->neYMax, m_ui->neReadInterval})
        edit->commitEditing();

    // One confirmation, one replacement of the file: a crash leaves all of
    // the new values in it or none. Should the baud rate end the run, what
    // was taken before it is written when the batch goes out of scope.
    SettingsStore::Batch batch(store);

    // 1-3: unit and decimals, shown at once.
    current.MeasureUnit = m_ui->edUnit->text();
    noteWrite(store.WriteString(Keys::SectionSystemParameters, Keys::KeyMeasureUnit, current.MeasureUnit));
    current.Decimal = m_ui->speDecimal->clampedValue();
    noteWrite(store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyDecimal, current.Decimal));
    m_display.ShowValue(m_session.reply().ReplyValue, current.Decimal, current.MeasureUnit);

    // 4-5: the chart's Y range (the ends in either order).
    const double yMin = m_ui->neYMin->value();
    const double yMax = m_ui->neYMax->value();
    noteWrite(store.WriteFloat(Keys::SectionSystemParameters, Keys::KeyYMin, yMin));
    noteWrite(store.WriteFloat(Keys::SectionSystemParameters, Keys::KeyYMax, yMax));
    current.YMin = yMin;
    current.YMax = yMax;
    m_display.SetYRange(yMin, yMax);

    // 6: the polling interval; a running timer goes on with it.
    const int readInterval = m_ui->neReadInterval->intValue();
    noteWrite(store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyReadInterval, readInterval));
    m_session.SetReadInterval(readInterval);

    // 7: the baud rate; no rate selected is a conversion error that ends here.
    const QString baudText = m_ui->cbxBaud->currentText();
    bool isNumber = false;
    const int baud = baudText.trimmed().toInt(&isNumber);
    if (!isNumber)
        throw OperatorError(NotAnIntegerText(baudText));
    noteWrite(store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyBaud, baud));
    m_session.SetBaud(baud);
    if (!batch.commit())
        m_writeError = store.lastError();

    // 8: an open port is reopened so the rate takes effect at once. An open
    // that fails throws: the port stays closed and the dialog stays open.
    if (m_session.IsPortOpen())
        m_session.ReopenPort();
}
