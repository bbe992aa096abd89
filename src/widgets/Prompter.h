#pragma once
// Every question and message the program puts to the operator goes through
// one Prompter, so tests can answer them without a modal loop.

#include "io/OperatorError.h"

#include <QString>

class QWidget;

class Prompter
{
public:
    virtual ~Prompter() = default;

    /// Information icon, Yes and No; true for Yes.
    virtual bool askYesNo(QWidget *parent, const QString &title, const QString &text);
    /// Information icon, OK and Cancel; true for OK.
    virtual bool askOkCancel(QWidget *parent, const QString &title, const QString &text);
    /// A plain message box with an OK button (results of parameter runs).
    virtual void inform(QWidget *parent, const QString &text);
    /// The About box: plain text the operator can select, with the program's icon.
    virtual void about(QWidget *parent, const QString &title, const QString &text);
    /// The standard error dialog for failures.
    virtual void showError(QWidget *parent, const QString &text);
    /// Save dialog; asks before overwriting. Empty when cancelled.
    virtual QString saveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix);
    /// Open dialog. Empty when cancelled.
    virtual QString openFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix);
};

/// The prompter in use (the real dialogs unless a test installed another).
Prompter &Prompts();
/// Installs `prompter` (not owned); nullptr restores the real dialogs.
void SetPrompter(Prompter *prompter);

/// "未知错误", in the operator's language: a failure that says nothing of itself.
QString UnknownErrorText();

/// Runs a handler body; any failure ends the handler and is shown in the
/// standard error dialog. No exception ever leaves a slot.
template <typename Body> void Guarded(QWidget *parent, Body &&body)
{
    try {
        body();
    } catch (const ReportedError &) {
        // Already reported.
    } catch (const std::exception &e) {
        Prompts().showError(parent, QString::fromStdString(e.what()));
    } catch (...) {
        Prompts().showError(parent, UnknownErrorText());
    }
}
