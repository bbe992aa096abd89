#include "parameters/EditParamUnit.h"

#include "ui_EditParamUnit.h"

#include "device/ModuleSession.h"
#include "device/Protocol.h"
#include "parameters/IntegerText.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "widgets/Prompter.h"

#include <QCoreApplication>
#include <QLayout>
#include <QShowEvent>

namespace
{

QString ReadDoneText()
{
    return QCoreApplication::translate("TfrmEditParam", "读取成功！");
}
QString ReadTimedOutText()
{
    return QCoreApplication::translate("TfrmEditParam", "读取超时！");
}
QString WriteDoneText()
{
    return QCoreApplication::translate("TfrmEditParam", "写入成功！");
}
QString WriteTimedOutText()
{
    return QCoreApplication::translate("TfrmEditParam", "写入超时！");
}
QString BadEntryText()
{
    return QCoreApplication::translate("TfrmEditParam", "请检查输入的参数值！");
}

} // namespace

TfrmEditParam::TfrmEditParam(ParameterWindows &windows, ModuleSession &session, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_session(session), m_ui(std::make_unique<Ui::TfrmEditParam>()),
      m_run(session.link())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_ui->btnRead, &QPushButton::clicked, this, &TfrmEditParam::btnReadClick);
    connect(m_ui->btnWrite, &QPushButton::clicked, this, &TfrmEditParam::btnWriteClick);
    connect(&m_run, &ParameterRun::codeDone, this,
            [this](CommandCode, bool answered, std::int32_t value) { CodeDone(answered, value); });
    connect(&m_run, &ParameterRun::finished, this,
            [this](ParameterRun::Ending, const QString &error) { RunFinished(error); });
    m_windows.edit = this;
}

TfrmEditParam::~TfrmEditParam()
{
    if (m_windows.edit == this)
        m_windows.edit = nullptr;
}

void TfrmEditParam::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

QString TfrmEditParam::StatusText() const
{
    return m_ui->StatusBar1->currentMessage();
}

void TfrmEditParam::SetStatusText(const QString &text)
{
    m_ui->StatusBar1->showMessage(text);
}

void TfrmEditParam::FormShow()
{
    // The status bar keeps the result of the last operation, also from an
    // earlier showing.
    const TfrmParam *list = m_windows.param;
    const int row = list ? list->SelectedIndex() : -1;
    if (row >= 0) {
        setWindowTitle(list->RowCaption(row));
        m_ui->leParamValue->setText(list->ValueText(row));
    }
    m_ui->leParamValue->setFocus();
    m_ui->leParamValue->selectAll();
}

void TfrmEditParam::btnReadClick()
{
    const int row = m_windows.param ? m_windows.param->SelectedIndex() : -1;
    if (row < 0 || m_run.isRunning())
        return;
    m_row = row;
    m_writing = false;
    StartRun(ParameterRun::Mode::Read, 0);
}

void TfrmEditParam::btnWriteClick()
{
    const int row = m_windows.param ? m_windows.param->SelectedIndex() : -1;
    if (row < 0 || m_run.isRunning())
        return;
    const QString typed = m_ui->leParamValue->text();
    const std::optional<std::int32_t> value = ParseIntegerText(typed);
    if (!value) {
        Prompts().inform(this, BadEntryText());
        m_ui->leParamValue->setFocus();
        return;
    }
    m_row = row;
    m_writing = true;
    m_typed = typed;
    StartRun(ParameterRun::Mode::Write, *value);
}

void TfrmEditParam::StartRun(ParameterRun::Mode mode, std::int32_t value)
{
    const CommandCode code = ParameterCatalogue::Command(m_row);
    ParameterRun::Plan plan;
    plan.mode = mode;
    plan.first = code;
    plan.last = code;
    plan.value = [value](CommandCode) { return value; };
    // Both buttons stay disabled until the outcome is in, so a second click
    // cannot queue a second request behind the first.
    SetButtonsEnabled(false);
    m_run.start(m_session.CurrentAddress(), std::move(plan));
}

void TfrmEditParam::CodeDone(bool answered, std::int32_t value)
{
    const bool reading = !m_writing;
    // Only the reply from the module with this parameter's command code
    // counts: a poll reply or a late answer to another request is no value.
    if (!answered) {
        SetStatusText(reading ? ReadTimedOutText() : WriteTimedOutText());
        return;
    }
    const QString text = reading ? QString::number(value) : m_typed;
    SetStatusText(reading ? ReadDoneText() : WriteDoneText());
    if (TfrmParam *list = m_windows.param)
        list->SetValueText(m_row, text);
    if (reading)
        m_ui->leParamValue->setText(text);
}

void TfrmEditParam::RunFinished(const QString &error)
{
    SetButtonsEnabled(true);
    if (!error.isEmpty())
        Prompts().showError(this, error);
}

void TfrmEditParam::SetButtonsEnabled(bool enabled)
{
    m_ui->btnRead->setEnabled(enabled);
    m_ui->btnWrite->setEnabled(enabled);
}
