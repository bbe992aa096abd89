#include "settings/MqttSettingsUnit.h"

#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "settings/MqttPublishing.h"
#include "ui_MqttSettingsUnit.h"
#include "widgets/Prompter.h"

#include <QShowEvent>

namespace Keys = SettingsKeys;

TfrmMqttSettings::TfrmMqttSettings(MqttPublishing &publishing, SettingsStore &settings, QWidget *parent)
    : QDialog(parent), m_publishing(publishing), m_settings(settings),
      m_ui(std::make_unique<Ui::TfrmMqttSettings>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_ui->speRate->setLimits(Keys::MqttRate.minimum, Keys::MqttRate.maximum);
    connect(m_ui->btnOK, &QPushButton::clicked, this, &TfrmMqttSettings::btnOKClick);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->btnBrowseCaFile, &QPushButton::clicked, this, &TfrmMqttSettings::btnBrowseCaFileClick);
    // The counters change without a signal: they are read again while the dialog is open.
    connect(&m_statusRefresh, &QTimer::timeout, this, &TfrmMqttSettings::ShowStatus);
    connect(&m_publishing, &MqttPublishing::stateChanged, this, [this] {
        if (isVisible())
            ShowStatus();
    });
}

TfrmMqttSettings::~TfrmMqttSettings() = default;

void TfrmMqttSettings::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    m_statusRefresh.start(StatusRefreshMs);
}

void TfrmMqttSettings::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        m_statusRefresh.stop();
}

void TfrmMqttSettings::FormShow()
{
    const MqttSettings s = MqttSettings::Read(m_settings);
    m_ui->ckbEnabled->setChecked(s.enabled);
    m_ui->edBroker->setText(s.broker);
    m_ui->edLine->setText(s.line);
    m_ui->edUser->setText(s.user);
    m_ui->edPassword->setText(s.password);
    m_ui->edCaFile->setText(s.caFile);
    m_ui->speRate->setClampedValue(s.rate);
    m_ui->ckbDiscovery->setChecked(s.discovery);
    ShowStatus();
}

void TfrmMqttSettings::ShowStatus()
{
    const MqttPublisher *publisher = m_publishing.publisher();
    if (!publisher) {
        m_ui->sttStatus->setText(tr("状态：%1").arg(m_publishing.StatusText()));
        return;
    }
    m_ui->sttStatus->setText(tr("状态：%1\n已发布 %2，丢弃 %3，限流替换 %4")
                                 .arg(publisher->statusText())
                                 .arg(publisher->publishedCount())
                                 .arg(publisher->droppedCount())
                                 .arg(publisher->throttledCount()));
}

MqttSettings TfrmMqttSettings::FromControls() const
{
    MqttSettings s;
    s.enabled = m_ui->ckbEnabled->isChecked();
    s.broker = m_ui->edBroker->text();
    s.line = m_ui->edLine->text();
    s.user = m_ui->edUser->text();
    s.password = m_ui->edPassword->text();
    s.caFile = m_ui->edCaFile->text();
    s.rate = m_ui->speRate->clampedValue();
    s.discovery = m_ui->ckbDiscovery->isChecked();
    return s;
}

void TfrmMqttSettings::btnOKClick()
{
    const MqttSettings entered = FromControls();
    // Refused rather than replaced by the default: the operator typed it.
    if (!MqttPublisher::parseBrokerUrl(entered.broker.trimmed())) {
        Prompts().showError(
            this, tr("服务器地址“%1”无效，应为 mqtt://主机:端口 或 mqtts://主机:端口。").arg(entered.broker));
        m_ui->edBroker->setFocus();
        return;
    }
    const MqttSettings settings = entered.Normalised();
    // A write that failed keeps its values in memory and is retried with the
    // next write; the operator still learns that the file does not hold them.
    if (!settings.Write(m_settings))
        Prompts().showError(this, tr("设置未能写入文件 Data.ini：") + m_settings.lastError());
    m_publishing.Apply(settings);
    accept();
}

void TfrmMqttSettings::btnBrowseCaFileClick()
{
    const QString file =
        Prompts().openFileName(this, tr("CA 证书 (*.pem *.crt);;所有文件 (*)"), QStringLiteral("pem"));
    if (!file.isEmpty())
        m_ui->edCaFile->setText(file);
}
