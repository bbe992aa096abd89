#include "parameters/ReadAllParamUnit.h"

#include "ui_ReadAllParamUnit.h"

#include "app/MainUnit.h"
#include "app/Pause.h"
#include "app/Prompter.h"
#include "app/Protocol.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"

#include <QApplication>
#include <QShowEvent>

#include <exception>

TfrmReadAllParam *frmReadAllParam = nullptr;

namespace
{

const QString RunningText = QStringLiteral("读取中，请稍候...");
const QString FinishedText = QStringLiteral("参数读取结束");
const QString StoppedText = QStringLiteral("读取已中断");
const QString AbortCaption = QStringLiteral("中断(&A)");
const QString FinishedCaption = QStringLiteral("确定(&O)");
const QString StoppedCaption = QStringLiteral("退出(&E)");
const QString ReadDoneText = QStringLiteral("读取成功！");
const QString ReadTimedOutText = QStringLiteral("读取超时！");

} // namespace

TfrmReadAllParam::TfrmReadAllParam(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TfrmReadAllParam>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    connect(m_ui->btnAbort, &QPushButton::clicked, this, &TfrmReadAllParam::btnAbortClick);
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
    frmReadAllParam = this;
}

TfrmReadAllParam::~TfrmReadAllParam()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    if (frmReadAllParam == this)
        frmReadAllParam = nullptr;
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
    const DeviceAddress address = frmMain ? frmMain->CurrentAddress() : BroadcastAddress;
    m_running = true;
    m_ui->Label1->setText(RunningText);
    m_ui->btnAbort->setText(AbortCaption);

    try {
        ReadAllCodes(address);
    } catch (const ReportedError &) {
        m_running = false; // the port went away; the main window tells the operator
    } catch (const std::exception &e) {
        // A failed write (the port is gone) ends the run as stopped, so the
        // window can be closed with its button.
        m_running = false;
        Prompts().showError(this, QString::fromStdString(e.what()));
    } catch (...) {
        m_running = false;
        Prompts().showError(this, QStringLiteral("未知错误"));
    }

    if (m_running) {
        m_ui->Label1->setText(FinishedText);
        m_ui->btnAbort->setText(FinishedCaption);
    } else {
        m_ui->Label1->setText(StoppedText);
        m_ui->btnAbort->setText(StoppedCaption);
    }
    m_inRun = false;
    if (m_closePending) {
        m_closePending = false;
        QDialog::reject();
    }
}

void TfrmReadAllParam::ReadAllCodes(DeviceAddress address)
{
    const bool portWasOpen = frmMain && frmMain->IsPortOpen();
    for (CommandCode code = FirstGeneralParam; code <= LastGeneralParam && m_running; ++code) {
        if (portWasOpen && !frmMain->IsPortOpen()) {
            // The port went away during the run (the main window has reported
            // it): the run ends as stopped instead of failing on every code.
            m_running = false;
            break;
        }
        const int row = ParameterCatalogue::IndexOf(code);
        const QString name = ParameterCatalogue::Name(row);
        // A reply with another command byte (a live-reading poll underneath)
        // is not this parameter's value: it counts like a time-out.
        if (frmMain && frmMain->link().ExchangeExpecting(BuildQueryFrame(address, code))) {
            m_ui->ListBox1->addItem(name + ReadDoneText);
            if (frmParam)
                frmParam->SetValueText(row, QString::number(frmMain->reply().ReplyValue));
        } else {
            m_ui->ListBox1->addItem(name + ReadTimedOutText);
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
    if (caption == FinishedCaption || caption == StoppedCaption)
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
