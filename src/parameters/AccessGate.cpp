#include "parameters/AccessGate.h"

#include "app/MainUnit.h"
#include "app/ModalRunner.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/SpecailParamsUnit.h"

namespace
{

void ReapplyReplyFraming()
{
    if (frmMain)
        frmMain->link().ReapplyFraming();
}

} // namespace

void RunAccessGate()
{
    if (!frmPassword || ShowModal(frmPassword) != QDialog::Accepted)
        return;

    // The three tests run one after the other on the same text; the codes
    // differ, so at most one of them acts.
    const QString code = EnteredCode;
    if (code == UserAccessCode && frmParam) {
        ReapplyReplyFraming();
        frmParam->SetSpecialParamsEnabled(false);
        ShowModal(frmParam);
    }
    if (code == FactoryAccessCode && frmParam) {
        ReapplyReplyFraming();
        frmParam->SetSpecialParamsEnabled(true);
        if (frmSpecialParams)
            frmSpecialParams->SetLockedFieldsEnabled(true);
        ShowModal(frmParam);
    }
    if (code == SpecialAccessCode && frmSpecialParams) {
        ReapplyReplyFraming();
        frmSpecialParams->SetLockedFieldsEnabled(false);
        ShowModal(frmSpecialParams);
    }
}
