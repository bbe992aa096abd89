#include "app/AppWindows.h"
#include "app/MainUnit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppWindows::ConfigureApplication();

    // Settings live beside the executable.
    AppWindows windows(QApplication::applicationDirPath());
    windows.main()->show();
    return app.exec();
}
