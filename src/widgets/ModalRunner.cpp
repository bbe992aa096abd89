#include "widgets/ModalRunner.h"

#include <QDialog>

namespace {
ModalHook &modalHook()
{
    static ModalHook hook;
    return hook;
}
} // namespace

int ShowModal(QDialog *dialog)
{
    if (const ModalHook &hook = modalHook())
        return hook(dialog);
    return dialog->exec();
}

void SetModalHook(ModalHook hook) { modalHook() = std::move(hook); }
