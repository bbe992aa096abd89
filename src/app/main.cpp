#include "app/AppWindows.h"
#include "app/MainUnit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvarin"));
    QApplication::setApplicationDisplayName(QStringLiteral("智能变送器数据采集软件"));

    // Settings live beside the executable.
    AppWindows windows(QApplication::applicationDirPath());
    windows.main()->show();
    return app.exec();
}
