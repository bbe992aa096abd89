#include "parameters/ReadAllParamUnit.h"

#include "ui_ReadAllParamUnit.h"

#include "device/ModuleSession.h"
#include "device/Protocol.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QShowEvent>

namespace
{

QString RunningText()
{
    return QCoreApplication::translate("TfrmReadAllParam", "读取中，请稍候...");
}
QString FinishedText()
{
    return QCoreApplication::translate("TfrmReadAllParam", "参数读取结束");
}
QString StoppedText()
{
    return QCoreApplication::translate("TfrmReadAllParam", "读取已中断");
}
QString AbortCaption()
{
    return QCoreApplication::translate("TfrmReadAllParam", "中断(&A)");
}
QString FinishedCaption()
{
    return QCoreApplication::translate("TfrmReadAllParam", "确定(&O)");
}
QString StoppedCaption()
{
    return QCoreApplication::translate("TfrmReadAllParam", "退出(&E)");
}
QString ReadDoneText()
{
    return QCoreApplication::translate("TfrmReadAllParam", "读取成功！");
}
QString ReadTimedOutText()
{
    return QCoreApplication::translate("TfrmReadAllParam", "读取超时！");
}

} // namespace

TfrmReadAllParam::TfrmReadAllParam(ParameterWindows &windows, ModuleSession &session, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_session(session), m_ui(std::make_unique<Ui::TfrmReadAllParam>()),
      m_run(session.link())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    connect(m_ui->btnAbort, &QPushButton::clicked, this, &TfrmReadAllParam::btnAbortClick);
    connect(&m_run, &ParameterRun::codeDone, this, &TfrmReadAllParam::CodeDone);
    connect(&m_run, &ParameterRun::finished, this, &TfrmReadAllParam::RunFinished);
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
    m_windows.readAll = this;
}

TfrmReadAllParam::~TfrmReadAllParam()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    if (m_windows.readAll == this)
        m_windows.readAll = nullptr;
}

void TfrmReadAllParam::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmReadAllParam::FormShow()
{
    QCoreApplication::postEvent(this, new QEvent(WM_READALL_START));
}

bool TfrmReadAllParam::eventFilter(QObject *watched, QEvent *event)
{
    if (ApplicationEvents1Message(watched, event))
        return true;
    return QDialog::eventFilter(watched, event);
}

bool TfrmReadAllParam::ApplicationEvents1Message(QObject *receiver, QEvent *event)
{
    if (receiver != this || event->type() != WM_READALL_START)
        return false;
    RunReadAll();
    return true;
}

void TfrmReadAllParam::RunReadAll()
{
    if (m_inRun)
        return;
    m_inRun = true;
    m_ui->ListBox1->clear();
    m_ui->ProgressBar1->setRange(FirstGeneralParam, LastGeneralParam);
    m_ui->ProgressBar1->setValue(FirstGeneralParam);
    const DeviceAddress address = m_session.CurrentAddress();
    m_running = true;
    m_ui->Label1->setText(RunningText());
    m_ui->btnAbort->setText(AbortCaption());

    // Every code in turn, a time-out listed and passed over, a pause after
    // each code (where a click on the abort button ends the run).
    ParameterRun::Plan plan;
    plan.mode = ParameterRun::Mode::Read;
    plan.first = FirstGeneralParam;
    plan.last = LastGeneralParam;
    plan.pauseMs = DefaultPauseMs;
    m_run.start(address, std::move(plan));
}

void TfrmReadAllParam::CodeDone(CommandCode code, bool answered, std::int32_t value)
{
    const int row = ParameterCatalogue::IndexOf(code);
    const QString name = ParameterCatalogue::Name(row);
    // Only a reply from the module with this code is the parameter's value.
    if (answered) {
        m_ui->ListBox1->addItem(name + ReadDoneText());
        if (TfrmParam *list = m_windows.param)
            list->SetValueText(row, QString::number(value));
    } else {
        m_ui->ListBox1->addItem(name + ReadTimedOutText());
    }
    m_ui->ListBox1->setCurrentRow(m_ui->ListBox1->count() - 1);
    m_ui->ListBox1->scrollToBottom();
    QProgressBar *progress = m_ui->ProgressBar1;
    progress->setValue(qMin(progress->value() + 1, progress->maximum()));
}

void TfrmReadAllParam::RunFinished(ParameterRun::Ending ending, const QString &error)
{
    // The port went away (told elsewhere, once) or a write failed: the run
    // ends as stopped, so the window can be closed with its button.
    if (ending != ParameterRun::Ending::Completed)
        m_running = false;
    if (!error.isEmpty())
        Prompts().showError(this, error);
    if (m_running) {
        m_ui->Label1->setText(FinishedText());
        m_ui->btnAbort->setText(FinishedCaption());
    } else {
        m_ui->Label1->setText(StoppedText());
        m_ui->btnAbort->setText(StoppedCaption());
    }
    m_inRun = false;
    if (m_closePending) {
        m_closePending = false;
        QDialog::reject();
    }
}

void TfrmReadAllParam::btnAbortClick()
{
    m_running = false;
    m_run.stop();
    const QString caption = m_ui->btnAbort->text();
    if (caption == FinishedCaption() || caption == StoppedCaption())
        close();
}

void TfrmReadAllParam::reject()
{
    // The run goes on after a close request; the window closes when it ends.
    if (m_inRun) {
        m_closePending = true;
        return;
    }
    QDialog::reject();
}
