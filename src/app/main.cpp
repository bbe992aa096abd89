#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("智能变送器数据采集软件 V140208"));
    label.show();
    return app.exec();
}
