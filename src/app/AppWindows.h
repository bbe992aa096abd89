#pragma once
// The program's run: the settings file, the module session, and the
// windows created once in their fixed order (the main window first) and
// destroyed in reverse order at the end of the run.

#include "device/ModuleSession.h"
#include "io/SettingsLocation.h"
#include "io/SettingsStore.h"
#include "parameters/ParameterWindows.h"

#include <QString>

#include <memory>
#include <vector>

class QWidget;
class TfrmMain;
class TfrmBusScan;
class TfrmCalibrate;
class TfrmMqttSettings;
class TfrmProtocolMonitor;
class TfrmSystemParams;
class TfrmWatch;

class MqttPublishing;

/// Publishes what the watch reads, computes and alarms through `mqtt` (when publishing is on).
void PublishWatch(TfrmWatch &watch, MqttPublishing &mqtt);

class AppWindows
{
public:
    /// The settings file itself, wherever it lives (see LocateSettings()).
    struct SettingsFile {
        QString path;
    };

    /// `settingsDir` is the directory holding "Data.ini".
    explicit AppWindows(const QString &settingsDir, int replyTimeoutMs = DeviceLink::DefaultReplyTimeoutMs);
    explicit AppWindows(SettingsFile settings, int replyTimeoutMs = DeviceLink::DefaultReplyTimeoutMs);
    ~AppWindows();
    AppWindows(const AppWindows &) = delete;
    AppWindows &operator=(const AppWindows &) = delete;

    /// Names the application. It sets no display name: the window system
    /// would append one to every caption.
    static void ConfigureApplication();

    /// The settings file for this run: beside the executable where that
    /// directory takes files, else in the per-user configuration directory.
    /// A copy installed in the configured program directory (the package's
    /// "/usr/bin") keeps its settings per user even when it could write there.
    static SettingsLocation::Choice LocateSettings();

    ModuleSession &session() { return *m_session; }
    SettingsStore &settings() { return *m_settings; }
    TfrmMain *main() const { return m_main; }
    TfrmCalibrate *calibrate() const { return m_calibrate; }
    TfrmSystemParams *systemParams() const { return m_systemParams; }
    const ParameterWindows &parameters() const { return m_parameters; }
    TfrmProtocolMonitor *monitor() const { return m_monitor; }
    TfrmBusScan *busScan() const { return m_busScan; }
    TfrmMqttSettings *mqttSettings() const { return m_mqttSettings; }
    TfrmWatch *watch() const { return m_watch; }

private:
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ModuleSession> m_session;
    ParameterWindows m_parameters;
    TfrmMain *m_main = nullptr;
    TfrmCalibrate *m_calibrate = nullptr;
    TfrmSystemParams *m_systemParams = nullptr;
    TfrmProtocolMonitor *m_monitor = nullptr;
    TfrmBusScan *m_busScan = nullptr;
    TfrmMqttSettings *m_mqttSettings = nullptr;
    TfrmWatch *m_watch = nullptr;
    std::vector<QWidget *> m_windows; // in creation order
};
