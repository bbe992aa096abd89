#include "app/AppWindows.h"

#include "app/MainUnit.h"
#include "calibration/CalibrateUnit.h"
#include "io/SettingsKeys.h"
#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "settings/SystemParamsUnit.h"

#include <QCoreApplication>
#include <QDir>

void AppWindows::ConfigureApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Kelvarin"));
}

AppWindows::AppWindows(const QString &settingsDir, int replyTimeoutMs)
    : m_settings(std::make_unique<SettingsStore>(QDir(settingsDir).filePath(SettingsKeys::FileName))),
      m_session(std::make_unique<ModuleSession>(replyTimeoutMs))
{
    m_main = new TfrmMain(*m_session, *m_settings);
    m_windows.push_back(m_main);
    // The dialogs belong to the main window (centred on it, modal to it).
    m_calibrate = new TfrmCalibrate(*m_session, *m_settings, m_main);
    m_windows.push_back(m_calibrate);
    m_windows.push_back(new TfrmParam(m_parameters, m_main));
    m_windows.push_back(new TfrmEditParam(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmReadAllParam(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmSpecialParams(m_parameters, *m_session, m_main));
    m_windows.push_back(new TfrmPassword(m_parameters, m_main));
    m_systemParams = new TfrmSystemParams(*m_session, *m_settings, m_main);
    m_windows.push_back(m_systemParams);
    m_main->setDialogs({m_calibrate, m_systemParams, &m_parameters});
}

AppWindows::~AppWindows()
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        delete *it;
}
