#include "app/AppWindows.h"

#include "app/MainUnit.h"

AppWindows::AppWindows(const QString &settingsDir, int replyTimeoutMs)
{
    m_main = new TfrmMain(settingsDir, replyTimeoutMs);
    m_windows.push_back(m_main);
}

AppWindows::~AppWindows()
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        delete *it;
}
