#pragma once
// The dialog "MQTT 发布": whether and where the measured values are
// published (broker, line name, user, password, CA file, rate per module,
// Home Assistant discovery), with the publisher's state and counters,
// refreshed while the dialog is open. OK stores the [MQTT] settings and
// applies them at once (publishing starts, restarts or stops); Cancel or the
// close box leaves everything as it was.

#include <QDialog>
#include <QTimer>

#include <memory>

class MqttPublishing;
struct MqttSettings;
class SettingsStore;

namespace Ui
{
class TfrmMqttSettings;
}

class TfrmMqttSettings : public QDialog
{
    Q_OBJECT
public:
    static constexpr int StatusRefreshMs = 500;

    /// `publishing` and `settings` must outlive the dialog.
    TfrmMqttSettings(MqttPublishing &publishing, SettingsStore &settings, QWidget *parent = nullptr);
    ~TfrmMqttSettings() override;

    Ui::TfrmMqttSettings *ui() const { return m_ui.get(); }

public slots:
    /// Fills the controls from the stored settings.
    void FormShow();
    /// Stores and applies the settings, then closes the dialog. A broker
    /// address that is none is reported and leaves the dialog open.
    void btnOKClick();
    void btnBrowseCaFileClick();
    /// The publisher's state and counters into sttStatus.
    void ShowStatus();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    MqttSettings FromControls() const;

    MqttPublishing &m_publishing;
    SettingsStore &m_settings;
    std::unique_ptr<Ui::TfrmMqttSettings> m_ui;
    QTimer m_statusRefresh;
};
