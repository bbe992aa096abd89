#pragma once
// The About box: the program's name, its version, what it is for, and the
// settings file in use, and the settings not saved in it during this run.
// Shown through Prompts(), so tests can read it.

#include <QString>
#include <QStringList>

class QWidget;

/// `unsaved`: "section/key" of the settings whose values are not in the file.
void ShowAbout(QWidget *parent, const QString &version, const QString &settingsPath,
               const QStringList &unsaved = {});
