#include "app/MainUnit.h"

#include "settings/MqttPublishing.h"
#include "settings/MqttSettingsUnit.h"
#include "ui_MainUnit.h"
#include "widgets/ModalRunner.h"

#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

// The main window's part in publishing to the MQTT broker: every value it
// shows from a reply goes to the publisher (which only queues, so a broker
// that is away never holds up reading), the menu item opens the settings,
// and the status bar shows the connection while publishing is on.

void TfrmMain::SetUpMqtt()
{
    // The menu item follows the bus tools.
    m_popupMenu1->addAction(tr("MQTT 发布(&Q)..."), this, &TfrmMain::mnuMqttClick)
        ->setObjectName(QStringLiteral("mnuMqtt"));

    m_mqttState = new QLabel(this);
    m_mqttState->setObjectName(QStringLiteral("sttMqtt"));
    m_mqttState->setVisible(false);
    m_ui->StatusBar1->addPermanentWidget(m_mqttState);

    m_mqtt = std::make_unique<MqttPublishing>();
    connect(m_mqtt.get(), &MqttPublishing::stateChanged, this, &TfrmMain::ShowMqttState);
    connect(&m_session, &ModuleSession::valueRead, this, &TfrmMain::PublishValue);
    m_mqtt->Apply(MqttSettings::Read(m_settings));
}

void TfrmMain::PublishValue()
{
    if (!m_mqtt->IsEnabled())
        return;
    // The session has followed the reply: its address is the replying module's.
    m_mqtt->PublishValue(CurrentAddress(), reply().ReplyValue, current().Decimal, current().MeasureUnit,
                         QDateTime::currentDateTime());
}

void TfrmMain::ShowMqttState()
{
    m_mqttState->setVisible(m_mqtt->IsEnabled());
    m_mqttState->setText(m_mqtt->IsConnected() ? tr("MQTT：已连接") : tr("MQTT：未连接"));
    m_mqttState->setToolTip(m_mqtt->StatusText());
}

void TfrmMain::mnuMqttClick()
{
    if (m_dialogs.mqttSettings)
        ShowModal(m_dialogs.mqttSettings);
}
