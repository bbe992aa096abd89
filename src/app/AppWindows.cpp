#include "app/AppWindows.h"

#include "app/BuildInfo.h"
#include "app/Language.h"
#include "app/MainUnit.h"
#include "bustools/BusScanUnit.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "calibration/CalibrateUnit.h"
#include "io/SettingsKeys.h"
#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "settings/MqttPublishing.h"
#include "settings/MqttSettingsUnit.h"
#include "settings/SystemParamsUnit.h"
#include "watch/WatchUnit.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>
#include <QTimer>

namespace
{
/// Tells the operator what became of a settings file the program could not
/// use: kept aside under another name, or left as it is with the defaults
/// in force.
void TellSettingsFileProblem(QWidget *parent, const SettingsStore &settings)
{
    const QString file = QDir::toNativeSeparators(settings.filePath());
    if (!settings.keptAsidePath().isEmpty()) {
        Prompts().inform(
            parent,
            QCoreApplication::translate("AppWindows",
                                        "设置文件 %1 不是本程序能读取的设置文件：\n%2\n\n"
                                        "原文件已原样改名保存为 %3，程序使用默认设置并建立了新的设置文件。")
                .arg(file, settings.keptAsideReason(), QDir::toNativeSeparators(settings.keptAsidePath())));
        return;
    }
    switch (settings.fileProblem()) {
    case SettingsStore::FileProblem::None:
        return;
    case SettingsStore::FileProblem::NotRegular:
    case SettingsStore::FileProblem::Unreadable:
        Prompts().showError(
            parent, QCoreApplication::translate("AppWindows",
                                                "设置文件 %1 无法读取：\n%2\n\n"
                                                "本次运行使用默认设置；该文件保持原样，更改的设置不会保存。")
                        .arg(file, settings.fileProblemText()));
        return;
    case SettingsStore::FileProblem::TooLarge:
    case SettingsStore::FileProblem::Undecodable:
        Prompts().inform(parent, QCoreApplication::translate(
                                     "AppWindows",
                                     "设置文件 %1 不是本程序能读取的设置文件：\n%2\n\n"
                                     "本次运行使用默认设置；保存设置之前，原文件会原样改名保存在它旁边。")
                                     .arg(file, settings.fileProblemText()));
        return;
    }
}
} // namespace

void AppWindows::ConfigureApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Kelvarin"));
    QCoreApplication::setApplicationVersion(BuildInfo::Version());
    // Lets the desktop match the windows with the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(BuildInfo::ApplicationId());
    QApplication::setWindowIcon(QIcon::fromTheme(BuildInfo::ApplicationId()));
}

SettingsLocation::Choice AppWindows::LocateSettings()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString installedDir = QFileInfo(BuildInfo::InstalledProgramDir()).canonicalFilePath();
    const bool installed =
        !installedDir.isEmpty() && QFileInfo(programDir).canonicalFilePath() == installedDir;
    return SettingsLocation::Resolve(
        programDir, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation), !installed);
}

AppWindows::AppWindows(const QString &settingsDir, int replyTimeoutMs)
    : AppWindows(SettingsFile{QDir(settingsDir).filePath(SettingsKeys::FileName)}, replyTimeoutMs)
{
}

AppWindows::AppWindows(SettingsFile settings, int replyTimeoutMs)
    : m_settings(std::make_unique<SettingsStore>(settings.path)),
      m_session(std::make_unique<ModuleSession>(replyTimeoutMs))
{
    // The windows take their texts in the stored language as they are made.
    InstallTranslator(LanguageFromSettings(*m_settings));
    m_main = new TfrmMain(*m_session, *m_settings);
    m_windows.push_back(m_main);
    // The dialogs belong to the main window (centred on it, modal to it).
    m_calibrate = new TfrmCalibrate(*m_session, *m_settings, m_main->display(), m_main);
    m_windows.push_back(m_calibrate);
    m_windows.push_back(new TfrmParam(m_parameters, m_main));
    m_windows.push_back(new TfrmEditParam(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmReadAllParam(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmSpecialParams(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmPassword(m_parameters, m_main));
    m_systemParams = new TfrmSystemParams(*m_session, *m_settings, m_main->display(), m_main);
    m_windows.push_back(m_systemParams);
    // The main window publishes; the dialog sets where to.
    m_mqttSettings = new TfrmMqttSettings(m_main->mqtt(), *m_settings, m_main);
    m_windows.push_back(m_mqttSettings);
    // The bus tools, beside the main window (not modal).
    m_monitor = new TfrmProtocolMonitor(*m_session, m_main);
    m_windows.push_back(m_monitor);
    m_busScan = new TfrmBusScan(*m_session, m_main);
    m_windows.push_back(m_busScan);
    // The watch of several modules: its own window beside the main one.
    m_watch = new TfrmWatch(*m_session, *m_settings, m_main);
    m_windows.push_back(m_watch);
    QObject::connect(m_busScan, &TfrmBusScan::addToWatch, m_watch, &TfrmWatch::AddModules);
    PublishWatch(*m_watch, m_main->mqtt());
    m_main->setDialogs(
        {m_calibrate, m_systemParams, &m_parameters, m_monitor, m_busScan, m_mqttSettings, m_watch});
    // Told once the main window is up (the first events after it is shown).
    QTimer::singleShot(0, m_main, [main = m_main, settings = m_settings.get()] {
        TellSettingsFileProblem(main, *settings);
    });
}

void PublishWatch(TfrmWatch &watch, MqttPublishing &mqtt)
{
    MqttPublishing *publishing = &mqtt;
    QObject::connect(&watch, &TfrmWatch::moduleValueRead, publishing,
                     [publishing](int address, qint64 raw, int decimals, const QString &unit, qint64 ms) {
                         publishing->PublishValue(address, raw, decimals, unit, QDateTime::fromMSecsSinceEpoch(ms));
                     });
    QObject::connect(&watch, &TfrmWatch::channelComputed, publishing,
                     [publishing](const QString &name, double value, const QString &unit, qint64 ms) {
                         publishing->PublishChannel(name, value, unit, QDateTime::fromMSecsSinceEpoch(ms));
                     });
    QObject::connect(&watch, &TfrmWatch::alarmChanged, publishing,
                     [publishing](const QString &name, const QString &text, bool active, qint64 ms) {
                         publishing->PublishAlarm(name, text, active, QDateTime::fromMSecsSinceEpoch(ms));
                     });
}

AppWindows::~AppWindows()
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        delete *it;
}
