#pragma once
// The About box: the program's name, its version, what it is for, and the
// settings file in use. Shown through Prompts(), so tests can read it.

#include <QString>

class QWidget;

void ShowAbout(QWidget *parent, const QString &version, const QString &settingsPath);
