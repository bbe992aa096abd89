#include "app/AppWindows.h"

#include "app/MainUnit.h"
#include "settings/SystemParamsUnit.h"

AppWindows::AppWindows(const QString &settingsDir, int replyTimeoutMs)
{
    m_main = new TfrmMain(settingsDir, replyTimeoutMs);
    m_windows.push_back(m_main);
    m_windows.push_back(new TfrmSystemParams(m_main));
}

AppWindows::~AppWindows()
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        delete *it;
}
