#include "parameters/ReadAllParamUnit.h"

#include "ui_ReadAllParamUnit.h"

#include "device/ModuleSession.h"
#include "device/Pause.h"
#include "device/Protocol.h"
#include "io/OperatorError.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QShowEvent>

#include <exception>

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
    : QDialog(parent), m_windows(windows), m_session(session), m_ui(std::make_unique<Ui::TfrmReadAllParam>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    connect(m_ui->btnAbort, &QPushButton::clicked, this, &TfrmReadAllParam::btnAbortClick);
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
    m_inRun = true;
    m_ui->ListBox1->clear();
    m_ui->ProgressBar1->setRange(FirstGeneralParam, LastGeneralParam);
    m_ui->ProgressBar1->setValue(FirstGeneralParam);
    const DeviceAddress address = m_session.CurrentAddress();
    m_running = true;
    m_ui->Label1->setText(RunningText());
    m_ui->btnAbort->setText(AbortCaption());

    try {
        ReadAllCodes(address);
    } catch (const ReportedError &) {
        m_running = false; // the port went away; the operator is told elsewhere, once
    } catch (const std::exception &e) {
        // A failed write (the port is gone) ends the run as stopped, so the
        // window can be closed with its button.
        m_running = false;
        Prompts().showError(this, QString::fromStdString(e.what()));
    } catch (...) {
        m_running = false;
        Prompts().showError(this, UnknownErrorText());
    }

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

void TfrmReadAllParam::ReadAllCodes(DeviceAddress address)
{
    const bool portWasOpen = m_session.IsPortOpen();
    for (CommandCode code = FirstGeneralParam; code <= LastGeneralParam && m_running; ++code) {
        if (portWasOpen && !m_session.IsPortOpen()) {
            // The port went away during the run (the operator has been told
            // of it): the run ends as stopped instead of failing on every code.
            m_running = false;
            break;
        }
        const int row = ParameterCatalogue::IndexOf(code);
        const QString name = ParameterCatalogue::Name(row);
        // A reply with another command byte (a live-reading poll underneath)
        // is not this parameter's value: it counts like a time-out.
        if (m_session.link().ExchangeExpecting(BuildQueryFrame(address, code))) {
            m_ui->ListBox1->addItem(name + ReadDoneText());
            if (TfrmParam *list = m_windows.param)
                list->SetValueText(row, QString::number(m_session.reply().ReplyValue));
        } else {
            m_ui->ListBox1->addItem(name + ReadTimedOutText());
        }
        m_ui->ListBox1->setCurrentRow(m_ui->ListBox1->count() - 1);
        m_ui->ListBox1->scrollToBottom();
        QProgressBar *progress = m_ui->ProgressBar1;
        progress->setValue(qMin(progress->value() + 1, progress->maximum()));

        Pause(DefaultPauseMs);
        QCoreApplication::processEvents();
    }
}

void TfrmReadAllParam::btnAbortClick()
{
    m_running = false;
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
