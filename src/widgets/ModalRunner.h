#pragma once
// Shows the program's dialogs modally. Tests install a hook that drives the
// dialog instead of entering its modal loop.

#include <functional>

class QDialog;

/// Shows `dialog` modally and returns its result (QDialog::Accepted/Rejected).
int ShowModal(QDialog *dialog);

using ModalHook = std::function<int(QDialog *dialog)>;
/// Replaces the modal runner; an empty hook restores QDialog::exec().
void SetModalHook(ModalHook hook);
