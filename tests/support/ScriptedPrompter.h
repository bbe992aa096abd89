#pragma once
// Answers the program's questions from a script and records every message,
// so tests never enter a modal loop.

#include "widgets/Prompter.h"

#include <QStringList>

class ScriptedPrompter : public Prompter
{
public:
    ScriptedPrompter() { SetPrompter(this); }
    ~ScriptedPrompter() override { SetPrompter(nullptr); }

    bool answerYes = true;   // askYesNo / askOkCancel
    QString saveName;        // saveFileName result ("" = cancel)
    QString openName;        // openFileName result ("" = cancel)

    QStringList questions;   // texts of the questions asked
    QStringList messages;    // inform() texts
    QStringList errors;      // showError() texts
    QStringList abouts;      // about() texts

    bool askYesNo(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return answerYes;
    }
    bool askOkCancel(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return answerYes;
    }
    void inform(QWidget *, const QString &text) override { messages << text; }
    void showError(QWidget *, const QString &text) override { errors << text; }
    void about(QWidget *, const QString &, const QString &text) override { abouts << text; }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return saveName; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return openName; }
};
