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

/// Keeps both buttons disabled while an exchange waits, so a second click
/// cannot start a nested exchange on top of the first.
class ButtonsBusy
{
public:
    explicit ButtonsBusy(Ui::TfrmEditParam *ui) : m_ui(ui)
    {
        m_ui->btnRead->setEnabled(false);
        m_ui->btnWrite->setEnabled(false);
    }
    ~ButtonsBusy()
    {
        m_ui->btnRead->setEnabled(true);
        m_ui->btnWrite->setEnabled(true);
    }
    ButtonsBusy(const ButtonsBusy &) = delete;
    ButtonsBusy &operator=(const ButtonsBusy &) = delete;

private:
    Ui::TfrmEditParam *m_ui;
};

} // namespace

TfrmEditParam::TfrmEditParam(ParameterWindows &windows, ModuleSession &session, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_session(session), m_ui(std::make_unique<Ui::TfrmEditParam>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_ui->btnRead, &QPushButton::clicked, this, &TfrmEditParam::btnReadClick);
    connect(m_ui->btnWrite, &QPushButton::clicked, this, &TfrmEditParam::btnWriteClick);
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
    Guarded(this, [this] {
        const int row = m_windows.param ? m_windows.param->SelectedIndex() : -1;
        if (row < 0)
            return;
        const QueryFrame frame =
            BuildQueryFrame(m_session.CurrentAddress(), ParameterCatalogue::Command(row));
        ButtonsBusy busy(m_ui.get());
        // Only a reply carrying this parameter's command code is its value: a
        // poll reply that ends the wait is not shown as the parameter.
        if (m_session.link().ExchangeExpecting(frame)) {
            const QString text = QString::number(m_session.reply().ReplyValue);
            SetStatusText(ReadDoneText());
            if (TfrmParam *list = m_windows.param) // the exchange let events run
                list->SetValueText(row, text);
            m_ui->leParamValue->setText(text);
        } else {
            SetStatusText(ReadTimedOutText());
        }
    });
}

void TfrmEditParam::btnWriteClick()
{
    Guarded(this, [this] {
        const int row = m_windows.param ? m_windows.param->SelectedIndex() : -1;
        if (row < 0)
            return;
        const QString typed = m_ui->leParamValue->text();
        const std::optional<std::int32_t> value = ParseIntegerText(typed);
        if (!value) {
            Prompts().inform(this, BadEntryText());
            m_ui->leParamValue->setFocus();
            return;
        }
        const DataFrame frame =
            BuildDataFrame(m_session.CurrentAddress(), ParameterCatalogue::Command(row), *value);
        ButtonsBusy busy(m_ui.get());
        // An acknowledgement with another command byte answered some other
        // request: the write is not reported as done.
        if (m_session.link().ExchangeExpecting(frame)) {
            SetStatusText(WriteDoneText());
            if (TfrmParam *list = m_windows.param)
                list->SetValueText(row, typed);
        } else {
            SetStatusText(WriteTimedOutText());
        }
    });
}
