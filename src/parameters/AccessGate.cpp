#include "parameters/AccessGate.h"

#include "device/ModuleSession.h"
#include "parameters/ParamUnit.h"
#include "parameters/PasswordUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "widgets/ModalRunner.h"

void RunAccessGate(ParameterWindows &windows, ModuleSession &session)
{
    if (!windows.password || ShowModal(windows.password) != QDialog::Accepted)
        return;

    // The three tests run one after the other on the same text; the codes
    // differ, so at most one of them acts. Each looks the windows up anew:
    // the one shown before may have changed them.
    const QString code = EnteredCode;
    if (code == UserAccessCode && windows.param) {
        session.link().ReapplyFraming();
        windows.param->SetSpecialParamsEnabled(false);
        ShowModal(windows.param);
    }
    if (code == FactoryAccessCode && windows.param) {
        session.link().ReapplyFraming();
        windows.param->SetSpecialParamsEnabled(true);
        if (windows.special)
            windows.special->SetLockedFieldsEnabled(true);
        ShowModal(windows.param);
    }
    if (code == SpecialAccessCode && windows.special) {
        session.link().ReapplyFraming();
        windows.special->SetLockedFieldsEnabled(false);
        ShowModal(windows.special);
    }
}
