#include "app/AboutBox.h"

#include "widgets/Prompter.h"

#include <QCoreApplication>
#include <QDir>

void ShowAbout(QWidget *parent, const QString &version, const QString &settingsPath)
{
    const QString title = QCoreApplication::translate("AboutBox", "关于智能变送器数据采集软件");
    const QString text =
        QCoreApplication::translate("AboutBox", "智能变送器数据采集软件\n"
                                                "版本 %1\n"
                                                "\n"
                                                "串口称重、测力变送器模块的读数、曲线、标定与参数设置。\n"
                                                "\n"
                                                "设置文件：\n"
                                                "%2")
            .arg(version, QDir::toNativeSeparators(settingsPath));
    Prompts().about(parent, title, text);
}
