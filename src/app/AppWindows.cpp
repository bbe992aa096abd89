#include "app/AppWindows.h"

#include "app/MainUnit.h"
#include "calibration/CalibrateUnit.h"
#include "parameters/EditParamUnit.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "settings/SystemParamsUnit.h"

#include <QCoreApplication>

void AppWindows::ConfigureApplication() { QCoreApplication::setApplicationName(QStringLiteral("Kelvarin")); }

AppWindows::AppWindows(const QString &settingsDir, int replyTimeoutMs)
{
    m_main = new TfrmMain(settingsDir, replyTimeoutMs);
    m_windows.push_back(m_main);
    // The dialogs belong to the main window (centred on it, modal to it).
    m_windows.push_back(new TfrmCalibrate(m_main));
    m_windows.push_back(new TfrmParam(m_main));
    m_windows.push_back(new TfrmEditParam(m_main));
    m_windows.push_back(new TfrmReadAllParam(m_main));
    m_windows.push_back(new TfrmSpecialParams(m_main));
    m_windows.push_back(new TfrmPassword(m_main));
    m_windows.push_back(new TfrmSystemParams(m_main));
}

AppWindows::~AppWindows()
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        delete *it;
}
