#include "app/AppWindows.h"
#include "app/MainUnit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppWindows::ConfigureApplication();

    // Beside the executable where it can write there, else per user.
    const SettingsLocation::Choice settings = AppWindows::LocateSettings();
    if (!settings.problem.isEmpty())
        qWarning("Settings: %s; using \"%s\"", qUtf8Printable(settings.problem),
                 qUtf8Printable(settings.filePath));
    AppWindows windows(AppWindows::SettingsFile{settings.filePath});
    windows.main()->show();
    return app.exec();
}
