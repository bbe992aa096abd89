#pragma once
// Creates the program's windows once, in their fixed order (the main window
// first), and destroys them in reverse order at the end of the run.

#include "app/DeviceLink.h"

#include <QString>

#include <memory>
#include <vector>

class QWidget;
class TfrmMain;

class AppWindows
{
public:
    explicit AppWindows(const QString &settingsDir, int replyTimeoutMs = DeviceLink::DefaultReplyTimeoutMs);
    ~AppWindows();
    AppWindows(const AppWindows &) = delete;
    AppWindows &operator=(const AppWindows &) = delete;

    TfrmMain *main() const { return m_main; }

    /// Names the application. It sets no display name: the window system
    /// would append one to every caption.
    static void ConfigureApplication();

private:
    TfrmMain *m_main = nullptr;
    std::vector<QWidget *> m_windows; // in creation order
};
