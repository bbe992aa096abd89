#include "widgets/Prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>

namespace {
constexpr int AboutIconSize = 64;

Prompter g_dialogs;
Prompter *g_current = &g_dialogs;

bool ask(QWidget *parent, const QString &title, const QString &text, QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton yes)
{
    QMessageBox box(QMessageBox::Information, title, text, buttons, parent);
    return box.exec() == yes;
}

QString applicationTitle()
{
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QApplication::applicationName() : name;
}
} // namespace

bool Prompter::askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
}

bool Prompter::askOkCancel(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
}

void Prompter::inform(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

void Prompter::about(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (const QIcon icon = QApplication::windowIcon(); !icon.isNull())
        box.setIconPixmap(icon.pixmap(AboutIconSize));
    box.exec();
}

void Prompter::showError(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

QString Prompter::saveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString Prompter::openFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

Prompter &Prompts() { return *g_current; }

void SetPrompter(Prompter *prompter) { g_current = prompter ? prompter : &g_dialogs; }

QString UnknownErrorText()
{
    return QCoreApplication::translate("Prompter", "未知错误");
}
