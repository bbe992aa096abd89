#include "app/AboutBox.h"

#include "widgets/Prompter.h"

#include <QCoreApplication>
#include <QDir>

void ShowAbout(QWidget *parent, const QString &version, const QString &settingsPath,
               const QStringList &unsaved)
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
    // A failed write stays told here for the rest of the run, whatever was
    // written after it.
    const QString notSaved =
        unsaved.isEmpty() ? QString()
                          : QCoreApplication::translate("AboutBox", "\n\n设置未全部保存，文件中没有：\n%1")
                                .arg(unsaved.join(u'\n'));
    Prompts().about(parent, title, text + notSaved);
}
