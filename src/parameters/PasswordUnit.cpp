#include "parameters/PasswordUnit.h"

#include "ui_PasswordUnit.h"

#include <QKeyEvent>
#include <QShowEvent>

QString EnteredCode;

TfrmPassword::TfrmPassword(ParameterWindows &windows, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_ui(std::make_unique<Ui::TfrmPassword>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    m_ui->mskPassword->installEventFilter(this);
    connect(m_ui->btnOK, &QPushButton::clicked, this, &TfrmPassword::btnOKClick);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &TfrmPassword::btnCancelClick);
    m_windows.password = this;
}

TfrmPassword::~TfrmPassword()
{
    if (m_windows.password == this)
        m_windows.password = nullptr;
}

void TfrmPassword::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

bool TfrmPassword::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in the code field moves on to the next control rather than
    // confirming at once.
    if (watched == m_ui->mskPassword && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmPassword::FormShow()
{
    m_ui->mskPassword->clear();
    m_ui->mskPassword->setFocus();
}

void TfrmPassword::btnOKClick()
{
    EnteredCode = m_ui->mskPassword->text();
    accept();
}

void TfrmPassword::btnCancelClick()
{
    reject();
}
